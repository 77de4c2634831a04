// The main window driven through real messages: commands, drops, edits and
// selection changes go through the dialog procedure and its message map.
#include "UiTestSupport.h"

#include "intake/CommandLine.h"
#include "app/MorvaneDlg.h"
#include "app/resource.h"
#include "framework/Dpi.h"
#include "framework/Sync.h"
#include "printloop/PrintLoopThread.h"
#include "support/RegistryFixture.h"
#include "support/DialogScript.h"
#include "support/TempFiles.h"

#include "app/DisplayLock.h"

#include <commctrl.h>

#include <atomic>
#include <thread>

namespace {

const char* kRangeMessage = "Please enter an integer between 1 and 100000.";

// The main window, with a test script run inside its modal loop.
class ScriptedMorvaneDlg : public ScriptedDialog<ScriptedMorvaneDlg, CMorvaneDlg> {
public:
    int m_nSetupRuns = 0;
    INT_PTR m_nSetupResult = IDCANCEL;

    INT_PTR RunSetupDialog() override {
        ++m_nSetupRuns;
        return m_nSetupResult;
    }
    // "Watched Folder": OK at once, the settings unchanged.
    INT_PTR RunWatchedFolderDialog(CWatchedFolderSetup&) override { return IDOK; }

    HWND Item(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    int RowCount() const {
        return static_cast<int>(::SendMessageA(Item(IDC_JOB_LIST), LB_GETCOUNT, 0, 0));
    }
    int SelectedRow() const {
        return static_cast<int>(::SendMessageA(Item(IDC_JOB_LIST), LB_GETCURSEL, 0, 0));
    }
    // Name and copies of every queued job, in order.
    std::vector<std::pair<std::string, int>> Queue() {
        std::vector<std::pair<std::string, int>> jobs;
        CJobList& list = GetJobList();
        CLock lock(list.GetListLock());
        for (int i = 0; i < list.GetCount(); ++i) {
            CQueuedJob* pJob = list.GetAt(i);
            CLock jobLock(pJob->m_Lock);
            jobs.emplace_back(pJob->m_strName.Str(), pJob->m_nCopies);
        }
        return jobs;
    }
    void SetBusy(int nIndex, BOOL bBusy) {
        CQueuedJob* pJob = GetJobList().GetAt(nIndex);
        CLock lock(pJob->m_Lock);
        pJob->m_bBusy = bBusy;
    }
    void TypeCopies(const char* pszText) { SetDlgItemTextA(m_hWnd, IDC_COPIES, pszText); }
};

// Saves a queue of jobs (name, path, copies) as a previous run would have.
void SaveQueue(const std::vector<std::tuple<std::string, std::string, int>>& jobs) {
    CJobList list;
    for (const auto& [name, path, copies] : jobs)
        list.Add(CQueuedJob(name.c_str(), path.c_str(), copies));
}

class MorvaneDlgTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
        InitCommonControlsEx(&icc);
    }
    // Runs the window with the script; the window has been destroyed (and
    // the queue saved) when this returns. The window's result.
    INT_PTR Run(const std::function<void(ScriptedMorvaneDlg&)>& script) {
        ScriptedMorvaneDlg dlg;
        dlg.m_script = script;
        const INT_PTR result = dlg.DoModal();
        EXPECT_NE(result, -1) << kNoDisplayMessage;
        return result;
    }
    RecordedBoxes m_boxes;
};

TEST_F(MorvaneDlgTest, OpensWithSavedQueueStoppedAndCopiesOne) {
    SaveQueue({{"a.prn", "C:\\a.prn", 2}, {"b.prn", "C:\\b.prn", 3}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        EXPECT_EQ(dlg.RowCount(), 2);
        EXPECT_EQ(dlg.SelectedRow(), LB_ERR);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_START_STOP), "&Start");
        // No image is ever assigned, so the button must draw its text, not
        // an empty icon face.
        EXPECT_FALSE(GetWindowLongA(dlg.Item(IDC_START_STOP), GWL_STYLE) & BS_ICON);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), "1");
        EXPECT_EQ(dlg.GetCurrentCopies(), 1);
        EXPECT_TRUE(IsWindowEnabled(dlg.Item(IDC_REMOVE_JOB)));
        EXPECT_EQ(WindowText(dlg.m_hWnd), "Tolvar Morvane - Null");
        // The system menu carries the about box and the setup items.
        HMENU hMenu = GetSystemMenu(dlg.m_hWnd, FALSE);
        char text[64] = "";
        GetMenuStringA(hMenu, IDM_SETUP_SPOOLER, text, sizeof(text), MF_BYCOMMAND);
        EXPECT_STREQ(text, "Setup S&pooler...");
        GetMenuStringA(hMenu, IDM_ABOUTBOX, text, sizeof(text), MF_BYCOMMAND);
        EXPECT_STREQ(text, "&About Morvane...");
        // "-" without a selection does nothing.
        ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
        EXPECT_EQ(dlg.Queue().size(), 2u);
    });
    EXPECT_TRUE(m_boxes.Texts().empty());
}

