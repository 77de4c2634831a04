// The window and the worker together for a long while: a driver with a
// fixed seed drops jobs, removes them, edits copies and presses Start and
// Stop at random while the worker spools one-chunk jobs and the rows are
// repainted. Run under Wine's heap checking (see CMakeLists.txt), so a
// freed job touched by either thread shows up as a heap error.
//
// The printer answers its state question in 0 to 20 ms and now and then
// says it is paused; now and then a document's end stalls for a while with a
// wait text ("Cover open"). No document may open after a Stop click that
// came while the printer was being asked, until the next Start. The run
// ends by closing the window in the middle of a stalled copy, which must
// take less than 5 s. Then every job's copies add up: copies sent + copies
// still queued (or taken away with the job by "-") = the copies the user
// asked for.
// MORVANE_SOAK_JOBS sets how many jobs the driver drops (a short run by
// default; bench/soak.sh runs the long one).
#include "UiTestSupport.h"

#include "app/MorvaneDlg.h"
#include "app/resource.h"
#include "framework/Sync.h"
#include "printloop/PrintLoopThread.h"
#include "support/DialogScript.h"
#include "support/RegistryFixture.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>

namespace {

// What reached the output: whole copies per job name; and what the driver
// and the printer tell each other about Stop and the state question.
struct Sent {
    std::mutex m;
    std::map<std::string, int> copies;
    int documents = 0;
    int questions = 0;
    // The printer is answering a state question / ending a stalled document.
    std::atomic<bool> asking{false}, stalling{false};
    // Set after a Stop click that came during a question, until the next
    // Start: no document may open meanwhile.
    std::atomic<bool> stoppedDuringQuestion{false};
    std::atomic<int> openedAfterStop{0}, stopsDuringQuestion{0};
    int Of(const std::string& name) {
        std::lock_guard<std::mutex> lock(m);
        auto it = copies.find(name);
        return it == copies.end() ? 0 : it->second;
    }
};

// Discards like the null printer; counts a copy when it is ended whole.
// Every 37th document is refused, so the worker also stops itself now and
// then ("Print Job Failed") while the driver clicks. Every 11th question
// says "Paper out"; the end of every 97th document stalls up to 1.1 s (an
// abort cuts it short).
class CountingPrinter : public CPrinter {
public:
    explicit CountingPrinter(Sent& sent)
        : m_sent(sent), m_hAbort(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CountingPrinter() override { CloseHandle(m_hAbort); }
    PrinterState QueryState(CSpoolerSetup*, CString& strText) override {
        int n;
        {
            std::lock_guard<std::mutex> lock(m_sent.m);
            n = ++m_sent.questions;
        }
        m_sent.asking = true;
        Sleep(static_cast<DWORD>(n * 7 % 21));
        m_sent.asking = false;
        if (n % 11 == 0) {
            strText = "Paper out";
            return PrinterState::Paused;
        }
        return PrinterState::Ready;
    }
    BOOL Open(CSpoolerSetup*, CString strJobName) override {
        if (m_sent.stoppedDuringQuestion)
            ++m_sent.openedAfterStop;
        m_name = strJobName.Str();
        std::lock_guard<std::mutex> lock(m_sent.m);
        m_nDocument = ++m_sent.documents;
        m_bRefuse = m_nDocument % 37 == 0;
        return TRUE;
    }
    CString GetWaitText() override { return m_bStalling ? "Cover open" : ""; }
    int Send_Data(const void*, int nLength) override {
        if (m_bRefuse) {
            m_bFailed = true;
            return -1;
        }
        return nLength;
    }
    BOOL Abort() override {
        m_bFailed = true;
        SetEvent(m_hAbort);
        return TRUE;
    }
    BOOL Close() override {
        if (m_nDocument % 97 == 0) {
            m_bStalling = true;
            m_sent.stalling = true;
            WaitForSingleObject(m_hAbort, 1100);
            m_sent.stalling = false;
            m_bStalling = false;
        }
        if (m_bFailed)
            return FALSE;
        std::lock_guard<std::mutex> lock(m_sent.m);
        ++m_sent.copies[m_name];
        return TRUE;
    }

private:
    Sent& m_sent;
    HANDLE m_hAbort;
    std::string m_name;
    int m_nDocument = 0;
    bool m_bRefuse = false;
    std::atomic<bool> m_bFailed{false}, m_bStalling{false};
};

class CountingLoop : public CPrintLoopThread {
public:
    CountingLoop(IPrintLoopOwner* owner, CJobList* list, CSpoolerSetup* setup, Sent& sent)
        : CPrintLoopThread(owner, list, setup), m_sent(sent) {
        SetPrinterPollMs(20);
    }

protected:
    CPrinter* MakePrinter(CSpoolerSetup*) override { return new CountingPrinter(m_sent); }

private:
    Sent& m_sent;
};

class SoakDlg : public ScriptedDialog<SoakDlg, CMorvaneDlg> {
public:
    explicit SoakDlg(Sent& sent) : m_sent(sent) {}

