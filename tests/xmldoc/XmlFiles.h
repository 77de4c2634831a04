// Files for the XML document tests, named in UTF-8 and handled with the
// wide file functions; each TestFile removes its file when it goes.
#pragma once

#include "XmlTestUtil.h"

#include <windows.h>

#include <string>

inline std::string XmlTempDir() {
    wchar_t dir[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, dir);
    return ToUtf8(dir);
}

inline bool WriteFileBytes(const std::string& pathUtf8, const std::string& bytes) {
    HANDLE h =
        CreateFileW(ToWide(pathUtf8).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD cb = 0;
    BOOL ok =
        bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr);
    CloseHandle(h);
    return ok && cb == bytes.size();
}

inline std::string ReadFileBytes(const std::string& pathUtf8) {
    HANDLE h = CreateFileW(ToWide(pathUtf8).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[4096];
    DWORD cb = 0;
    while (ReadFile(h, buf, sizeof(buf), &cb, nullptr) && cb > 0)
        out.append(buf, cb);
    CloseHandle(h);
    return out;
}

class TestFile {
public:
    TestFile(const std::string& nameUtf8, const std::string& bytes)
        : m_path(XmlTempDir() + nameUtf8) {
        WriteFileBytes(m_path, bytes);
    }
    explicit TestFile(const std::string& nameUtf8) : m_path(XmlTempDir() + nameUtf8) {}
    ~TestFile() { DeleteFileW(ToWide(m_path).c_str()); }
    TestFile(const TestFile&) = delete;
    TestFile& operator=(const TestFile&) = delete;
    const char* path() const { return m_path.c_str(); }

private:
    std::string m_path;
};
