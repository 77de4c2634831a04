// Morvane.exe at two display scalings, as Wine sets them (LogPixels in the
// user's desktop settings, read when a process starts): the window's rows
// and controls follow the DPI. Needs DISPLAY; runs alone, since every
// program started meanwhile would see the scaling.
#include "ProgramUnderTest.h"
#include "settings/SpoolerSetup.h"
#include "support/RegistryFixture.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <optional>
#include <string>

namespace {

// Sets the user's LogPixels (none: deleted); the value there before.
std::optional<DWORD> SetLogPixels(std::optional<DWORD> dpi) {
    HKEY h = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &h, nullptr);
    DWORD old = 0, cb = sizeof(old);
    const bool had = RegQueryValueExA(h, "LogPixels", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&old), &cb) == ERROR_SUCCESS;
    if (dpi)
        RegSetValueExA(h, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*dpi), 4);
    else
        RegDeleteValueA(h, "LogPixels");
    RegCloseKey(h);
    return had ? std::optional<DWORD>(old) : std::nullopt;
}

// The program started at this DPI: its job list's row height and its
// Setup button's width and height; then it is closed.
std::array<LONG, 3> MeasureAt(DWORD dpi) {
    struct Restore {
        std::optional<DWORD> v;
        ~Restore() { SetLogPixels(v); }
    } restore{SetLogPixels(dpi)};
    std::array<LONG, 3> m{};
    const std::wstring exe = ToWide(program_under_test::ProgramPath());
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return m;
    HWND hWnd = nullptr;
    WaitFor(
        [&] {
            DWORD pid = 0;
            hWnd = FindWindowA("#32770", "Tolvar Morvane - Null");
            GetWindowThreadProcessId(hWnd, &pid);
            return hWnd && pid == pi.dwProcessId && IsWindowVisible(hWnd);
        },
        30000, 50);
    RECT r{};
    GetWindowRect(GetDlgItem(hWnd, 1017), &r);
    m = {static_cast<LONG>(SendMessageA(GetDlgItem(hWnd, 1005), LB_GETITEMHEIGHT, 0, 0)),
         r.right - r.left, r.bottom - r.top};
    PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hWnd, IDOK)));
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return m;
}

class DpiTest : public RegistryTest {};

TEST_F(DpiTest, RowsAndControlsGrowWithTheDisplayScaling) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "DISPLAY must name a display";
    SetProcessDPIAware(); // other windows' sizes as they are, unscaled
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_NULL;
    setup.Save();
    const auto at96 = MeasureAt(96);
    const auto at144 = MeasureAt(144);
    const char* what[] = {"row height", "Setup width", "Setup height"};
    for (size_t i = 0; i < 3; ++i) {
        // Half as large again, give or take the rounding of the font's metrics.
        EXPECT_GT(at96[i], 0) << what[i] << ": no window at 96 DPI";
        EXPECT_NEAR(at144[i] * 2, at96[i] * 3, 4)
            << what[i] << " " << at96[i] << " -> " << at144[i];
    }
}

} // namespace
