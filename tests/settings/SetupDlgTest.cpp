// The setup dialog run for real: radio clicks, typed addresses, list picks
// and OK/Cancel go through its dialog procedure; the settings object is
// checked afterwards. USB printers are fake devices made in the prefix.
#include "framework/MessageBox.h"
#include "printers/USBPrinterList.h"
#include "settings/SetupDlg.h"
#include "settings/SetupResource.h"
#include "support/RegistryFixture.h"
#include "support/UsbPrinterDevices.h"
#include "support/DialogScript.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

class ScriptedSetupDlg : public ScriptedDialog<ScriptedSetupDlg, CSetupDlg> {
public:
    // The printers the list offers, in place of the system's (when set).
    std::vector<std::string> m_printers;
    void FillPrinterList() override {
        if (m_printers.empty())
            return CSetupDlg::FillPrinterList();
        for (const std::string& name : m_printers)
            ::SendMessageA(Item(IDC_PRINTER_LIST), CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(name.c_str()));
    }

    HWND Item(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    // The user clicks a button (radio buttons check themselves first).
    void Click(int nID) { ::SendMessageA(Item(nID), BM_CLICK, 0, 0); }
    bool Checked(int nID) const {
        return ::SendMessageA(Item(nID), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void TypeAddress(DWORD dw) { ::SendMessageA(Item(IDC_IP_ADDRESS), IPM_SETADDRESS, 0, dw); }
    // The user picks a list entry.
    void Pick(int nID, int nIndex) {
        ::SendMessageA(Item(nID), CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
        ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(nID, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(Item(nID)));
    }
    std::vector<std::string> Entries(int nID) const {
        std::vector<std::string> items;
        const int n = static_cast<int>(::SendMessageA(Item(nID), CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char buf[512] = "";
            ::SendMessageA(Item(nID), CB_GETLBTEXT, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(buf));
            items.emplace_back(buf);
        }
        return items;
    }
    int Selected(int nID) const {
        return static_cast<int>(::SendMessageA(Item(nID), CB_GETCURSEL, 0, 0));
    }
};

class SetupDlgTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
        InitCommonControlsEx(&icc);
        m_previous =
            SetMessageBoxHandler([](HWND, const char*, const char*, UINT) { return IDOK; });
        ResetUSBPrinterListForTesting();
    }
    void TearDown() override {
        SetMessageBoxHandler(m_previous);
        ResetUSBPrinterListForTesting();
        RegistryTest::TearDown();
    }
    INT_PTR Run(CSpoolerSetup& setup, const std::function<void(ScriptedSetupDlg&)>& script,
                const std::vector<std::string>& printers = {}) {
        ScriptedSetupDlg dlg;
        dlg.m_printers = printers;
        dlg.Bind(&setup);
        dlg.m_script = script;
        const INT_PTR result = dlg.DoModal();
        EXPECT_NE(result, -1) << "the dialog could not be created: these tests need a display "
                                 "(run them under Xvfb with DISPLAY set)";
        return result;
    }
    static CSpoolerSetup Setup(int type, const char* name = "none", DWORD ip = 0,
                               const char* usbName = "", const char* usbSN = "") {
        CSpoolerSetup s;
        s.m_nSpoolerType = type;
        s.m_strSpoolerName = name;
        s.m_dwIPAddress = ip;
        s.m_strUSBPort = "USB007";
        s.m_strUSBPrinterName = usbName;
        s.m_strUSBPrinterSN = usbSN;
        return s;
    }
    MessageBoxHandler m_previous;
};

TEST_F(SetupDlgTest, AddressTypedThenIPChosenIsStoredOnOK) {
    CSpoolerSetup setup = Setup(SPOOLER_NULL);
    const INT_PTR result = Run(setup, [](ScriptedSetupDlg& dlg) {
        EXPECT_TRUE(dlg.Checked(IDC_USE_NULL));
        // The address is typed first, the radio clicked after: both count.
        dlg.TypeAddress(MAKEIPADDRESS(10, 0, 0, 5));
        dlg.Click(IDC_USE_IP);
        EXPECT_TRUE(dlg.Checked(IDC_USE_IP));
        EXPECT_FALSE(dlg.Checked(IDC_USE_NULL));
        EXPECT_FALSE(dlg.Checked(IDC_USE_SPOOLER));
        EXPECT_FALSE(dlg.Checked(IDC_USE_USB));
        dlg.Click(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_IP);
    EXPECT_EQ(setup.m_dwIPAddress, 0x0A000005u);
    EXPECT_EQ(setup.GetIPAddressText(), "10.0.0.5");
    // Carried through unchanged; saving is the caller's business.
    EXPECT_EQ(setup.m_strUSBPort, "USB007");
    CSpoolerSetup stored;
    stored.Load();
    EXPECT_EQ(stored.m_nSpoolerType, SPOOLER_NULL);
}

TEST_F(SetupDlgTest, CancelLeavesTheSettingsAsTheyWere) {
    CSpoolerSetup setup = Setup(SPOOLER_IP, "none", 0xC0A80001, "Desk", "SN1");
    const INT_PTR result = Run(setup, [](ScriptedSetupDlg& dlg) {
        EXPECT_TRUE(dlg.Checked(IDC_USE_IP));
        dlg.TypeAddress(MAKEIPADDRESS(1, 2, 3, 4));
        dlg.Click(IDC_USE_USB);
        dlg.Click(IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_IP);
    EXPECT_EQ(setup.m_dwIPAddress, 0xC0A80001u);
    EXPECT_EQ(setup.m_strUSBPrinterName, "Desk");
    EXPECT_EQ(setup.m_strUSBPrinterSN, "SN1");
}

TEST_F(SetupDlgTest, UnknownTypeOpensOnNullPrinterAndOKStoresNull) {
    CSpoolerSetup setup = Setup(9);
    Run(setup, [](ScriptedSetupDlg& dlg) {
        EXPECT_TRUE(dlg.Checked(IDC_USE_NULL));
        EXPECT_FALSE(dlg.Checked(IDC_USE_SPOOLER));
        EXPECT_FALSE(dlg.Checked(IDC_USE_IP));
        EXPECT_FALSE(dlg.Checked(IDC_USE_USB));
        dlg.Click(IDOK);
    });
    EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_NULL);
}

TEST_F(SetupDlgTest, PrinterPickedBeforeTheRadioClickIsKept) {
    CSpoolerSetup setup = Setup(SPOOLER_NULL, "none");
    std::vector<std::string> printers;
    Run(setup, [&](ScriptedSetupDlg& dlg) {
        printers = dlg.Entries(IDC_PRINTER_LIST);
        // "none" begins no printer's name: nothing is selected.
        EXPECT_EQ(dlg.Selected(IDC_PRINTER_LIST), CB_ERR);
        if (!printers.empty())
            dlg.Pick(IDC_PRINTER_LIST, static_cast<int>(printers.size()) - 1);
        dlg.Click(IDC_USE_SPOOLER);
        EXPECT_TRUE(dlg.Checked(IDC_USE_SPOOLER));
        dlg.Click(IDOK);
    });
    EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_WINDOWS);
    // Without printers the list stays empty and the empty name is stored.
    EXPECT_EQ(setup.m_strSpoolerName.Str(), printers.empty() ? "" : printers.back());
}

// Stored type 1 (a Windows printer) opens on "Use Print Spooler", with the
// first printer whose name begins with the stored one, whatever its case;
// OK keeps that printer's whole name.
TEST_F(SetupDlgTest, SpoolerTypeOpensCheckedWithThePrinterMatchedByPrefixIgnoringCase) {
    const std::vector<std::string> printers = {"Label Writer", "Office Laser 2", "Office Laser 5"};
    const std::pair<const char*, const char*> cases[] = {{"office laser", "Office Laser 2"},
                                                         {"OFFICE LASER 5", "Office Laser 5"},
                                                         {"LABEL", "Label Writer"}};
    for (const auto& [stored, picked] : cases) {
        CSpoolerSetup setup = Setup(SPOOLER_WINDOWS, stored);
        ASSERT_EQ(setup.m_nSpoolerType, 1);
        std::string shown;
        Run(
            setup,
            [&](ScriptedSetupDlg& dlg) {
                EXPECT_TRUE(dlg.Checked(IDC_USE_SPOOLER)) << stored;
                EXPECT_FALSE(dlg.Checked(IDC_USE_NULL)) << stored;
                EXPECT_FALSE(dlg.Checked(IDC_USE_IP)) << stored;
                EXPECT_FALSE(dlg.Checked(IDC_USE_USB)) << stored;
                const int sel = dlg.Selected(IDC_PRINTER_LIST);
                if (sel >= 0)
                    shown = dlg.Entries(IDC_PRINTER_LIST)[static_cast<size_t>(sel)];
                dlg.Click(IDOK);
            },
            printers);
        EXPECT_EQ(shown, picked) << stored;
        EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_WINDOWS) << stored;
        EXPECT_EQ(setup.m_strSpoolerName.Str(), picked) << stored;
    }
}

class SetupDlgUsbTest : public SetupDlgTest {
protected:
    UsbPrinterDevices m_devices;
};

TEST_F(SetupDlgUsbTest, ListsUsbPrintersAndStoresThePickedOne) {
    ASSERT_FALSE(m_devices.Add("USB\\VID_0A5F&PID_0001\\ABC123", "Label Printer").empty());
    ASSERT_FALSE(m_devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Receipt Printer").empty());
    CSpoolerSetup setup = Setup(SPOOLER_USB, "none", 0, "Receipt Printer", "X12Y");
    Run(setup, [](ScriptedSetupDlg& dlg) {
        EXPECT_TRUE(dlg.Checked(IDC_USE_USB));
        EXPECT_FALSE(dlg.Checked(IDC_USE_NULL));
        const auto entries = dlg.Entries(IDC_USB_LIST);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0], "Label Printer (ABC123)");
        EXPECT_EQ(entries[1], "Receipt Printer (X12Y)");
        // The stored printer is the one selected.
        EXPECT_EQ(dlg.Selected(IDC_USB_LIST), 1);
        // "Refresh" keeps the choices and the typed address.
        dlg.Pick(IDC_USB_LIST, 0);
        dlg.TypeAddress(MAKEIPADDRESS(10, 1, 2, 3));
        dlg.Click(IDC_REFRESH_USB);
        EXPECT_EQ(dlg.Entries(IDC_USB_LIST).size(), 2u);
        EXPECT_EQ(dlg.Selected(IDC_USB_LIST), 0);
        EXPECT_TRUE(dlg.Checked(IDC_USE_USB));
        dlg.Click(IDC_USE_USB);
        EXPECT_EQ(dlg.Selected(IDC_USB_LIST), 0);
        dlg.Click(IDOK);
    });
    EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_USB);
    EXPECT_EQ(setup.m_strUSBPrinterName, "Label Printer");
    EXPECT_EQ(setup.m_strUSBPrinterSN, "ABC123");
    EXPECT_EQ(setup.m_dwIPAddress, static_cast<DWORD>(MAKEIPADDRESS(10, 1, 2, 3)));
}

TEST_F(SetupDlgUsbTest, UsbWithoutSelectionKeepsTheOldChoice) {
    ASSERT_FALSE(m_devices.Add("USB\\VID_0A5F&PID_0001\\ABC123", "Label Printer").empty());
    // The stored printer is not attached: nothing is selected in the list.
    CSpoolerSetup setup = Setup(SPOOLER_NULL, "none", 0, "Old Printer", "OLD1");
    Run(setup, [](ScriptedSetupDlg& dlg) {
        EXPECT_EQ(dlg.Entries(IDC_USB_LIST).size(), 1u);
        EXPECT_EQ(dlg.Selected(IDC_USB_LIST), CB_ERR);
        dlg.Click(IDC_USE_USB);
        dlg.Click(IDOK);
    });
    EXPECT_EQ(setup.m_nSpoolerType, SPOOLER_USB);
    EXPECT_EQ(setup.m_strUSBPrinterName, "Old Printer");
    EXPECT_EQ(setup.m_strUSBPrinterSN, "OLD1");
}

} // namespace