// Moved to a monitor at 150 %: the window takes the rectangle the system
// suggests and its rows grow with the DPI.
TEST_F(MorvaneDlgTest, ADpiChangeTakesTheSuggestedRectangleAndScalesTheRows) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        const UINT dpi = GetWindowDpi(dlg.m_hWnd);
        RECT setup{};
        GetWindowRect(dlg.Item(IDC_SETUP), &setup);
        const int before =
            static_cast<int>(::SendMessageA(dlg.Item(IDC_JOB_LIST), LB_GETITEMHEIGHT, 0, 0));
        RECT suggested{40, 30, 40 + 800, 30 + 450};
        ::SendMessageA(dlg.m_hWnd, WM_DPICHANGED, MAKEWPARAM(dpi * 3 / 2, dpi * 3 / 2),
                       reinterpret_cast<LPARAM>(&suggested));
        RECT now{};
        GetWindowRect(dlg.m_hWnd, &now);
        EXPECT_TRUE(EqualRect(&now, &suggested));
        const int after =
            static_cast<int>(::SendMessageA(dlg.Item(IDC_JOB_LIST), LB_GETITEMHEIGHT, 0, 0));
        EXPECT_NEAR(after, before * 3 / 2, 1) << before << " -> " << after;
        // Without the system's scaling of dialogs (this test's process), the
        // window scales its controls itself.
        if (!SystemScalesDialogs()) {
            RECT now{};
            GetWindowRect(dlg.Item(IDC_SETUP), &now);
            EXPECT_NEAR(now.right - now.left, (setup.right - setup.left) * 3 / 2, 1);
            EXPECT_NEAR(now.bottom - now.top, (setup.bottom - setup.top) * 3 / 2, 1);
        }
    });
}

TEST_F(MorvaneDlgTest, DropsAppendInOrderWhateverIsSelectedAndNameAfterLastSeparator) {
    SaveQueue({{"first", "C:\\first.prn", 1}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        dlg.TypeCopies("4");
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 0);
        // Selecting the job shows its copies; type the count for new jobs.
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), "1");
        DropFiles(dlg.m_hWnd,
                  {"C:\\spool\\report.prn", "D:label.zpl", "plain", "E:\\dir\\sub:x.txt"});
        const auto q = dlg.Queue();
        ASSERT_EQ(q.size(), 5u);
        EXPECT_EQ(q[1].first, "report.prn");
        EXPECT_EQ(q[2].first, "label.zpl");
        EXPECT_EQ(q[3].first, "plain");
        EXPECT_EQ(q[4].first, "sub:x.txt");
        EXPECT_EQ(q[1].second, 1);
        EXPECT_EQ(dlg.RowCount(), 5);
        EXPECT_EQ(dlg.GetJobList().GetAt(2)->m_strPath, "D:label.zpl");
    });
    // The window saved the queue when it closed.
    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    ASSERT_EQ(saved.GetCount(), 5);
    EXPECT_STREQ(saved.GetAt(4)->m_strName, "sub:x.txt");
}

// A dropped name the queue cannot keep is told, not stored with "?" in it;
// the rest of the drop is queued.
TEST_F(MorvaneDlgTest, ADroppedNameOutsideTheCodePageIsToldNotQueuedAsAnother) {
    if (GetACP() == CP_UTF8) {
        GTEST_SKIP() << "every name fits this code page";
    }
    const std::wstring odd = ToWide(TempPath("")) + L"label \u0950\u4E2D.prn";
    ASSERT_TRUE(WriteFileBytes(ToUtf8(odd), "x"));
    TempFile plain("plain-drop.prn", "y");
    Run([&](ScriptedMorvaneDlg& dlg) {
        DropFilesW(dlg.m_hWnd, {odd, ToWide(plain.path())});
        PumpUntil([&] { return !m_boxes.Texts().empty(); });
        const auto q = dlg.Queue();
        ASSERT_EQ(q.size(), 1u);
        EXPECT_EQ(q[0].first, "plain-drop.prn");
    });
    ASSERT_EQ(m_boxes.Texts().size(), 1u);
    EXPECT_NE(m_boxes.Texts()[0].find("cannot keep"), std::string::npos);
    DeleteFileW(odd.c_str());
}

TEST_F(MorvaneDlgTest, RemoveTakesIdleSelectedJobOnlyAndSelectsTheNextRow) {
    SaveQueue({{"a", "C:\\a", 1}, {"b", "C:\\b", 7}, {"c", "C:\\c", 9}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        // A busy job stays, silently.
        dlg.SetBusy(0, TRUE);
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 0);
        ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
        EXPECT_EQ(dlg.Queue().size(), 3u);
        // Its copies cannot be changed either; the field changes.
        dlg.TypeCopies("55");
        EXPECT_EQ(dlg.Queue()[0].second, 1);
        EXPECT_EQ(dlg.GetCurrentCopies(), 55);

        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 1);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), "7");
        ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
        auto q = dlg.Queue();
        ASSERT_EQ(q.size(), 2u);
        EXPECT_EQ(q[1].first, "c");
        EXPECT_EQ(dlg.SelectedRow(), 1);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), "9");

        // Removing the last row leaves none selected and "-" disabled.
        ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
        EXPECT_EQ(dlg.Queue().size(), 1u);
        EXPECT_EQ(dlg.SelectedRow(), LB_ERR);
        EXPECT_FALSE(IsWindowEnabled(dlg.Item(IDC_REMOVE_JOB)));
        dlg.SetBusy(0, FALSE);
    });
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(MorvaneDlgTest, RowsActOnTheirOwnJobAndNothingOnceItIsGone) {
    SaveQueue({{"a", "C:\\a", 1}, {"b", "C:\\b", 2}, {"c", "C:\\c", 4}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 0);
        // The worker removed the head; the rows are not rebuilt yet, so row
        // 0 names a job that is gone.
        dlg.GetJobList().RemoveAt(0);
        dlg.TypeCopies("3");
        ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
        auto q = dlg.Queue();
        ASSERT_EQ(q.size(), 2u);
        EXPECT_EQ(q[0].second, 2);
        EXPECT_EQ(q[1].second, 4);
        // Row 2 still shows "c", now at index 1: commands act on "c".
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 2);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), "4");
        dlg.TypeCopies("8");
        q = dlg.Queue();
        EXPECT_EQ(q[0].second, 2);
        EXPECT_EQ(q[1].second, 8);
        ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
        q = dlg.Queue();
        ASSERT_EQ(q.size(), 1u);
        EXPECT_EQ(q[0].first, "b");
    });
}

