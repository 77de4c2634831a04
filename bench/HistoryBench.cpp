// Measuring tool for bench/history_open.sh (not a test).
//
//   HistoryBench open ENTRIES
//       Writes a history of ENTRIES entries into a folder of its own in the
//       temporary folder, then opens the history window on it and reports
//       the time from the call until the window is up with its first rows
//       painted, the rows it shows, and the process's memory then. Removes
//       the folder afterwards.
//   HistoryBench menu
//       Picks "Job History..." in the system menu of the program's window
//       (for the README's screenshot).
#include "app/HistoryDlg.h"
#include "history/HistoryTexts.h"
#include "app/resource.h"
#include "framework/CodePage.h"

#include <commctrl.h>
#include <psapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
double Seconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

class TimedHistoryDlg : public CHistoryDlg {
public:
    using CHistoryDlg::CHistoryDlg;
    static constexpr UINT WM_MEASURE = WM_APP + 0x300;
    double m_tShown = 0;
    BOOL OnInitDialog() override {
        const BOOL b = CHistoryDlg::OnInitDialog();
        PostMessage(WM_MEASURE);
        return b;
    }

protected:
    BOOL OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        if (message != WM_MEASURE)
            return CHistoryDlg::OnMessageMap(message, wParam, lParam, lResult);
        // Shown and painted, rows included, before the clock stops.
        ShowWindow(m_hWnd, SW_SHOW);
        UpdateWindow(m_hWnd);
        UpdateWindow(GetDlgItem(IDC_HISTORY_LIST));
        m_tShown = Seconds();
        EndDialog(IDCANCEL);
        lResult = 0;
        return TRUE;
    }
};
} // namespace

namespace {
BOOL CALLBACK PickHistory(HWND hWnd, LPARAM pFound) {
    char title[128] = "";
    GetWindowTextA(hWnd, title, sizeof(title));
    if (strncmp(title, "Tolvar Morvane", 14) != 0)
        return TRUE;
    PostMessageA(hWnd, WM_SYSCOMMAND, IDM_JOB_HISTORY, 0);
    *reinterpret_cast<bool*>(pFound) = true;
    return FALSE;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "menu") == 0) {
        bool found = false;
        for (int i = 0; i < 200 && !found; ++i) {
            EnumWindows(PickHistory, reinterpret_cast<LPARAM>(&found));
            if (!found)
                Sleep(50);
        }
        return found ? 0 : 1;
    }
    if (argc < 3 || strcmp(argv[1], "open") != 0) {
        fprintf(stderr, "usage: HistoryBench open ENTRIES\n");
        return 2;
    }
    const int n = atoi(argv[2]);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);

    wchar_t tmp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring folder = std::wstring(tmp) + L"morvane-history-bench";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\history.csv";
    {
        std::string text = HistoryFileHeader();
        CHistoryEntry e;
        e.output = "192.168.100.200";
        for (int i = 0; i < n; ++i) {
            char buf[64];
            snprintf(buf, sizeof(buf), "2026-12-07T%02d:%02d:%02d", i / 3600 % 24, i / 60 % 60,
                     i % 60);
            e.time = buf;
            e.name = "order-" + std::to_string(4711 + i) + ".zpl";
            e.path = "C:\\Labels\\Production line 3\\" + e.name;
            e.copiesAsked = 1 + i % 5;
            e.copiesSent = e.copiesAsked;
            e.result = i % 97 ? ResultPrinted() : ResultFailed("Print Job Failed");
            text += EncodeCsvRecord(EntryFields(e));
        }
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD w = 0;
        if (h == INVALID_HANDLE_VALUE ||
            !WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &w, nullptr)) {
            fprintf(stderr, "cannot write the history file\n");
            return 1;
        }
        CloseHandle(h);
        printf("history file: %d entries, %.1f MB\n", n, text.size() / 1048576.0);
    }

    int rc = 0;
    {
        CJobHistory history(folder);
        TimedHistoryDlg dlg(history, nullptr);
        const double t0 = Seconds();
        if (dlg.DoModal() == -1) {
            fprintf(stderr, "the window could not be created (no display?)\n");
            rc = 1;
        } else {
            printf("history window open with its rows painted: %.3f s (%d rows)\n",
                   dlg.m_tShown - t0, dlg.GetRowCount());
            PROCESS_MEMORY_COUNTERS pmc{};
            pmc.cb = sizeof(pmc);
            if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)))
                printf("memory with the history loaded: %.1f MB working set\n",
                       pmc.WorkingSetSize / 1048576.0);
        }
    }
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
    return rc;
}
