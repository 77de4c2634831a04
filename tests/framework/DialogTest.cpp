// The framework's dialogs: the dialog procedure and message maps, data
// exchange and validation against real controls, owner drawing routed to
// the control's object, and exceptions kept inside the dialog procedure.
#include "framework/DataExchange.h"
#include "framework/Dialog.h"
#include "framework/Exceptions.h"
#include "framework/ListBox.h"
#include "framework/MessageBox.h"
#include "support/DialogScript.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class CountingListBox : public CListBox {
public:
    void DrawItem(LPDRAWITEMSTRUCT lpDIS) override {
        drawn.push_back(static_cast<int>(lpDIS->itemID));
    }
    std::vector<int> drawn;
};

class TestDlg;
using ScriptedTestDlg = ScriptedDialog<TestDlg, CDialog>;

class TestDlg : public ScriptedTestDlg {
public:
    TestDlg() : ScriptedTestDlg(500) {}

    int m_nValue = 5;
    CString m_strCombo;
    int m_nFirst = 0;
    int m_nSecond = 1;
    DWORD m_dwAddress = 0;
    CountingListBox m_list;
    int m_nChanges = 0;
    int m_nGo = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, 1006, m_list);
        DDX_Text(pDX, 1001, m_nValue);
        DDV_MinMaxInt(pDX, m_nValue, 1, 100000);
        DDX_CBString(pDX, 1002, m_strCombo);
        DDX_Radio(pDX, 1003, m_nFirst);
        DDX_Radio(pDX, 1004, m_nSecond);
        DDX_IPAddress(pDX, 1005, m_dwAddress);
    }
    void OnChange() { ++m_nChanges; }
    void OnGo() {
        ++m_nGo;
        if (m_nGo == 2)
            AfxThrowMemoryException();
        if (m_nGo == 3)
            AfxThrowInvalidArgException();
        if (m_nGo == 4)
            throw std::bad_alloc();
        if (m_nGo == 5)
            AfxThrowInvalidArgException();
    }
    DECLARE_MESSAGE_MAP()

public:
    void Type(const char* psz) { SetDlgItemTextA(m_hWnd, 1001, psz); }
    using CDialog::UpdateData;
};

BEGIN_MESSAGE_MAP(TestDlg, ScriptedTestDlg)
ON_EN_CHANGE(1001, OnChange)
ON_BN_CLICKED(1007, OnGo)
END_MESSAGE_MAP()

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
        InitCommonControlsEx(&icc);
        m_previous = SetMessageBoxHandler([this](HWND, const char* pszText, const char*, UINT) {
            m_boxes.emplace_back(pszText);
            return IDOK;
        });
    }
    void TearDown() override { SetMessageBoxHandler(m_previous); }
    INT_PTR Run(TestDlg& dlg, std::function<void(TestDlg&)> script) {
        dlg.m_script = std::move(script);
        const INT_PTR r = dlg.DoModal();
        EXPECT_NE(r, -1) << "the dialog could not be created: run under Xvfb with DISPLAY set";
        return r;
    }
    std::vector<std::string> m_boxes;
    MessageBoxHandler m_previous;
};

TEST_F(DialogTest, IntegerFieldParsesWholeNumbersAndChecksItsRange) {
    TestDlg dlg;
    Run(dlg, [&](TestDlg& d) {
        const std::pair<const char*, const char*> bad[] = {
            {"", "Please enter an integer."},
            {"12a", "Please enter an integer."},
            {"4 2", "Please enter an integer."},
            {"99999999999", "Please enter an integer."},
            {"0", "Please enter an integer between 1 and 100000."},
            {"100001", "Please enter an integer between 1 and 100000."},
            {"-7", "Please enter an integer between 1 and 100000."}};
        for (const auto& [text, message] : bad) {
            m_boxes.clear();
            d.Type(text);
            EXPECT_FALSE(d.UpdateData(TRUE)) << text;
            ASSERT_EQ(m_boxes.size(), 1u) << text;
            EXPECT_EQ(m_boxes[0], message) << text;
            // The field in error has the focus.
            EXPECT_EQ(GetFocus(), GetDlgItem(d.m_hWnd, 1001)) << text;
        }
        m_boxes.clear();
        d.Type(" 100000 ");
        EXPECT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.m_nValue, 100000);
        d.m_nValue = 42;
        d.UpdateData(FALSE);
        char buf[32] = "";
        GetDlgItemTextA(d.m_hWnd, 1001, buf, sizeof(buf));
        EXPECT_STREQ(buf, "42");
        EXPECT_TRUE(m_boxes.empty());
    });
}