TEST_F(MorvaneDlgTest, CopiesFieldValidatesAndChangesOnlyTheSelectedIdleJob) {
    SaveQueue({{"a", "C:\\a", 5}, {"b", "C:\\b", 6}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 1);
        for (const char* bad : {"0", "100001", "12a", "x", "-3"}) {
            m_boxes.Clear();
            dlg.TypeCopies(bad);
            const auto boxes = m_boxes.Texts();
            ASSERT_EQ(boxes.size(), 1u) << bad;
            EXPECT_TRUE(boxes[0] == kRangeMessage || boxes[0] == "Please enter an integer.")
                << boxes[0];
            EXPECT_EQ(dlg.Queue()[1].second, 6) << bad;
            EXPECT_EQ(dlg.GetCurrentCopies(), 6) << bad;
        }
        m_boxes.Clear();
        dlg.TypeCopies("0");
        EXPECT_EQ(m_boxes.Texts().at(0), kRangeMessage);
        m_boxes.Clear();
        dlg.TypeCopies("100000");
        EXPECT_TRUE(m_boxes.Texts().empty());
        EXPECT_EQ(dlg.Queue()[1].second, 100000);
        EXPECT_EQ(dlg.Queue()[0].second, 5);
        EXPECT_EQ(dlg.GetCurrentCopies(), 100000);
    });
}

// A count the window itself writes into the field is checked as a typed one:
// a job stored with a count out of range shows the range message when it is
// selected; the 0 the window writes while it starts shows nothing.
TEST_F(MorvaneDlgTest, SelectingAJobWithAStoredCountOutOfRangeShowsTheRangeMessage) {
    SaveQueue({{"none", "C:\\none", 0}, {"many", "C:\\many", 100001}, {"fine", "C:\\fine", 7}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        EXPECT_TRUE(m_boxes.Texts().empty());
        const std::pair<int, const char*> bad[] = {{0, "0"}, {1, "100001"}};
        for (const auto& [row, text] : bad) {
            m_boxes.Clear();
            SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, row);
            EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{kRangeMessage}) << text;
            EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), text);
        }
        m_boxes.Clear();
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 2);
        EXPECT_TRUE(m_boxes.Texts().empty());
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_COPIES), "7");
        // Nothing stored changed.
        EXPECT_EQ(dlg.Queue()[0].second, 0);
        EXPECT_EQ(dlg.Queue()[1].second, 100001);
    });
}

TEST_F(MorvaneDlgTest, CloseValidatesTheFieldFirst) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        dlg.TypeCopies("0");
        m_boxes.Clear();
        ClickButton(dlg.m_hWnd, IDOK);
        EXPECT_EQ(m_boxes.Texts().size(), 1u);
        EXPECT_TRUE(IsWindow(dlg.m_hWnd));
        dlg.TypeCopies("2");
        ClickButton(dlg.m_hWnd, IDOK);
        PumpMessages();
    });
}

TEST_F(MorvaneDlgTest, PlusInsertsBehindTheSelectionOrAppends) {
    TempFile file("morvane plus.prn", "data");
    ScriptedFileDialog picker(file.path());
    SaveQueue({{"head", "C:\\head", 1}, {"tail", "C:\\tail", 1}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        // Nothing selected: appended, named without extension, selected.
        dlg.TypeCopies("3");
        ClickButton(dlg.m_hWnd, IDC_ADD_JOB);
        auto q = dlg.Queue();
        ASSERT_EQ(q.size(), 3u);
        EXPECT_EQ(q[2].first, "morvane plus");
        EXPECT_EQ(q[2].second, 3);
        EXPECT_EQ(dlg.GetJobList().GetAt(2)->m_strPath, file.path());
        EXPECT_EQ(dlg.SelectedRow(), 2);

        // The busy head selected: the new job goes directly behind it.
        dlg.SetBusy(0, TRUE);
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 0);
        ClickButton(dlg.m_hWnd, IDC_ADD_JOB);
        q = dlg.Queue();
        ASSERT_EQ(q.size(), 4u);
        EXPECT_EQ(q[0].first, "head");
        EXPECT_EQ(q[1].first, "morvane plus");
        EXPECT_EQ(dlg.SelectedRow(), 1);
        dlg.SetBusy(0, FALSE);

        // An invalid field is reported; the job is still made.
        dlg.TypeCopies("abc");
        m_boxes.Clear();
        ClickButton(dlg.m_hWnd, IDC_ADD_JOB);
        EXPECT_EQ(dlg.Queue().size(), 5u);
        EXPECT_FALSE(m_boxes.Texts().empty());

        // Cancelled: nothing.
        picker.Answer("");
        ClickButton(dlg.m_hWnd, IDC_ADD_JOB);
        EXPECT_EQ(dlg.Queue().size(), 5u);
    });
    EXPECT_EQ(picker.m_nShown, 4);
}

TEST_F(MorvaneDlgTest, StartStopSpoolsTheQueueAndTogglesTheButton) {
    TempFile file("morvane start.prn", std::string(40000, 'x'));
    SaveQueue({{"one", file.path(), 2}, {"two", file.path(), 1}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        ClickButton(dlg.m_hWnd, IDC_START_STOP);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_START_STOP), "S&top");
        EXPECT_TRUE(dlg.GetPrintLoop()->IsRunning());
        // The null printer takes every copy; the rows follow the queue.
        EXPECT_TRUE(PumpUntil([&] { return dlg.GetJobList().GetCount() == 0; }));
        EXPECT_TRUE(PumpUntil([&] { return dlg.RowCount() == 0; }));
        ClickButton(dlg.m_hWnd, IDC_START_STOP);
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_START_STOP), "&Start");
        EXPECT_FALSE(dlg.GetPrintLoop()->IsRunning());
        // Stopped, a dropped job stays queued.
        DropFiles(dlg.m_hWnd, {file.path()});
        PumpUntil([] { return false; }, 300);
        EXPECT_EQ(dlg.GetJobList().GetCount(), 1);
    });
    EXPECT_TRUE(m_boxes.Texts().empty());
    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    EXPECT_EQ(saved.GetCount(), 1);
}

