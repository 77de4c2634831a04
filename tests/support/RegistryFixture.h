// Tests that use the program's registry key start from a clean key and leave
// none behind. The key lives in the 32-bit view, as the program keeps it.
// The fixture owns the key for the test's life: made clean when the fixture
// is built and removed when it goes, whatever assertion failed on the way;
// a ProgramKey closes its handle the same way. Threads: the test's own.
#pragma once

#include "settings/ProgramKey.h"
#include "settings/RegistrySettings.h"

#include <gtest/gtest.h>
#include <windows.h>

inline const char* kProgramKey = kProgramKeyPath;

// Reads the program's settings as the program does (the per-user key where
// there is one), for a test that looks at stored values.
class SettingsReader : public CRegistrySettings {
public:
    BOOL Save() override { return FALSE; }
    BOOL Load() override { return FALSE; }
};

inline void DeleteProgramKey() {
    // The per-user copy a standard user's program keeps.
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Tolvar");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Tolvar");
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &h) ==
        ERROR_SUCCESS) {
        RegDeleteTreeA(h, "Tolvar");
        RegCloseKey(h);
    }
}

// Raw access to the program's key (a section of it, made when missing),
// bypassing the code under test; null when it cannot be opened.
class ProgramKey {
public:
    explicit ProgramKey(const char* section) {
        std::string path = kProgramKey;
        if (section && *section)
            path += std::string("\\") + section;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &m_h,
                            nullptr) != ERROR_SUCCESS)
            m_h = nullptr;
    }
    ~ProgramKey() {
        if (m_h)
            RegCloseKey(m_h);
    }
    ProgramKey(const ProgramKey&) = delete;
    ProgramKey& operator=(const ProgramKey&) = delete;
    operator HKEY() const { return m_h; }

private:
    HKEY m_h = nullptr;
};

inline bool KeyExists(const char* section, REGSAM view = KEY_WOW64_32KEY) {
    std::string path = kProgramKey;
    if (section && *section)
        path += std::string("\\") + section;
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

inline void SetRawValue(const char* section, const char* name, DWORD type, const void* data,
                        DWORD cb) {
    const ProgramKey h(section);
    ASSERT_NE(static_cast<HKEY>(h), nullptr);
    ASSERT_EQ(RegSetValueExA(h, name, 0, type, static_cast<const BYTE*>(data), cb), ERROR_SUCCESS);
}

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() { DeleteProgramKey(); }
    ~RegistryTest() override {
        CRegistrySettings::SetMachineOpenHook(nullptr);
        DeleteProgramKey();
    }
};
