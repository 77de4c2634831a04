// Files for tests in the temporary folder. Names and paths are UTF-8 and
// every file call here takes the wide form, so a name in any script works;
// for plain ASCII names the ANSI calls of the code under test see the same
// path. A TempFile removes its file when it goes. No shared state.
#pragma once

#include "framework/CodePage.h"

#include <windows.h>

#include <string>
#include <vector>

inline std::string ToUtf8(const std::wstring& w) {
    std::string s;
    WideToNarrow(w.data(), static_cast<int>(w.size()), CP_UTF8, s);
    return s;
}

inline std::wstring ToWide(const std::string& s) {
    std::wstring w;
    NarrowToWide(s.data(), static_cast<int>(s.size()), CP_UTF8, w);
    return w;
}

// The temporary folder, with its trailing backslash.
inline std::string TempDir() {
    wchar_t dir[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, dir);
    return ToUtf8(dir);
}

inline std::string TempPath(const std::string& name) {
    return TempDir() + name;
}

// Replaces the file's content; false when it could not all be written.
inline bool WriteFileBytes(const std::string& path, const void* data, size_t cb) {
    HANDLE h =
        CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = cb == 0 || WriteFile(h, data, static_cast<DWORD>(cb), &written, nullptr);
    CloseHandle(h);
    return ok && written == cb;
}

inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    return WriteFileBytes(path, bytes.data(), bytes.size());
}

// The whole file, read while others may still write it; "<missing>" when it
// cannot be opened.
inline std::string ReadFileBytes(const std::string& path) {
    HANDLE h = CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    std::vector<char> buffer(65536);
    DWORD n = 0;
    while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0)
        out.append(buffer.data(), n);
    CloseHandle(h);
    return out;
}

class TempFile {
public:
    // Only the path: the code under test makes the file.
    explicit TempFile(const std::string& name) : m_path(TempPath(name)) {}
    TempFile(const std::string& name, const std::string& bytes) : TempFile(name) {
        WriteFileBytes(m_path, bytes);
    }
    TempFile(const std::string& name, const std::vector<char>& bytes) : TempFile(name) {
        WriteFileBytes(m_path, bytes.data(), bytes.size());
    }
    ~TempFile() { DeleteFileW(ToWide(m_path).c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* path() const { return m_path.c_str(); }

private:
    std::string m_path;
};
