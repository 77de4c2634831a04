// Morvane.exe at two display scalings, as Wine sets them (LogPixels in the
// user's desktop settings, read when a process starts): the program's own
// window follows the DPI, rows and controls alike. Needs DISPLAY; runs
// alone, since every program started meanwhile would see the scaling.
#include "ProgramUnderTest.h"
#include "settings/SpoolerSetup.h"
#include "support/RegistryFixture.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

namespace {

using namespace program_under_test;

const int IDC_JOB_LIST = 1005;
const int IDC_SETUP = 1017;

struct Measured {
    int rowHeight = 0;
    SIZE setupButton{};
};

// Sets the user's LogPixels; the value there before, or none.
std::optional<DWORD> SetLogPixels(std::optional<DWORD> dpi) {
    HKEY h = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &h, nullptr);
    DWORD old = 0, cb = sizeof(old);
    const bool had = RegQueryValueExA(h, "LogPixels", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&old), &cb) == ERROR_SUCCESS;
    if (dpi)
        RegSetValueExA(h, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*dpi),
                       sizeof(DWORD));
    else
        RegDeleteValueA(h, "LogPixels");
    RegCloseKey(h);
    return had ? std::optional<DWORD>(old) : std::nullopt;
}

// Starts the program at this DPI, reads its window and closes it.
Measured MeasureAt(DWORD dpi) {
    const std::optional<DWORD> before = SetLogPixels(dpi);
    struct Restore {
        std::optional<DWORD> v;
        ~Restore() { SetLogPixels(v); }
    } restore{before};
    Measured m;
    const std::wstring exe = ToWide(ProgramPath());
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        ADD_FAILURE() << "the program did not start";
        return m;
    }
    HWND hWnd = nullptr;
    WaitFor(
        [&] {
            hWnd = FindWindowA("#32770", "Tolvar Morvane - Null");
            DWORD pid = 0;
            GetWindowThreadProcessId(hWnd, &pid);
            return hWnd && pid == pi.dwProcessId && IsWindowVisible(hWnd);
        },
        30000, 50);
    if (hWnd) {
        m.rowHeight =
            static_cast<int>(SendMessageA(GetDlgItem(hWnd, IDC_JOB_LIST), LB_GETITEMHEIGHT, 0, 0));
        RECT r{};
        GetWindowRect(GetDlgItem(hWnd, IDC_SETUP), &r);
        m.setupButton = {r.right - r.left, r.bottom - r.top};
        PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hWnd, IDOK)));
    } else {
        ADD_FAILURE() << "the program's window did not appear at " << dpi << " DPI";
    }
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return m;
}

class DpiTest : public RegistryTest {};

TEST_F(DpiTest, RowsAndControlsGrowWithTheDisplayScaling) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "DISPLAY must name a display";
    // This process reads other windows' sizes as they are, unscaled.
    SetProcessDPIAware();
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_NULL;
    setup.Save();

    const Measured at96 = MeasureAt(96);
    const Measured at144 = MeasureAt(144);
    ASSERT_GT(at96.rowHeight, 0);
    ASSERT_GT(at96.setupButton.cx, 0);
    // Half as large again, give or take the rounding of the font's metrics.
    const auto grown = [](int small, int large) {
        return large * 2 >= small * 3 - 4 && large * 2 <= small * 3 + 4;
    };
    EXPECT_TRUE(grown(at96.rowHeight, at144.rowHeight))
        << "row height " << at96.rowHeight << " -> " << at144.rowHeight;
    EXPECT_TRUE(grown(at96.setupButton.cx, at144.setupButton.cx))
        << "Setup width " << at96.setupButton.cx << " -> " << at144.setupButton.cx;
    EXPECT_TRUE(grown(at96.setupButton.cy, at144.setupButton.cy))
        << "Setup height " << at96.setupButton.cy << " -> " << at144.setupButton.cy;
}

} // namespace
