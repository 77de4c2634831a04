#include "settings/SetupDlg.h"

#include "framework/DataExchange.h"
#include "settings/SetupResource.h"
#include "settings/SetupUSBList.h"

#include <winspool.h>

#include <vector>

BEGIN_MESSAGE_MAP(CSetupDlg, CDialog)
ON_BN_CLICKED(IDC_USE_SPOOLER, OnUseSpooler)
ON_BN_CLICKED(IDC_USE_IP, OnUseIP)
ON_BN_CLICKED(IDC_USE_NULL, OnUseNull)
ON_BN_CLICKED(IDC_USE_USB, OnUseUSB)
ON_BN_CLICKED(IDC_REFRESH_USB, OnRefresh)
END_MESSAGE_MAP()

CSetupDlg::CSetupDlg(CWnd* pParent) : CDialog(IDD_SETUP, pParent) {}

void CSetupDlg::Bind(CSpoolerSetup* pSetup) {
    m_pSetup = pSetup;
    LoadFromSetup();
}

void CSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_CBString(pDX, IDC_PRINTER_LIST, m_strSpoolerName);
    DDX_IPAddress(pDX, IDC_IP_ADDRESS, m_dwIPAddress);
    DDX_CBString(pDX, IDC_USB_LIST, m_strUSBPrinter);
    DDX_Radio(pDX, IDC_USE_IP, m_nRadioIP);
    DDX_Radio(pDX, IDC_USE_NULL, m_nRadioNull);
    DDX_Radio(pDX, IDC_USE_SPOOLER, m_nRadioSpooler);
    DDX_Radio(pDX, IDC_USE_USB, m_nRadioUSB);
}

BOOL CSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    FillPrinterList();
    FillUSBList();
    LoadFromSetup();
    UpdateData(FALSE);
    return TRUE;
}

void CSetupDlg::OnOK() {
    StoreToSetup();
    CDialog::OnOK();
}

void CSetupDlg::LoadFromSetup() {
    if (!m_pSetup)
        return;
    const CSpoolerSetup setup(*m_pSetup);
    m_strSpoolerName = setup.m_strSpoolerName;
    m_dwIPAddress = setup.m_dwIPAddress;
    m_strUSBPort = setup.m_strUSBPort;

    m_nRadioNull = m_nRadioSpooler = m_nRadioIP = m_nRadioUSB = 1;
    switch (setup.m_nSpoolerType) {
    case SPOOLER_WINDOWS:
        m_nRadioSpooler = 0;
        break;
    case SPOOLER_IP:
        m_nRadioIP = 0;
        break;
    case SPOOLER_USB:
        m_nRadioUSB = 0;
        break;
    default:
        m_nRadioNull = 0;
        break;
    }
    m_strUSBPrinter = SetupUSBDisplayName(setup.m_strUSBPrinterName, setup.m_strUSBPrinterSN);
}

void CSetupDlg::StoreToSetup() {
    if (!m_pSetup)
        return;
    UpdateData(TRUE);
    CSpoolerSetup setup(*m_pSetup);
    setup.m_strSpoolerName = m_strSpoolerName;
    setup.m_dwIPAddress = m_dwIPAddress;
    setup.m_strUSBPort = m_strUSBPort;
    if (m_nRadioSpooler == 0)
        setup.m_nSpoolerType = SPOOLER_WINDOWS;
    else if (m_nRadioIP == 0)
        setup.m_nSpoolerType = SPOOLER_IP;
    else if (m_nRadioUSB == 0)
        setup.m_nSpoolerType = SPOOLER_USB;
    else
        setup.m_nSpoolerType = SPOOLER_NULL;
    CString strName, strSerial;
    if (SetupFindUSBPrinter(m_strUSBPrinter, strName, strSerial)) {
        setup.m_strUSBPrinterName = strName;
        setup.m_strUSBPrinterSN = strSerial;
    }
    *m_pSetup = setup;
}

void CSetupDlg::FillPrinterList() {
    HWND hCombo = GetDlgItem(IDC_PRINTER_LIST);
    if (!hCombo)
        return;
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    DWORD cbNeeded = 0, nReturned = 0;
    EnumPrintersA(flags, nullptr, 4, nullptr, 0, &cbNeeded, &nReturned);
    if (cbNeeded == 0)
        return;
    std::vector<BYTE> buf(cbNeeded);
    if (!EnumPrintersA(flags, nullptr, 4, buf.data(), cbNeeded, &cbNeeded, &nReturned))
        return;
    const auto* pInfo = reinterpret_cast<const PRINTER_INFO_4A*>(buf.data());
    for (DWORD i = 0; i < nReturned; ++i) {
        if (pInfo[i].pPrinterName)
            ::SendMessageA(hCombo, CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(pInfo[i].pPrinterName));
    }
}

void CSetupDlg::FillUSBList() {
    HWND hCombo = GetDlgItem(IDC_USB_LIST);
    if (!hCombo)
        return;
    ::SendMessageA(hCombo, CB_RESETCONTENT, 0, 0);
    for (const CString& name : SetupListUSBPrinters())
        ::SendMessageA(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.GetString()));
}

void CSetupDlg::SelectRadio(int* pnSelected) {
    // What the user picked in a list or typed as the address just before
    // the click counts; the radio states are then set here.
    UpdateData(TRUE);
    m_nRadioNull = m_nRadioSpooler = m_nRadioIP = m_nRadioUSB = 1;
    *pnSelected = 0;
    UpdateData(FALSE);
}

void CSetupDlg::OnUseSpooler() {
    SelectRadio(&m_nRadioSpooler);
}

void CSetupDlg::OnUseIP() {
    SelectRadio(&m_nRadioIP);
}

void CSetupDlg::OnUseNull() {
    SelectRadio(&m_nRadioNull);
}

void CSetupDlg::OnUseUSB() {
    SelectRadio(&m_nRadioUSB);
}

void CSetupDlg::OnRefresh() {
    UpdateData(TRUE);
    FillUSBList();
    UpdateData(FALSE);
}
