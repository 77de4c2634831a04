// IPageCountSource: one printer's own page counter and whether it is idle,
// read together in one question (the page count rule in
// printloop/PageCounter.h reads it before a job and after it).
// CPipePageCountSource (PipePrinter.h) reads them through the pipe
// component's IPrinterPageCounter, for a network printer.
//
// Threads: a source is made on the worker's thread and then used by one
// thread at a time, any thread inside a multithreaded apartment.
// Ownership: the source owns its reference to the component and its copy
// of the configuration document.
#pragma once

#include <cstdint>

class IPageCountSource {
public:
    virtual ~IPageCountSource() = default;
    // Asks the printer once (it may take a couple of seconds): true with its
    // counter and whether it said idle; false when it did not answer or has
    // no counter.
    virtual bool Read(uint64_t& nPages, bool& bIdle) = 0;
};
