// Files for tests: made under the temp folder, removed with the object.
#pragma once

#include <windows.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

inline std::string TempPath(const std::string& name) {
    char dir[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

inline std::vector<char> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<char> out(n);
    for (auto& c : out)
        c = static_cast<char>(rng() & 0xFF);
    return out;
}

class TempFile {
public:
    TempFile(const std::string& name, const std::vector<char>& bytes) : m_path(TempPath(name)) {
        FILE* f = fopen(m_path.c_str(), "wb");
        if (f) {
            if (!bytes.empty())
                fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
    }
    ~TempFile() { DeleteFileA(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return m_path.c_str(); }

private:
    std::string m_path;
};

// Polls cond every few milliseconds for at most ms; true when it held.
template <typename Cond> bool WaitFor(Cond cond, DWORD ms = 10000) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!cond()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(5);
    }
    return true;
}
