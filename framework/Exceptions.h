// The framework's exceptions: an index out of range raises the
// invalid-argument exception, a failed allocation the out-of-memory one.
// They are thrown by value; the program catches neither.
#pragma once

#include <exception>

class CException : public std::exception {};

class CInvalidArgException : public CException {
public:
    const char* what() const noexcept override { return "invalid argument"; }
};

class CMemoryException : public CException {
public:
    const char* what() const noexcept override { return "out of memory"; }
};

[[noreturn]] void AfxThrowInvalidArgException();
[[noreturn]] void AfxThrowMemoryException();
