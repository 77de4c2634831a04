// Little-endian numbers in byte buffers: the stored and handed-over
// records' one way of writing and reading them. Plain functions.
#pragma once

#include <windows.h>

#include <vector>

// Appends the lowest `bytes` bytes of v, lowest first.
inline void PutLE(std::vector<BYTE>& out, unsigned long long v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// Reads `bytes` bytes at p, lowest first; the caller checks the length.
inline unsigned long long GetLE(const BYTE* p, int bytes) {
    unsigned long long v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}
