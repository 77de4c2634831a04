// The job history through the real window: the worker and the "-" button
// record entries, the history window shows them newest first, follows new
// ones, and queues files again; the store's file is read back as a
// spreadsheet would.
#include "UiTestSupport.h"

#include "app/HistoryDlg.h"
#include "app/MorvaneDlg.h"
#include "app/resource.h"
#include "framework/Sync.h"
#include "support/DialogScript.h"
#include "support/RegistryFixture.h"

#include <commctrl.h>

#include <atomic>
#include <memory>

namespace {

class ScriptedHistoryDlg : public ScriptedDialog<ScriptedHistoryDlg, CHistoryDlg> {
public:
    using ScriptedDialog::ScriptedDialog;
    std::string Cell(int nRow, int nColumn) const { return ToUtf8(CellText(nRow, nColumn)); }
    void Select(const std::vector<int>& rows) {
        HWND hList = GetDlgItem(IDC_HISTORY_LIST);
        ListView_SetItemState(hList, -1, 0, LVIS_SELECTED);
        for (int row : rows)
            ListView_SetItemState(hList, row, LVIS_SELECTED, LVIS_SELECTED);
    }
    // A key typed into the list, through the dialog's keyboard handling.
    void Type(WPARAM vk) {
        HWND hList = GetDlgItem(IDC_HISTORY_LIST);
        SetFocus(hList);
        ::PostMessageA(hList, WM_KEYDOWN, vk, 0);
        ::PostMessageA(hList, WM_KEYUP, vk, 0xC0000001);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!m_hWnd || !IsDialogMessageA(m_hWnd, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
};

// The main window with its history in the test's folder; the history
// window runs the test's script.
class HistoryMainDlg : public ScriptedDialog<HistoryMainDlg, CMorvaneDlg> {
public:
    std::wstring m_folder;
    std::function<void(ScriptedHistoryDlg&)> m_historyScript;

    std::unique_ptr<CJobHistory> CreateHistory() override {
        return std::make_unique<CJobHistory>(m_folder);
    }
    INT_PTR RunHistoryDialog() override {
        ScriptedHistoryDlg dlg(
            *GetHistory(), [this](const std::vector<CQueuedJob>& jobs) { QueueAgain(jobs); }, this);
        dlg.SetStillQueued([this](const std::wstring& path) { return HoldsJobFor(path); });
        dlg.m_script = m_historyScript;
        return dlg.DoModal();
    }
    std::vector<std::pair<std::string, int>> Queue() {
        std::vector<std::pair<std::string, int>> jobs;
        CLock lock(GetJobList().GetListLock());
        for (int i = 0; i < GetJobList().GetCount(); ++i)
            jobs.emplace_back(GetJobList().GetAt(i)->m_strName.Str(),
                              GetJobList().GetAt(i)->m_nCopies);
        return jobs;
    }
};

class HistoryDlgTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        Clean();
        CreateDirectoryW(ToWide(m_folder).c_str(), nullptr);
    }
    void TearDown() override {
        Clean();
        RegistryTest::TearDown();
    }
    void Clean() {
        DeleteFileW(ToWide(m_folder + "\\history.csv").c_str());
        DeleteFileW(ToWide(m_folder + "\\history.1.csv").c_str());
        RemoveDirectoryW(ToWide(m_folder).c_str());
    }
    std::string m_folder = TempPath("morvane history window");
    RecordedBoxes m_boxes;
};

// Times show in the user's format; text that is no ISO 8601 time of the
// file shows as stored.
TEST(HistoryTimeText, IsTheUsersFormatOfAStoredTimeAndAnythingElseAsStored) {
    const std::wstring shown = CHistoryDlg::TimeText("2026-12-07T10:02:05");
    EXPECT_NE(shown.find(L"2026"), std::wstring::npos) << ToUtf8(shown);
    EXPECT_NE(shown.find(L"10:02"), std::wstring::npos) << ToUtf8(shown);
    EXPECT_EQ(shown.find(L"2026-12-07T"), std::wstring::npos) << ToUtf8(shown);
    for (const char* stored : {"", "yesterday", "2026-12-07 10:02:05", "2026-12-07T10:02:05Z",
                               "2026-13-07T10:02:05", "1200-01-01T00:00:00"})
        EXPECT_EQ(ToUtf8(CHistoryDlg::TimeText(stored)), stored);
}

// Three jobs printed, one removed with "-", one failed: five entries, newest
// first, after the one entry a previous run left whole (its torn last line
// is skipped); Queue Again (Enter) queues the two whose files exist and
// names the missing one; the window follows an entry made while it is open.
TEST_F(HistoryDlgTest, FiveJobsGiveFiveEntriesAndQueueAgainQueuesTheFilesThatExist) {
    TempFile a("history a.prn", std::string(3000, 'a'));
    TempFile b("history b.prn", "b");
    TempFile c("history c.prn", "c");
    TempFile d("history d.prn", "d");
    const std::string missing = TempPath("history gone\\x.prn");
    CHistoryEntry old;
    old.time = "2026-01-02T03:04:05";
    old.name = "old";
    old.path = a.path();
    old.copiesAsked = old.copiesSent = 1;
    old.output = "USB";
    old.result = "Printed";
    ASSERT_TRUE(WriteFileBytes(m_folder + "\\history.csv",
                               HistoryFileHeader() + EncodeCsvRecord(EntryFields(old)) +
                                   "\"2026-01-02T03:04:06\",\"torn\",\"C:\\"));
    {
        CJobList list;
        list.Add(CQueuedJob("a", a.path(), 2));
        list.Add(CQueuedJob("b", b.path(), 1));
        list.Add(CQueuedJob("d", d.path(), 3));
        list.Add(CQueuedJob("c", c.path(), 1));
        list.Add(CQueuedJob("x", missing.c_str(), 1));
    }
    HistoryMainDlg dlg;
    dlg.m_folder = ToWide(m_folder);
    dlg.m_historyScript = [&](ScriptedHistoryDlg& h) {
        ASSERT_TRUE(PumpUntil([&] { return h.GetRowCount() == 6; }));
        const std::vector<std::vector<std::string>> expected = {
            {"x", missing, "1", "0", "Null", "Failed: Print Job Failed", ""},
            {"c", c.path(), "1", "1", "Null", "Printed", ""},
            {"b", b.path(), "1", "1", "Null", "Printed", ""},
            {"a", a.path(), "2", "2", "Null", "Printed", ""},
            {"d", d.path(), "3", "0", "Null", "Removed: 3 copies left", ""},
            {"old", a.path(), "1", "1", "USB", "Printed", ""},
        };
        for (int row = 0; row < 6; ++row) {
            // The entry keeps ISO 8601; the list shows the user's format.
            EXPECT_EQ(h.EntryAtRow(row).time.size(), 19u) << h.EntryAtRow(row).time;
            EXPECT_NE(h.Cell(row, 0), h.EntryAtRow(row).time);
            for (int col = 1; col < kHistoryFields; ++col)
                EXPECT_EQ(h.Cell(row, col), expected[static_cast<size_t>(row)][col - 1])
                    << row << "," << col;
        }
        // Queue Again on x (failed, still queued, its file there again), a
        // and d, by Enter.
        CreateDirectoryW(ToWide(TempPath("history gone")).c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(missing, "x"));
        h.Select({0, 3, 4});
        h.Type(VK_RETURN);
        ASSERT_EQ(m_boxes.Texts().size(), 2u);
        EXPECT_EQ(m_boxes.Texts()[1],
                  "This job is still in the queue and was not queued again:\nx");
        EXPECT_EQ(dlg.Queue(),
                  (std::vector<std::pair<std::string, int>>{{"x", 1}, {"a", 2}, {"d", 3}}));
        DeleteFileW(ToWide(missing).c_str());
        RemoveDirectoryW(ToWide(TempPath("history gone")).c_str());
        // An entry while open comes in on top; the selection stays on its entries.
        CHistoryEntry late = old;
        late.name = "late";
        dlg.RecordHistory(late);
        EXPECT_TRUE(PumpUntil([&] { return h.GetRowCount() == 7; }));
        EXPECT_EQ(h.Cell(0, 1), "late");
        const HWND hList = h.GetDlgItem(IDC_HISTORY_LIST);
        EXPECT_EQ(ListView_GetNextItem(hList, -1, LVNI_SELECTED), 1);
        EXPECT_EQ(ListView_GetSelectedCount(hList), 3u);
        // A printed entry whose file is gone is named, not queued.
        late.name = "late gone";
        late.path = missing;
        dlg.RecordHistory(late);
        EXPECT_TRUE(PumpUntil([&] { return h.GetRowCount() == 8; }));
        h.Select({0});
        h.Type(VK_RETURN);
        ASSERT_EQ(m_boxes.Texts().size(), 3u);
        EXPECT_EQ(m_boxes.Texts()[2], "This file no longer exists and was not queued:\n" + missing);
        EXPECT_EQ(dlg.Queue().size(), 3u);
        // A click on a header sorts by its column, a second one the other
        // way; counts sort as numbers, equals newest first; an entry that
        // comes in takes its place.
        auto click = [&](int col) {
            NMLISTVIEW nm{};
            nm.hdr.hwndFrom = hList;
            nm.hdr.idFrom = IDC_HISTORY_LIST;
            nm.hdr.code = LVN_COLUMNCLICK;
            nm.iSubItem = col;
            ::SendMessageA(h.m_hWnd, WM_NOTIFY, IDC_HISTORY_LIST, reinterpret_cast<LPARAM>(&nm));
        };
        auto names = [&] {
            std::string s;
            for (int r = 0; r < h.GetRowCount(); ++r)
                s += h.Cell(r, 1) + "|";
            return s;
        };
        const struct {
            int col;
            const char* names;
        } sorts[] = {
            {1, "a|b|c|d|late|late gone|old|x|"}, {1, "x|old|late gone|late|d|c|b|a|"},
            {3, "late gone|late|x|c|b|old|a|d|"}, {3, "d|a|late gone|late|x|c|b|old|"},
            {1, "a|b|c|d|late|late gone|old|x|"},
        };
        for (const auto& sort : sorts) {
            click(sort.col);
            EXPECT_EQ(names(), sort.names) << sort.col;
        }
        late.name = "bb";
        dlg.RecordHistory(late);
        EXPECT_TRUE(PumpUntil([&] { return h.GetRowCount() == 9; }));
        EXPECT_EQ(names(), "a|b|bb|c|d|late|late gone|old|x|");
        // Resizable: the list follows the window.
        RECT before{}, after{}, window{};
        GetClientRect(hList, &before);
        GetWindowRect(h.m_hWnd, &window);
        SetWindowPos(h.m_hWnd, nullptr, 0, 0, window.right - window.left + 100,
                     window.bottom - window.top + 50, SWP_NOMOVE | SWP_NOZORDER);
        GetClientRect(hList, &after);
        EXPECT_EQ(after.right - before.right, 100);
        EXPECT_EQ(after.bottom - before.bottom, 50);
        h.Type(VK_ESCAPE);
        EXPECT_FALSE(IsWindowVisible(h.m_hWnd));
    };
    dlg.m_script = [&](HistoryMainDlg& m) {
        HWND hList = m.GetDlgItem(IDC_JOB_LIST);
        SendMessageA(hList, LB_SETCURSEL, 2, 0);
        SendMessageA(m.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_JOB_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(hList));
        ClickButton(m.m_hWnd, IDC_REMOVE_JOB);
        ClickButton(m.m_hWnd, IDC_START_STOP);
        ASSERT_TRUE(PumpUntil([&] { return !m_boxes.Texts().empty(); }));
        EXPECT_EQ(m_boxes.Texts()[0], "Print Job Failed");
        char text[64] = "";
        GetMenuStringA(GetSystemMenu(m.m_hWnd, FALSE), IDM_JOB_HISTORY, text, sizeof(text),
                       MF_BYCOMMAND);
        EXPECT_STREQ(text, "Job &History...");
        SendMessageA(m.m_hWnd, WM_SYSCOMMAND, IDM_JOB_HISTORY, 0);
    };
    ASSERT_NE(dlg.DoModal(), -1) << kNoDisplayMessage;

    // What the file says once the window has closed: the old entry, the
    // five, the three late ones; the torn line is gone. The file keeps ISO
    // 8601 times.
    const auto entries = DecodeHistory(ReadFileBytes(m_folder + "\\history.csv"));
    ASSERT_EQ(entries.size(), 9u);
    const char* results[] = {"Printed", "Removed: 3 copies left",   "Printed", "Printed",
                             "Printed", "Failed: Print Job Failed", "Printed", "Printed",
                             "Printed"};
    EXPECT_EQ(entries[8].time, "2026-01-02T03:04:05");
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].result, results[i]) << i;
    EXPECT_EQ(entries[2].name, "a");
}