// The main window counting the worker's calls into it that come once its
// handle is gone (m_bGone is set by the test when the window was destroyed).
class OwnerCallsDlg : public ScriptedDialog<OwnerCallsDlg, CMorvaneDlg> {
public:
    HWND GetJobListBox() override {
        Note();
        return CMorvaneDlg::GetJobListBox();
    }
    void RequestRefreshJobList() override {
        Note();
        CMorvaneDlg::RequestRefreshJobList();
    }
    void RequestRepaintJobList() override {
        Note();
        CMorvaneDlg::RequestRepaintJobList();
    }
    void NotifyWorkerStopped() override {
        Note();
        CMorvaneDlg::NotifyWorkerStopped();
    }
    HWND GetMessageBoxOwner() override {
        Note();
        return CMorvaneDlg::GetMessageBoxOwner();
    }
    std::atomic<HWND> m_hSeen{nullptr};
    std::atomic<bool> m_bGone{false};
    std::atomic<int> m_nLateCalls{0};

private:
    void Note() {
        const HWND h = m_hSeen;
        if (m_bGone || (h && !IsWindow(h)))
            ++m_nLateCalls;
    }
};

// Closing the window while copies go out: the worker is stopped while the
// window still exists, and calls nothing of it afterwards, however long the
// object stays.
TEST_F(MorvaneDlgTest, WorkerCallsNothingOfTheWindowOnceItsHandleIsGone) {
    TempFile file("morvane many.prn", std::string(100, 'x'));
    SaveQueue({{"many", file.path(), 100000}});
    OwnerCallsDlg dlg;
    dlg.m_script = [&](OwnerCallsDlg& d) {
        d.m_hSeen = d.m_hWnd;
        ClickButton(d.m_hWnd, IDC_START_STOP);
        EXPECT_TRUE(PumpUntil([&] {
            CJobList& list = d.GetJobList();
            CLock lock(list.GetListLock());
            CQueuedJob* pJob = list.GetAt(0);
            CLock jobLock(pJob->m_Lock);
            return !pJob->m_strStatus.IsEmpty();
        }));
        PumpUntil([] { return false; }, 100);
        // The script's end closes the window mid-copy.
    };
    ASSERT_NE(dlg.DoModal(), -1) << kNoDisplayMessage;
    dlg.m_bGone = true;
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(dlg.m_nLateCalls.load(), 0);
}

// A long queue of short jobs: the worker asks for a rebuild after every
// job. However often it asks, one request at most waits in the window's
// queue, and the rows catch up with the queue, also when a request comes
// right after a rebuild.
TEST_F(MorvaneDlgTest, WorkerRefreshRequestsQueueOnceAndTheRowsCatchUp) {
    SaveQueue({{"a.prn", "C:\\a.prn", 1}, {"b.prn", "C:\\b.prn", 1}, {"c.prn", "C:\\c.prn", 1}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        // Takes the queued requests, counts them, and serves them.
        auto serveQueued = [&] {
            std::vector<MSG> queued;
            MSG msg;
            while (PeekMessageA(&msg, dlg.m_hWnd, CMorvaneDlg::WM_REFRESH_JOB_LIST,
                                CMorvaneDlg::WM_REFRESH_JOB_LIST, PM_REMOVE))
                queued.push_back(msg);
            for (const MSG& m : queued)
                DispatchMessageA(&m);
            return queued.size();
        };
        ASSERT_EQ(dlg.RowCount(), 3);

        dlg.GetJobList().RemoveAt(0);
        std::thread worker([&] {
            for (int i = 0; i < 1000; ++i)
                dlg.RequestRefreshJobList();
        });
        worker.join();
        EXPECT_EQ(serveQueued(), 1u);
        EXPECT_TRUE(PumpUntil([&] { return dlg.RowCount() == 2; }));

        // Right after a rebuild: served later, not lost.
        dlg.GetJobList().RemoveAt(0);
        dlg.RequestRefreshJobList();
        EXPECT_EQ(serveQueued(), 1u);
        EXPECT_TRUE(PumpUntil([&] { return dlg.RowCount() == 1; }));

        // Served requests do not block later ones.
        dlg.GetJobList().RemoveAt(0);
        dlg.RequestRefreshJobList();
        EXPECT_EQ(serveQueued(), 1u);
        EXPECT_TRUE(PumpUntil([&] { return dlg.RowCount() == 0; }));
    });
}

TEST_F(MorvaneDlgTest, FailedCopyTurnsTheButtonBackToStartBeforeTheBoxIsDismissed) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        HWND hButton = dlg.Item(IDC_START_STOP);
        std::string textWhileBoxShown;
        m_boxes.m_onBox = [&](const std::string&) {
            // The box is up on the worker's thread; the window's thread keeps
            // pumping, so the button must read "Start" before we answer.
            WaitFor([&] { return WindowText(hButton) == "&Start"; }, 5000, 10);
            textWhileBoxShown = WindowText(hButton);
        };
        DropFiles(dlg.m_hWnd, {"C:\\no such folder\\missing.prn"});
        ClickButton(dlg.m_hWnd, IDC_START_STOP);
        EXPECT_TRUE(PumpUntil([&] { return !m_boxes.Texts().empty(); }));
        PumpUntil([&] { return WindowText(hButton) == "&Start"; });
        EXPECT_EQ(textWhileBoxShown, "&Start");
        EXPECT_EQ(m_boxes.Texts().at(0), "Print Job Failed");
        EXPECT_EQ(dlg.GetJobList().GetCount(), 1);
        m_boxes.m_onBox = nullptr;
    });
}