TEST_F(DialogTest, WritesReachTheHandlersOnlyOnceTheDialogIsUp) {
    TestDlg dlg;
    Run(dlg, [&](TestDlg& d) {
        // The first values, written while the dialog was set up, told no one.
        EXPECT_EQ(d.m_nChanges, 0);
        d.m_nValue = 9;
        d.UpdateData(FALSE);
        EXPECT_EQ(d.m_nChanges, 1);
        // Reading the controls back tells no one either.
        EXPECT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.m_nChanges, 1);
        d.Type("10");
        EXPECT_EQ(d.m_nChanges, 2);
    });
}

TEST_F(DialogTest, ComboRadioAndAddressExchange) {
    TestDlg dlg;
    Run(dlg, [&](TestDlg& d) {
        HWND hCombo = GetDlgItem(d.m_hWnd, 1002);
        for (const char* s : {"Beta Printer", "alpha laser", "Gamma"})
            SendMessageA(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        // Writing selects the first item the text begins, ignoring case.
        d.m_strCombo = "BETA";
        d.UpdateData(FALSE);
        EXPECT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.m_strCombo, "Beta Printer");
        // No item begins with it: the selection stays.
        d.m_strCombo = "none";
        d.UpdateData(FALSE);
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_strCombo, "Beta Printer");
        // No selection reads as the empty text.
        SendMessageA(hCombo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_strCombo, "");

        // One-button groups: 0 checks, anything else clears; reading gives 0 or -1.
        d.m_nFirst = 1;
        d.m_nSecond = 0;
        d.UpdateData(FALSE);
        EXPECT_EQ(SendDlgItemMessageA(d.m_hWnd, 1003, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        EXPECT_EQ(SendDlgItemMessageA(d.m_hWnd, 1004, BM_GETCHECK, 0, 0), BST_CHECKED);
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_nFirst, -1);
        EXPECT_EQ(d.m_nSecond, 0);

        d.m_dwAddress = MAKEIPADDRESS(192, 168, 7, 3);
        d.UpdateData(FALSE);
        DWORD dw = 0;
        SendDlgItemMessageA(d.m_hWnd, 1005, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&dw));
        EXPECT_EQ(dw, 0xC0A80703u);
        SendDlgItemMessageA(d.m_hWnd, 1005, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 0, 0, 5));
        d.UpdateData(TRUE);
        EXPECT_EQ(d.m_dwAddress, 0x0A000005u);
    });
}

TEST_F(DialogTest, OwnerDrawingReachesTheBoundListBox) {
    TestDlg dlg;
    Run(dlg, [&](TestDlg& d) {
        ASSERT_EQ(d.m_list.m_hWnd, GetDlgItem(d.m_hWnd, 1006));
        d.m_list.AddString(reinterpret_cast<const char*>(1));
        d.m_list.AddString(reinterpret_cast<const char*>(2));
        UpdateWindow(d.m_list.m_hWnd);
        RedrawWindow(d.m_list.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_NE(std::find(d.m_list.drawn.begin(), d.m_list.drawn.end(), 1), d.m_list.drawn.end());
    });
    // The control is let go with its window.
    EXPECT_EQ(dlg.m_list.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(DialogTest, ExceptionsStayInsideTheDialogProcedure) {
    TestDlg dlg;
    const INT_PTR r = Run(dlg, [&](TestDlg& d) {
        auto go = [&] {
            SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(1007, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(d.m_hWnd, 1007)));
        };
        for (int i = 0; i < 4; ++i)
            go();
        // A box that cannot be shown fails inside the report, never past it.
        const MessageBoxHandler recording =
            SetMessageBoxHandler([](HWND, const char*, const char*, UINT) -> int {
                throw std::runtime_error("no box");
            });
        go();
        SetMessageBoxHandler(recording);
        // Still running: OK validates and ends it.
        d.Type("3");
        SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(d.m_hWnd, IDOK)));
    });
    EXPECT_EQ(r, IDOK);
    EXPECT_EQ(dlg.m_nGo, 5);
    EXPECT_EQ(dlg.m_nValue, 3);
    EXPECT_EQ(m_boxes,
              (std::vector<std::string>{"Out of memory.", "An unsupported operation was attempted.",
                                        "Out of memory."}));
}

} // namespace