    CPrintLoopThread* CreatePrintLoop() override {
        return new CountingLoop(this, &GetJobList(), &GetSetup(), m_sent);
    }
    int RowCount() const {
        return static_cast<int>(
            ::SendMessageA(::GetDlgItem(m_hWnd, IDC_JOB_LIST), LB_GETCOUNT, 0, 0));
    }

private:
    Sent& m_sent;
};

int SoakJobs() {
    const char* p = getenv("MORVANE_SOAK_JOBS");
    const int n = p ? atoi(p) : 0;
    return n > 0 ? n : 400;
}

// The job with the name, its copies and busy flag; false when not queued.
// Call with the list's lock held.
bool FindJob(CJobList& list, const std::string& name, int& nCopies, BOOL& bBusy) {
    for (int i = 0; i < list.GetCount(); ++i) {
        CQueuedJob* pJob = list.GetAt(i);
        CLock lock(pJob->m_Lock);
        if (pJob->m_strName.Str() == name) {
            nCopies = pJob->m_nCopies;
            bBusy = pJob->m_bBusy;
            return true;
        }
    }
    return false;
}

// The name of the job behind the selected row (rows may lag behind the
// queue), or "" when there is none. Call with the list's lock held.
std::string SelectedJobName(SoakDlg& d) {
    CJobQueueListBox& box = d.GetJobListBoxObject();
    const int nRow = box.GetCurSel();
    if (nRow < 0)
        return "";
    const CString* pID = box.GetRowID(box.GetItemData(nRow));
    CQueuedJob* pJob = pID ? d.GetJobList().FindByID(*pID) : nullptr;
    return pJob ? pJob->m_strName.Str() : "";
}

class SoakTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
        InitCommonControlsEx(&icc);
    }
    RecordedBoxes m_boxes;
};