// Escape and the title bar's close box cancel the window: a count out of
// range in the field does not hold it open, and no message is shown.
TEST_F(MorvaneDlgTest, EscapeAndTheCloseBoxEndTheWindowWithoutValidating) {
    const std::pair<const char*, std::function<void(HWND)>> ends[] = {
        {"Escape",
         [](HWND hDlg) {
             // As the dialog's own loop hands the key over.
             MSG msg{GetDlgItem(hDlg, IDC_COPIES), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
             IsDialogMessageA(hDlg, &msg);
         }},
        {"close box",
         [](HWND hDlg) {
             SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
             PumpMessages();
         }},
    };
    for (const auto& [how, end] : ends) {
        bool ended = false;
        const INT_PTR result = Run([&, &end = end](ScriptedMorvaneDlg& dlg) {
            dlg.TypeCopies("0");
            m_boxes.Clear();
            end(dlg.m_hWnd);
            ended = !IsWindowVisible(dlg.m_hWnd);
        });
        EXPECT_EQ(result, IDCANCEL) << how;
        EXPECT_TRUE(ended) << how;
        EXPECT_TRUE(m_boxes.Texts().empty()) << how;
    }
}

// The system adds its own bits to the low four of a menu command's id: the
// about box opens whatever they are.
TEST_F(MorvaneDlgTest, AboutBoxOpensFromTheSystemMenuWhateverTheLowBits) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        for (const UINT nID : {IDM_ABOUTBOX, IDM_ABOUTBOX | 0x1, IDM_ABOUTBOX | 0xF}) {
            // The box runs its own loop on this thread; another one answers it.
            std::atomic<bool> sent{false};
            HWND hAbout = nullptr;
            std::thread answerer([&] {
                if (WaitFor([&] {
                        return sent || (hAbout = FindWindowA("#32770", "About Morvane"));
                    }) &&
                    hAbout)
                    PostMessageA(hAbout, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            });
            SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, nID, 0);
            sent = true;
            answerer.join();
            EXPECT_NE(hAbout, nullptr) << std::hex << nID;
            EXPECT_FALSE(IsWindow(hAbout)) << std::hex << nID;
        }
    });
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(MorvaneDlgTest, CaptionNamesTheOutputForEverySpoolerType) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        CSpoolerSetup& setup = dlg.GetSetup();
        const std::pair<int, const char*> cases[] = {
            {0, "Tolvar Morvane - Null"},     {1, "Tolvar Morvane - Office Laser"},
            {2, "Tolvar Morvane - 10.0.0.5"}, {3, "Tolvar Morvane - USB"},
            {7, "Tolvar Morvane - "},         {-1, "Tolvar Morvane - "}};
        for (const auto& [type, caption] : cases) {
            CSpoolerSetup s(setup);
            s.m_nSpoolerType = type;
            s.m_strSpoolerName = "Office Laser";
            s.m_dwIPAddress = 0x0A000005;
            setup = s;
            dlg.UpdateTitle();
            EXPECT_EQ(WindowText(dlg.m_hWnd), caption) << type;
        }
    });
}

TEST_F(MorvaneDlgTest, SetupSavesAndRetitlesOnlyWhenConfirmed) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        CSpoolerSetup s(dlg.GetSetup());
        s.m_nSpoolerType = SPOOLER_USB;
        dlg.GetSetup() = s;
        dlg.m_nSetupResult = IDCANCEL;
        ClickButton(dlg.m_hWnd, IDC_SETUP);
        EXPECT_EQ(WindowText(dlg.m_hWnd), "Tolvar Morvane - Null");
        CSpoolerSetup stored;
        stored.Load();
        EXPECT_EQ(stored.m_nSpoolerType, SPOOLER_NULL);
        dlg.m_nSetupResult = IDOK;
        // The system menu item runs the same command.
        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, IDM_SETUP_SPOOLER, 0);
        EXPECT_EQ(WindowText(dlg.m_hWnd), "Tolvar Morvane - USB");
        EXPECT_EQ(dlg.m_nSetupRuns, 2);
    });
    CSpoolerSetup saved;
    saved.Load();
    EXPECT_EQ(saved.m_nSpoolerType, SPOOLER_USB);
}

TEST_F(MorvaneDlgTest, EndOfSessionSavesTheQueue) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        // The form older versions read, as it stands in the registry.
        auto storedName = [] {
            char buf[64] = "";
            DWORD cb = sizeof(buf) - 1;
            const ProgramKey h("Job_List");
            RegQueryValueExA(h, "Job0_Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb);
            return std::string(buf);
        };
        DropFiles(dlg.m_hWnd, {"C:\\x\\kept.prn"});
        EXPECT_EQ(storedName(), "");
        // Windows ends the session: the process will be ended right after.
        SendMessageA(dlg.m_hWnd, WM_QUERYENDSESSION, 0, 0);
        SendMessageA(dlg.m_hWnd, WM_ENDSESSION, TRUE, 0);
        EXPECT_EQ(storedName(), "kept.prn");
        CJobList saved(nullptr, CJobList::Access::ReadOnly);
        ASSERT_EQ(saved.GetCount(), 1);
        EXPECT_STREQ(saved.GetAt(0)->m_strName, "kept.prn");
        // Cleared here so the copy made just now is not what the test sees.
        DeleteProgramKey();
    });
}

