#include "app/TrayIcon.h"

#include "framework/CodePage.h"

#include <cwchar>

namespace {

std::wstring Wide(const CString& str) {
    std::wstring out;
    NarrowToWide(str.GetString(), str.GetLength(), CP_ACP, out);
    return out;
}

// Fits text into a fixed field of the shell's structure, with "..." when
// it had to be cut.
template <size_t N> void CopyField(wchar_t (&field)[N], const std::wstring& text) {
    std::wstring s = text;
    if (s.size() >= N)
        s = s.substr(0, N - 4) + L"...";
    wcsncpy(field, s.c_str(), N - 1);
    field[N - 1] = L'\0';
}

} // namespace

std::wstring TrayTip(TrayMode mode, const WorkerActivity& activity) {
    std::wstring tip = L"Morvane: ";
    switch (activity.kind) {
    case WorkerActivity::Kind::Printing:
        tip += L"printing " + Wide(activity.strJob) + L", copy " + std::to_wstring(activity.nCopy) +
               L" of " + std::to_wstring(activity.nCopies);
        break;
    case WorkerActivity::Kind::Waiting:
        tip += L"waiting for the printer: " + Wide(activity.strWord);
        break;
    case WorkerActivity::Kind::Retrying:
        tip += L"retrying " + Wide(activity.strJob) + L": " + Wide(activity.strWord);
        break;
    case WorkerActivity::Kind::Idle:
        if (mode == TrayMode::Attention)
            tip += L"stopped by a failure";
        else
            tip += mode == TrayMode::Running ? L"idle" : L"stopped";
        break;
    }
    if (tip.size() > 127)
        tip = tip.substr(0, 124) + L"...";
    return tip;
}

TrayBalloonText TrayBalloon(RetryNews news, const CString& strReason, DWORD nRetryMinutes) {
    TrayBalloonText b;
    const std::wstring minutes = std::to_wstring(nRetryMinutes);
    switch (news) {
    case RetryNews::Failing:
        b.title = L"A copy failed";
        b.text = Wide(strReason) + L". Morvane tries it again for up to " + minutes + L" minutes.";
        break;
    case RetryNews::Back:
        b.title = L"Printing again";
        b.text = L"The printer took the copy; the queue goes on.";
        b.bWarning = false;
        break;
    case RetryNews::GivenUp:
        b.title = L"The queue stopped";
        b.text =
            Wide(strReason) + L". Tried for " + minutes + L" minutes; press Start to try again.";
        break;
    }
    return b;
}

CTrayIcon::CTrayIcon(HWND hWnd, UINT uCallback, HICON hIcon, NotifyIconFunction pfnNotify)
    : m_hWnd(hWnd), m_uCallback(uCallback), m_hIcon(hIcon), m_pfnNotify(pfnNotify),
      m_strTip(L"Morvane") {}

CTrayIcon::~CTrayIcon() {
    Remove();
}

UINT CTrayIcon::TaskbarCreatedMessage() {
    static const UINT uMsg = RegisterWindowMessageW(L"TaskbarCreated");
    return uMsg;
}

NOTIFYICONDATAW CTrayIcon::Data(UINT uFlags) const {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = m_hWnd;
    nid.uID = kIconID;
    nid.uFlags = uFlags;
    nid.uCallbackMessage = m_uCallback;
    nid.hIcon = m_hIcon;
    CopyField(nid.szTip, m_strTip);
    return nid;
}

bool CTrayIcon::Add() {
    // After Explorer restarted the shell no longer knows the icon.
    m_bAdded = false;
    NOTIFYICONDATAW nid = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    if (!m_pfnNotify(NIM_ADD, &nid))
        return false;
    m_bAdded = true;
    nid.uVersion = NOTIFYICON_VERSION_4;
    m_pfnNotify(NIM_SETVERSION, &nid);
    return true;
}

void CTrayIcon::Remove() {
    if (!m_bAdded)
        return;
    NOTIFYICONDATAW nid = Data(0);
    m_pfnNotify(NIM_DELETE, &nid);
    m_bAdded = false;
}

void CTrayIcon::SetTip(const std::wstring& strTip) {
    if (strTip == m_strTip)
        return;
    m_strTip = strTip;
    if (!m_bAdded)
        return;
    NOTIFYICONDATAW nid = Data(NIF_TIP | NIF_SHOWTIP);
    m_pfnNotify(NIM_MODIFY, &nid);
}

void CTrayIcon::ShowBalloon(const TrayBalloonText& balloon) {
    if (!m_bAdded)
        return;
    NOTIFYICONDATAW nid = Data(NIF_INFO);
    CopyField(nid.szInfoTitle, balloon.title);
    CopyField(nid.szInfo, balloon.text);
    nid.dwInfoFlags = balloon.bWarning ? NIIF_WARNING : NIIF_INFO;
    m_pfnNotify(NIM_MODIFY, &nid);
}