TEST_F(SoakTest, RandomClicksWhileSpoolingLoseAndDoubleNothing) {
    const int nJobs = SoakJobs();
    // One small file per job, so each job has a name of its own.
    std::vector<std::unique_ptr<TempFile>> files;
    std::vector<std::string> names;
    for (int i = 0; i < nJobs; ++i) {
        char name[64];
        snprintf(name, sizeof(name), "soak-%05d.prn", i);
        files.push_back(std::make_unique<TempFile>(name, std::string(100 + i % 900, 'a' + i % 26)));
        names.push_back(name);
    }

    Sent sent;
    // Copies asked for per job, and those taken away with it by "-".
    std::map<std::string, int> wanted, removed;
    std::mt19937 rng(20261207);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };

    const std::string lastName = "soak-last.prn";
    TempFile lastFile(lastName.c_str(), std::string(500, 'z'));
    ULONGLONG closeStart = 0;
    // What the closed window left in the queue, by name.
    std::map<std::string, int> left;

    auto dlg = std::make_unique<SoakDlg>(sent);
    dlg->m_script = [&](SoakDlg& d) {
        HWND hWnd = d.m_hWnd;
        CJobList& list = d.GetJobList();
        int nDropped = 0;
        while (nDropped < nJobs) {
            const int action = pick(100);
            if (action < 40) {
                // Drop one to three files with a copies count typed first.
                // (Nothing selected first: typed with a row selected, the
                // count would go to that job.)
                const int copies = 1 + pick(3);
                SelectListRow(hWnd, IDC_JOB_LIST, -1);
                SetDlgItemTextA(hWnd, IDC_COPIES, std::to_string(copies).c_str());
                std::vector<std::string> paths;
                for (int k = 1 + pick(3); k > 0 && nDropped < nJobs; --k, ++nDropped) {
                    paths.push_back(files[nDropped]->path());
                    wanted[names[nDropped]] = copies;
                }
                DropFiles(hWnd, paths);
            } else if (action < 70) {
                // "-" on a random row, or a new copies count for it (the
                // window takes it when the job is idle). The list is held
                // across the click so that what changed is known: the
                // worker cannot take or finish the job meanwhile.
                CLock hold(list.GetListLock());
                if (d.RowCount() == 0)
                    continue;
                SelectListRow(hWnd, IDC_JOB_LIST, pick(d.RowCount()));
                const std::string name = SelectedJobName(d);
                if (name.empty())
                    continue;
                int nBefore = 0, nAfter = 0;
                BOOL bBusy = FALSE, bBusyAfter = FALSE;
                FindJob(list, name, nBefore, bBusy);
                if (action < 55) {
                    ClickButton(hWnd, IDC_REMOVE_JOB);
                    if (!FindJob(list, name, nAfter, bBusyAfter)) {
                        EXPECT_FALSE(bBusy) << name << ": a busy job was removed";
                        removed[name] = nBefore;
                    }
                } else {
                    SetDlgItemTextA(hWnd, IDC_COPIES, std::to_string(1 + pick(4)).c_str());
                    FindJob(list, name, nAfter, bBusyAfter);
                    wanted[name] += nAfter - nBefore;
                }
            } else if (action < 85) {
                // The click means what the button says, whatever the worker
                // did a moment ago.
                // Half the time the click comes after a short wait without
                // pumping, as a click that is queued before the worker's
                // notices are handled.
                if (pick(2))
                    Sleep(pick(15));
                const bool bStop = ControlText(hWnd, IDC_START_STOP) == "S&top";
                if (!bStop)
                    sent.stoppedDuringQuestion = false;
                ClickButton(hWnd, IDC_START_STOP);
                // (After "Start" the worker may already have stopped itself
                // again on a refused copy.)
                if (bStop) {
                    EXPECT_FALSE(d.GetPrintLoop()->IsRunning())
                        << "a Stop click started the worker";
                    if (sent.asking) {
                        sent.stoppedDuringQuestion = true;
                        ++sent.stopsDuringQuestion;
                    }
                }
            } else {
                // Let the worker and the painting run for a moment.
                PumpUntil([] { return false; }, pick(20));
            }
            PumpMessages();
        }

        // Run the rest of the queue out (starting again after each refused
        // copy).
        sent.stoppedDuringQuestion = false;
        const auto runOut = GetTickCount64() + 600000;
        while (list.GetCount() > 0 && GetTickCount64() < runOut) {
            if (ControlText(hWnd, IDC_START_STOP) == "&Start")
                ClickButton(hWnd, IDC_START_STOP);
            PumpUntil([&] {
                return list.GetCount() == 0 || ControlText(hWnd, IDC_START_STOP) == "&Start";
            });
        }
        EXPECT_EQ(list.GetCount(), 0);

        // A last job with copies enough to meet a stalled end: spool on
        // (starting again after each refused copy) and close the window in
        // the middle of that stall.
        SelectListRow(hWnd, IDC_JOB_LIST, -1);
        SetDlgItemTextA(hWnd, IDC_COPIES, "100");
        DropFiles(hWnd, {lastFile.path()});
        wanted[lastName] = 100;
        const auto deadline = GetTickCount64() + 600000;
        while (!sent.stalling && list.GetCount() > 0 && GetTickCount64() < deadline) {
            if (ControlText(hWnd, IDC_START_STOP) == "&Start")
                ClickButton(hWnd, IDC_START_STOP);
            PumpUntil([&] {
                return sent.stalling || list.GetCount() == 0 ||
                       ControlText(hWnd, IDC_START_STOP) == "&Start";
            });
        }
        EXPECT_TRUE(sent.stalling) << "no stalled copy to close the window in";
        closeStart = GetTickCount64();
        d.EndDialog(IDCANCEL);
    };
    ASSERT_NE(dlg->DoModal(), -1) << kNoDisplayMessage;
    EXPECT_EQ(sent.openedAfterStop.load(), 0)
        << "documents opened after a Stop during the printer's question";
    EXPECT_GT(sent.stopsDuringQuestion.load(), 0);

    // One box per refused copy, and nothing else.
    for (const std::string& text : m_boxes.Texts())
        EXPECT_EQ(text, "Print Job Failed");
    EXPECT_EQ(static_cast<int>(m_boxes.Texts().size()), sent.documents / 37);

    // The window object goes (its queue saves itself); what it left queued.
    dlg.reset();
    EXPECT_LT(GetTickCount64() - closeStart, 5000u + 1000u) << "closing mid-copy took too long";
    {
        CJobList saved;
        for (int i = 0; i < saved.GetCount(); ++i)
            left[saved.GetAt(i)->m_strName.Str()] += saved.GetAt(i)->m_nCopies;
    }
    EXPECT_GT(left[lastName], 0) << "the window was not closed mid-job";
    int nMismatch = 0, nSent = 0;
    for (const auto& [name, copies] : wanted) {
        const int nOut = sent.Of(name);
        const auto it = removed.find(name);
        const int nTaken = it == removed.end() ? 0 : it->second;
        const int nLeft = left.count(name) ? left[name] : 0;
        nSent += nOut;
        if (nOut + nTaken + nLeft != copies) {
            ++nMismatch;
            ADD_FAILURE() << name << ": asked " << copies << ", sent " << nOut << ", removed with "
                          << nTaken << ", left " << nLeft;
        }
    }
    EXPECT_EQ(nMismatch, 0);
    EXPECT_GT(nSent, 0);
    // Nothing was sent for a job the driver did not drop.
    for (const auto& [name, copies] : sent.copies)
        EXPECT_EQ(wanted.count(name), 1u) << name;
}
} // namespace