// A click that the window handles while the worker stopped itself after a
// failure, before the window heard of it: the click means what the button
// said ("Stop"), so the failed job is not started again.
TEST_F(MorvaneDlgTest, StopClickedAfterAFailureTheWindowHasNotHeardOfStaysStopped) {
    Run([&](ScriptedMorvaneDlg& dlg) {
        DropFiles(dlg.m_hWnd, {"C:\\no such folder\\missing.prn"});
        ClickButton(dlg.m_hWnd, IDC_START_STOP);
        ASSERT_EQ(ControlText(dlg.m_hWnd, IDC_START_STOP), "S&top");
        // Not pumping: the worker's notice stays queued behind the click.
        WaitFor([&] { return !m_boxes.Texts().empty(); }, 20000);
        ASSERT_EQ(m_boxes.Texts().size(), 1u);
        ClickButton(dlg.m_hWnd, IDC_START_STOP);
        EXPECT_FALSE(dlg.GetPrintLoop()->IsRunning());
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_START_STOP), "&Start");
        // A second failure box would mean the job was tried again.
        EXPECT_FALSE(PumpUntil([&] { return m_boxes.Texts().size() > 1; }, 1000));
        EXPECT_EQ(ControlText(dlg.m_hWnd, IDC_START_STOP), "&Start");
        // Start again is a real start.
        ClickButton(dlg.m_hWnd, IDC_START_STOP);
        EXPECT_TRUE(PumpUntil([&] { return m_boxes.Texts().size() == 2; }));
        EXPECT_TRUE(PumpUntil([&] { return ControlText(dlg.m_hWnd, IDC_START_STOP) == "&Start"; }));
    });
}

// Holds the display lock on another thread until the window's thread waits
// for it, then runs the step (the worker removing the head) and lets go: the
// window then rebuilds its rows from a queue that changed under it.
class WorkerStepDuringRebuild {
public:
    explicit WorkerStepDuringRebuild(std::function<void()> step) {
        std::atomic<bool> held{false};
        m_thread = std::thread([this, step, &held] {
            EnterCriticalSection(&g_csDisplay);
            held = true;
            m_bWaited = WaitFor([] { return g_csDisplay.LockCount >= 1; }, 10000, 1);
            step();
            LeaveCriticalSection(&g_csDisplay);
        });
        while (!held)
            Sleep(1);
    }
    ~WorkerStepDuringRebuild() { Join(); }
    bool Join() {
        if (m_thread.joinable())
            m_thread.join();
        return m_bWaited;
    }

private:
    std::thread m_thread;
    bool m_bWaited = false;
};

TEST_F(MorvaneDlgTest, PlusAndMinusKeepTheSelectionOnTheirJobWhenTheWorkerRemovesTheHead) {
    SaveQueue({{"A", "C:\\a.prn", 1},
               {"B", "C:\\b.prn", 1},
               {"C", "C:\\c.prn", 1},
               {"D", "C:\\d.prn", 1},
               {"E", "C:\\e.prn", 1}});
    ScriptedFileDialog picker("C:\\spool\\new.prn");
    Run([&](ScriptedMorvaneDlg& dlg) {
        auto selectedName = [&]() -> std::string {
            const int nRow = dlg.SelectedRow();
            if (nRow < 0)
                return "";
            const auto q = dlg.Queue();
            return nRow < static_cast<int>(q.size()) ? q[nRow].first : "";
        };
        auto removeHead = [&] { dlg.GetJobList().RemoveAt(0); };

        // "-" on C while the worker finishes A: D is selected.
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 2);
        {
            WorkerStepDuringRebuild worker(removeHead);
            ClickButton(dlg.m_hWnd, IDC_REMOVE_JOB);
            EXPECT_TRUE(worker.Join());
        }
        ASSERT_EQ(dlg.Queue().size(), 3u);
        EXPECT_EQ(selectedName(), "D");

        // "+" behind B (now at the head) while the worker finishes B: the
        // new job is selected.
        SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, 0);
        ASSERT_EQ(selectedName(), "B");
        {
            WorkerStepDuringRebuild worker(removeHead);
            ClickButton(dlg.m_hWnd, IDC_ADD_JOB);
            EXPECT_TRUE(worker.Join());
        }
        ASSERT_EQ(dlg.Queue().size(), 3u);
        EXPECT_EQ(selectedName(), "new");
    });
}

// OK in "Watched Folder" while files the watcher moved into "Queued" still
// wait in its queue for the window: each is queued once, in order.
TEST_F(MorvaneDlgTest, WatchedFolderOkDoesNotQueuePendingFilesTwice) {
    const std::wstring dir = ToWide(TempPath("morvane-dlg-watched"));
    const std::wstring queued = dir + L"\\Queued";
    CreateDirectoryW(dir.c_str(), nullptr);
    CreateDirectoryW(queued.c_str(), nullptr);
    CWatchedFolderSetup watch;
    watch.m_bEnabled = true;
    watch.m_strFolder = dir;
    ASSERT_TRUE(watch.Save());
    std::vector<std::wstring> files;
    Run([&](ScriptedMorvaneDlg& dlg) {
        for (int i = 0; i < 5; ++i) {
            files.push_back(queued + L"\\f" + std::to_wstring(i) + L".prn");
            ASSERT_TRUE(WriteFileBytes(ToUtf8(files.back()), "x"));
            dlg.GetWatcher()->Deliver(files.back());
        }
        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, IDM_WATCHED_FOLDER, 0);
        PumpMessages();
        std::vector<std::string> names;
        for (const auto& job : dlg.Queue())
            names.push_back(job.first);
        EXPECT_EQ(names,
                  (std::vector<std::string>{"f0.prn", "f1.prn", "f2.prn", "f3.prn", "f4.prn"}));
    });
    for (const std::wstring& f : files)
        DeleteFileW(f.c_str());
    RemoveDirectoryW(queued.c_str());
    RemoveDirectoryW(dir.c_str());
}

