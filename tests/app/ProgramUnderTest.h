// The built program as the tests that start it as a process find it.
// MORVANE_EXE (set by the build) names the program built beside the test;
// MORVANE_EXE_UNDER_TEST (a Windows or Unix path) names another one to run,
// such as an installed one. Header-only; no state.
#pragma once

#include <cstdlib>
#include <string>

#ifndef MORVANE_EXE
#error "MORVANE_EXE names the program under test"
#endif

namespace program_under_test {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A Unix path as the Windows side of Wine sees it.
inline std::string WindowsPath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p) {
        if (c == '/')
            c = '\\';
    }
    return p;
}

// The program under test, as a Windows path.
inline std::string ProgramPath() {
    const std::string chosen = Env("MORVANE_EXE_UNDER_TEST");
    if (chosen.empty())
        return WindowsPath(MORVANE_EXE);
    return chosen[0] == '/' ? WindowsPath(chosen) : chosen;
}

} // namespace program_under_test
