// CSetupDlg: the modal dialog in which the user picks the output (null
// printer, a Windows printer, a network printer by IPv4 address, a USB
// printer). It edits the caller's CSpoolerSetup: the settings change only
// when OK is pressed, in one step (assignment under the settings' lock), so
// a worker reading them meanwhile sees either the old or the new output.
// Saving them is the caller's business.
//
// Radio states: 0 selected, anything else not; the dialog keeps exactly one
// of the four at 0. Threads: the user interface thread only.
#pragma once

#include "framework/Dialog.h"
#include "framework/String.h"
#include "settings/SpoolerSetup.h"

class CSetupDlg : public CDialog {
public:
    explicit CSetupDlg(CWnd* pParent = nullptr);
    ~CSetupDlg() override = default;

    // The settings to edit (not owned); loads the members from them.
    void Bind(CSpoolerSetup* pSetup);

    virtual void LoadFromSetup();
    virtual void StoreToSetup();
    virtual void FillPrinterList();
    virtual void FillUSBList();

    CSpoolerSetup* m_pSetup = nullptr;
    CString m_strSpoolerName;
    CString m_strUSBPort;
    CString m_strUSBPrinter;
    DWORD m_dwIPAddress = 0;
    int m_nRadioNull = 0;
    int m_nRadioSpooler = 1;
    int m_nRadioIP = 1;
    int m_nRadioUSB = 1;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnUseSpooler();
    void OnUseIP();
    void OnUseNull();
    void OnUseUSB();
    void OnRefresh();

    DECLARE_MESSAGE_MAP()

private:
    // Keeps what the user picked or typed, then selects one radio state.
    void SelectRadio(int* pnSelected);
};