// Refused requests while a message about an earlier one is on the screen
// (its loop dispatches theirs): never a box over a box; what piled up is
// told in one more box, as a count.
TEST_F(MorvaneDlgTest, RefusalsNeverStackBoxes) {
    int depth = 0, deepest = 0;
    Run([&](ScriptedMorvaneDlg& dlg) {
        auto refuse = [&](const wchar_t* name) {
            CQueueRequest request;
            request.files.push_back(std::wstring(L"C:\\no\\such\\") + name);
            EXPECT_EQ(dlg.QueueRequest(request), kExitBadFile);
        };
        bool first = true;
        m_boxes.m_onBox = [&](const std::string&) {
            deepest = std::max(deepest, ++depth);
            if (first) {
                first = false;
                refuse(L"b.prn");
                refuse(L"c.prn");
            }
            PumpMessages(); // as the box's own loop would
            --depth;
        };
        refuse(L"a.prn");
        PumpMessages();
    });
    EXPECT_EQ(deepest, 1);
    const auto texts = m_boxes.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("a.prn"), std::string::npos);
    EXPECT_NE(texts[1].find("b.prn"), std::string::npos);
    EXPECT_NE(texts[1].find("1 more file was not queued."), std::string::npos);
}

// A handed-over request whose time ran out while its files were checked
// (a slow share): its sender reports "not taken", so nothing may be queued.
TEST_F(MorvaneDlgTest, RequestPastItsTimeQueuesNothing) {
    const std::string file = TempPath("morvane-dlg-late.prn");
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    Run([&](ScriptedMorvaneDlg& dlg) {
        CQueueRequest request;
        request.files = {ToWide(file), ToWide(file)};
        request.nAcceptUntil = GetTickCount64() - 1;
        EXPECT_EQ(dlg.QueueRequest(request), kExitNotTaken);
        EXPECT_TRUE(dlg.Queue().empty());
        request.nAcceptUntil = GetTickCount64() + 60000;
        EXPECT_EQ(dlg.QueueRequest(request), kExitQueued);
        EXPECT_EQ(dlg.Queue().size(), 2u);
    });
    DeleteFileA(file.c_str());
}

} // namespace

