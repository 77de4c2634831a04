// The test programs that link ProcessHeapNew.cpp allocate every C++ object
// on the process heap. A test can make the allocations of its own thread
// fail for a while, to see what the code under test does when memory runs
// out.
#pragma once

// Allocations of the constructing thread fail while it lives.
class CNoMemoryOnThisThread {
public:
    CNoMemoryOnThisThread();
    ~CNoMemoryOnThisThread();
    CNoMemoryOnThisThread(const CNoMemoryOnThisThread&) = delete;
    CNoMemoryOnThisThread& operator=(const CNoMemoryOnThisThread&) = delete;
};
