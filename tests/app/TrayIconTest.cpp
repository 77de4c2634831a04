// The notification area icon: what its tip and balloons say, and the window
// driving it through the shell's calls (recorded here instead of made),
// minimizing into it and coming back from it.
#include "UiTestSupport.h"

#include "app/MorvaneDlg.h"
#include "support/DialogScript.h"
#include "support/RegistryFixture.h"

#include <string>
#include <vector>

namespace {

WorkerActivity Activity(WorkerActivity::Kind kind, const char* job, int copy, int copies,
                        const char* word) {
    return WorkerActivity::Make(kind, job, word, copy, copies);
}

TEST(TrayTip, NamesTheStateTheJobAndThePrintersWord) {
    using K = WorkerActivity::Kind;
    const std::string longName(200, 'x');
    struct Row {
        TrayMode mode;
        WorkerActivity activity;
        std::wstring tip;
    };
    const Row rows[] = {
        {TrayMode::Running, WorkerActivity(), L"Morvane: idle"},
        {TrayMode::Stopped, WorkerActivity(), L"Morvane: stopped"},
        {TrayMode::Attention, WorkerActivity(), L"Morvane: stopped by a failure"},
        {TrayMode::Running, Activity(K::Printing, "label.zpl", 2, 3, ""),
         L"Morvane: printing label.zpl, copy 2 of 3"},
        {TrayMode::Running, Activity(K::Waiting, "label.zpl", 0, 0, "Paper out"),
         L"Morvane: waiting for the printer: Paper out"},
        {TrayMode::Running, Activity(K::Retrying, "label.zpl", 0, 0, "No connection"),
         L"Morvane: retrying label.zpl: No connection"},
        {TrayMode::Running, Activity(K::Printing, longName.c_str(), 1, 1, ""),
         L"Morvane: printing " + std::wstring(124 - 18, L'x') + L"..."},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(TrayTip(r.mode, r.activity), r.tip);
        EXPECT_LE(TrayTip(r.mode, r.activity).size(), 127u);
    }
    const TrayBalloonText failing = TrayBalloon(RetryNews::Failing, "No connection", 30);
    EXPECT_EQ(failing.text, L"No connection. Morvane tries it again for up to 30 minutes.");
    EXPECT_TRUE(failing.bWarning);
    EXPECT_FALSE(TrayBalloon(RetryNews::Back, "", 30).bWarning);
    EXPECT_EQ(TrayBalloon(RetryNews::GivenUp, "Printer not answering", 5).text,
              L"Printer not answering. Tried for 5 minutes; press Start to try again.");
}

// The shell's calls as the icon made them: "add", "version 4", "tip ...",
// "balloon warning TITLE", "delete".
std::vector<std::string> g_calls;
BOOL g_shellAccepts = TRUE;

std::string Narrow(const wchar_t* p) {
    std::string s;
    for (; *p; ++p)
        s += static_cast<char>(*p);
    return s;
}

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAW p) {
    switch (dwMessage) {
    case NIM_ADD:
        g_calls.push_back("add " + Narrow(p->szTip));
        break;
    case NIM_SETVERSION:
        g_calls.push_back("version " + std::to_string(p->uVersion));
        break;
    case NIM_MODIFY:
        if (p->uFlags & NIF_INFO)
            g_calls.push_back(std::string("balloon ") +
                              (p->dwInfoFlags == NIIF_WARNING ? "warning " : "info ") +
                              Narrow(p->szInfoTitle));
        else
            g_calls.push_back("tip " + Narrow(p->szTip));
        break;
    case NIM_DELETE:
        g_calls.push_back("delete");
        break;
    default:
        break;
    }
    return g_shellAccepts;
}

class TrayDlg : public ScriptedDialog<TrayDlg, CMorvaneDlg> {
protected:
    std::unique_ptr<CTrayIcon> CreateTrayIcon() override {
        return std::make_unique<CTrayIcon>(m_hWnd, WM_TRAY_ICON, nullptr, RecordNotify);
    }
};

class TrayIconTest : public RegistryTest {
protected:
    void Run(const std::function<void(TrayDlg&)>& script) {
        g_calls.clear();
        TrayDlg dlg;
        dlg.m_script = script;
        EXPECT_NE(dlg.DoModal(), -1) << kNoDisplayMessage;
    }
    RecordedBoxes m_boxes;
};

TEST_F(TrayIconTest, IconFollowsTheWindowAndComesBackAfterExplorer) {
    Run([](TrayDlg& dlg) {
        EXPECT_EQ(g_calls,
                  (std::vector<std::string>{"add Morvane", "version 4", "tip Morvane: stopped"}));
        g_calls.clear();
        // Explorer started again: the icon is added again, with its tip.
        SendMessageW(dlg.m_hWnd, CTrayIcon::TaskbarCreatedMessage(), 0, 0);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"add Morvane: stopped", "version 4"}));
        g_calls.clear();
        // One balloon per piece of news; a failure's is a warning.
        dlg.NotifyRetry(RetryNews::Failing, "No connection");
        dlg.NotifyRetry(RetryNews::Back, "");
        PumpUntil([] { return g_calls.size() >= 2; }, 5000);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"balloon warning A copy failed",
                                                     "balloon info Printing again"}));
        // Minimizing hides the window into the icon; a click brings it back.
        SendMessageW(dlg.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_FALSE(IsWindowVisible(dlg.m_hWnd));
        SendMessageW(dlg.m_hWnd, CMorvaneDlg::WM_TRAY_ICON, 0, MAKELPARAM(NIN_SELECT, 1));
        EXPECT_TRUE(IsWindowVisible(dlg.m_hWnd));
        g_calls.clear();
    });
    // The window's end takes the icon away.
    EXPECT_EQ(g_calls, (std::vector<std::string>{"delete"}));
    EXPECT_TRUE(m_boxes.Texts().empty());
}

// A shell without a notification area: minimizing stays an ordinary
// minimize, so the window can always be found again.
TEST_F(TrayIconTest, WithoutTheAreaMinimizingKeepsTheWindowReachable) {
    g_shellAccepts = FALSE;
    Run([](TrayDlg& dlg) {
        SendMessageW(dlg.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(IsWindowVisible(dlg.m_hWnd));
        ShowWindow(dlg.m_hWnd, SW_RESTORE);
    });
    g_shellAccepts = TRUE;
}

} // namespace