namespace {
// A key pressed in the window's job list, through the dialog manager as a
// user's key comes (Ctrl held when bCtrl).
void PressListKey(HWND hDlg, UINT vk, bool bCtrl) {
    HWND hList = GetDlgItem(hDlg, IDC_JOB_LIST);
    SetFocus(hList);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = bCtrl ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG msg{hList, WM_KEYDOWN, vk, 1, GetTickCount(), {}};
    if (!IsDialogMessageA(hDlg, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

std::string ToolTipText(HWND hTip, HWND hOwner, HWND hTool) {
    char text[256] = "";
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hOwner;
    ti.uId = reinterpret_cast<UINT_PTR>(hTool);
    ti.lpszText = text;
    SendMessageA(hTip, TTM_GETTEXTA, sizeof(text), reinterpret_cast<LPARAM>(&ti));
    return text;
}
} // namespace

// Every key of the job list on the queue a, b, c, one row a key: what the
// queue, the selection and the focus are afterwards. Then the tooltips.
TEST_F(MorvaneDlgTest, KeysActOnTheSelectedJobAndButtonsAndCutTextHaveTooltips) {
    TempFile file("k.prn", "data");
    ScriptedFileDialog picker(file.path());
    const struct {
        const char* what;
        int selected, busy;
        UINT vk;
        bool ctrl;
        const char* order;
        int selectedAfter;
        bool copiesFocused;
    } cases[] = {
        {"Delete removes as - does", 1, -1, VK_DELETE, false, "ac", 1, false},
        {"Delete leaves a busy job", 1, 1, VK_DELETE, false, "abc", 1, false},
        {"Insert adds behind as + does", 1, -1, VK_INSERT, false, "abkc", 2, false},
        {"Ctrl+Up", 1, -1, VK_UP, true, "bac", 0, false},
        {"Ctrl+Down", 1, -1, VK_DOWN, true, "acb", 2, false},
        {"Ctrl+Up at the head", 0, -1, VK_UP, true, "abc", 0, false},
        {"Ctrl+Down at the tail", 2, -1, VK_DOWN, true, "abc", 2, false},
        {"Ctrl+Up above the busy head", 1, 0, VK_UP, true, "abc", 1, false},
        {"Ctrl+Down of a busy job", 1, 1, VK_DOWN, true, "abc", 1, false},
        {"Ctrl+Down behind the busy head", 1, 0, VK_DOWN, true, "acb", 2, false},
        {"Down alone moves the selection", 1, -1, VK_DOWN, false, "abc", 2, false},
        {"Enter goes to Copies:", 1, -1, VK_RETURN, false, "abc", 1, true},
        {"F2 goes to Copies:", 2, -1, VK_F2, false, "abc", 2, true},
    };
    Run([&](ScriptedMorvaneDlg& dlg) {
        HWND hList = dlg.Item(IDC_JOB_LIST);
        auto requeue = [&](const std::vector<std::pair<std::string, std::string>>& jobs) {
            CJobList& list = dlg.GetJobList();
            while (list.GetCount() > 0)
                list.RemoveAt(0);
            for (const auto& [name, path] : jobs)
                list.Add(CQueuedJob(name.c_str(), path.c_str(), 2));
            dlg.RefreshJobList();
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            requeue({{"a", "C:\\a"}, {"b", "C:\\b"}, {"c", "C:\\c"}});
            SelectListRow(dlg.m_hWnd, IDC_JOB_LIST, c.selected);
            if (c.busy >= 0)
                dlg.SetBusy(c.busy, TRUE);
            PressListKey(dlg.m_hWnd, c.vk, c.ctrl);
            if (c.busy >= 0)
                dlg.SetBusy(c.busy, FALSE);
            std::string order;
            for (const auto& job : dlg.Queue())
                order += job.first;
            EXPECT_EQ(order, c.order);
            EXPECT_EQ(dlg.SelectedRow(), c.selectedAfter);
            EXPECT_EQ(GetFocus() == dlg.Item(IDC_COPIES), c.copiesFocused);
            EXPECT_TRUE(IsWindowVisible(dlg.m_hWnd));
        }
        EXPECT_EQ(picker.m_nShown, 1);
        // Enter in "Copies:" after F2 goes back to the list; the window stays.
        MSG enter{dlg.Item(IDC_COPIES), WM_KEYDOWN, VK_RETURN, 1, GetTickCount(), {}};
        IsDialogMessageA(dlg.m_hWnd, &enter);
        EXPECT_EQ(GetFocus(), hList);
        EXPECT_TRUE(IsWindowVisible(dlg.m_hWnd));

        HWND hTip = dlg.GetToolTip();
        ASSERT_NE(hTip, nullptr);
        const std::pair<int, const char*> tips[] = {{IDC_START_STOP, "Start or stop"},
                                                    {IDC_ADD_JOB, "Add"},
                                                    {IDC_REMOVE_JOB, "Remove"},
                                                    {IDC_SETUP, "printer"}};
        for (const auto& [id, word] : tips)
            EXPECT_NE(ToolTipText(hTip, dlg.m_hWnd, dlg.Item(id)).find(word), std::string::npos);
        // Tab follows the layout; every button and menu item has an access key.
        EnableWindow(dlg.Item(IDC_REMOVE_JOB), TRUE);
        std::vector<int> tabs;
        HWND hTab = hList;
        do {
            tabs.push_back(GetDlgCtrlID(hTab));
            hTab = GetNextDlgTabItem(dlg.m_hWnd, hTab, FALSE);
        } while (hTab && hTab != hList && tabs.size() < 20);
        EXPECT_EQ(tabs, (std::vector<int>{IDC_JOB_LIST, IDC_ADD_JOB, IDC_REMOVE_JOB, IDC_COPIES,
                                          IDC_SETUP, IDC_START_STOP, IDOK}));
        for (int id : {IDC_ADD_JOB, IDC_REMOVE_JOB, IDC_SETUP, IDC_START_STOP, IDOK})
            EXPECT_NE(ControlText(dlg.m_hWnd, id).find('&'), std::string::npos) << id;
        for (UINT id : {IDM_ABOUTBOX, IDM_SETUP_SPOOLER, IDM_JOB_HISTORY, IDM_WATCHED_FOLDER,
                        IDM_ON_FAILURE}) {
            char text[64] = "";
            GetMenuStringA(GetSystemMenu(dlg.m_hWnd, FALSE), id, text, sizeof(text), MF_BYCOMMAND);
            EXPECT_NE(std::string(text).find('&'), std::string::npos) << text;
        }
        // Only a name or path its column cuts off has a tip: the point is
        // in the name column, then in the path column, of row 0 and row 1.
        requeue({{std::string(60, 'n'), "C:\\" + std::string(200, 'p')}, {"short", "C:\\s"}});
        RECT row{};
        SendMessageA(hList, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
        const LONG y0 = row.top / 2, y1 = (row.top + row.bottom) / 2;
        CJobQueueListBox& box = dlg.GetJobListBoxObject();
        EXPECT_EQ(box.CutOffTextAt({10, y0}).Str(), std::string(60, 'n'));
        EXPECT_EQ(box.CutOffTextAt({150, y0}).Str(), "C:\\" + std::string(200, 'p'));
        EXPECT_EQ(box.CutOffTextAt({10, y1}).Str(), "");
        EXPECT_EQ(box.CutOffTextAt({150, y1}).Str(), "");
        // The list's tool asks the list for the text under the pointer.
        POINT pt{10, y0};
        ClientToScreen(hList, &pt);
        SetCursorPos(pt.x, pt.y);
        EXPECT_EQ(ToolTipText(hTip, hList, hList), std::string(60, 'n'));
    });
}

// What a screen reader reads of a row: the list box's own LB_GETTEXT, the
// job's name, copies and current status, asked for at the time of asking.
TEST_F(MorvaneDlgTest, EachRowReadsAsNameCopiesAndStatusThroughTheListBox) {
    SaveQueue({{"report.prn", "C:\\report.prn", 2}, {"one", "C:\\one", 1}});
    Run([&](ScriptedMorvaneDlg& dlg) {
        HWND hList = dlg.Item(IDC_JOB_LIST);
        EXPECT_TRUE(GetWindowLongA(hList, GWL_STYLE) & LBS_HASSTRINGS);
        auto rowText = [&](int nRow) {
            const LRESULT len = SendMessageA(hList, LB_GETTEXTLEN, nRow, 0);
            std::string text(static_cast<size_t>(std::max<LRESULT>(len, 0)) + 1, '\0');
            const LRESULT got =
                SendMessageA(hList, LB_GETTEXT, nRow, reinterpret_cast<LPARAM>(text.data()));
            EXPECT_EQ(got, len);
            text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
            return text;
        };
        EXPECT_EQ(rowText(0), "report.prn, 2 copies");
        EXPECT_EQ(rowText(1), "one, 1 copy");
        auto setStatus = [&](const char* status) {
            CQueuedJob* pJob = dlg.GetJobList().GetAt(0);
            CLock lock(pJob->m_Lock);
            pJob->m_strStatus = status;
        };
        setStatus("Spooling 1 of 2   50%");
        EXPECT_EQ(rowText(0), "report.prn, 2 copies, Spooling 1 of 2   50%");
        // The status grows between a client's measure and its copy: the
        // text measured is copied, so it fits the client's buffer.
        std::string buffer(SendMessageA(hList, LB_GETTEXTLEN, 0, 0) + 1, '#');
        setStatus("Spooling 1 of 2   100%");
        SendMessageA(hList, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(buffer.data()));
        EXPECT_STREQ(buffer.c_str(), "report.prn, 2 copies, Spooling 1 of 2   50%");
        EXPECT_EQ(rowText(0), "report.prn, 2 copies, Spooling 1 of 2   100%");
        EXPECT_EQ(SendMessageA(hList, LB_GETTEXTLEN, 2, 0), LB_ERR);
        setStatus("");
    });
}