// A history that cannot be written: every job still prints, and the user is
// told once.
TEST_F(HistoryDlgTest, AHistoryThatCannotBeWrittenStopsNoJobAndIsToldOnce) {
    TempFile blocker("history blocker", "x");
    TempFile file("history job.prn", "data");
    {
        CJobList list;
        for (int i = 0; i < 3; ++i)
            list.Add(CQueuedJob("job", file.path(), 2));
    }
    HistoryMainDlg dlg;
    dlg.m_folder = ToWide(std::string(blocker.path()) + "\\sub");
    dlg.m_script = [&](HistoryMainDlg& m) {
        ClickButton(m.m_hWnd, IDC_START_STOP);
        EXPECT_TRUE(PumpUntil([&] { return m.GetJobList().GetCount() == 0; }));
        EXPECT_TRUE(PumpUntil([&] { return !m_boxes.Texts().empty(); }));
        PumpUntil([] { return false; }, 200);
    };
    ASSERT_NE(dlg.DoModal(), -1) << kNoDisplayMessage;
    ASSERT_EQ(m_boxes.Texts().size(), 1u);
    EXPECT_EQ(m_boxes.Texts()[0].rfind("The job history cannot be written", 0), 0u);
}

// The files are read on a thread of the window's own: while the store is
// busy (its writer held in the failure handler) the window answers; one
// closed before the read ends is left alone by it. A page count that comes
// while the window is open fills its job's row.
TEST_F(HistoryDlgTest, TheWindowAnswersWhileTheFilesAreReadAndFoldsAPageCountIntoItsRow) {
    TempFile blocker("history blocker", "x");
    CJobHistory history(ToWide(std::string(blocker.path()) + "\\sub"));
    HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto bLeft = std::make_shared<std::atomic<bool>>(false);
    history.SetFailureHandler([=](const std::string&) {
        SetEvent(entered);
        WaitForSingleObject(release, 5000);
        *bLeft = true;
    });
    CHistoryEntry printed;
    printed.time = "2026-01-02T03:04:05";
    printed.name = "counted";
    printed.result = "Printed";
    printed.pageToken = 3;
    history.Record(printed);
    ASSERT_EQ(WaitForSingleObject(entered, 5000), WAIT_OBJECT_0);
    for (bool bWaitForRead : {false, true}) {
        ScriptedHistoryDlg dlg(history, nullptr);
        dlg.m_script = [&](ScriptedHistoryDlg& h) {
            EXPECT_FALSE(*bLeft) << "the window waited for the store";
            EXPECT_EQ(h.GetRowCount(), 0);
            if (bWaitForRead) {
                SetEvent(release);
                ASSERT_TRUE(PumpUntil([&] { return h.GetRowCount() == 1; }));
                history.SetPages(3, 5);
                EXPECT_TRUE(PumpUntil([&] { return h.Cell(0, 7) == "5"; }));
                EXPECT_EQ(h.GetRowCount(), 1);
                EXPECT_EQ(h.Cell(0, 6), "Printed");
            }
            h.Type(VK_ESCAPE);
        };
        ASSERT_NE(dlg.DoModal(), -1) << kNoDisplayMessage;
    }
    history.Close();
    CloseHandle(entered);
    CloseHandle(release);
}

} // namespace
