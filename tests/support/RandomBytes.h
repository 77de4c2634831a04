// Test payloads: n bytes drawn from a seed, the same bytes for the same seed
// on every run and machine. No shared state.
#pragma once

#include <random>
#include <vector>

inline std::vector<char> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<char> out(n);
    for (auto& c : out)
        c = static_cast<char>(rng() & 0xFF);
    return out;
}
