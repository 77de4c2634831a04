#include "app/HistoryDlg.h"

#include "intake/PathCheck.h"

#include "app/resource.h"
#include "framework/CodePage.h"
#include "framework/Dpi.h"
#include "framework/MessageBox.h"
#include "history/HistoryTexts.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {
std::wstring Wide(const std::string& utf8) {
    std::wstring w;
    NarrowToWide(utf8.data(), static_cast<int>(utf8.size()), CP_UTF8, w);
    return w;
}

RECT ChildRect(HWND hDlg, HWND hChild) {
    RECT r{};
    GetWindowRect(hChild, &r);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// At 96 DPI.
const int kColumnWidths[kHistoryFields] = {115, 110, 160, 85, 75, 90, 140, 95};
} // namespace

BEGIN_MESSAGE_MAP(CHistoryDlg, CDialog)
ON_MESSAGE(WM_NOTIFY, OnNotify)
ON_MESSAGE(WM_HISTORY_ADDED, OnHistoryAdded)
ON_MESSAGE(WM_HISTORY_READ, OnHistoryRead)
ON_MESSAGE(WM_SIZE, OnSize)
ON_MESSAGE(WM_GETMINMAXINFO, OnGetMinMaxInfo)
ON_MESSAGE(WM_DESTROY, OnDestroy)
END_MESSAGE_MAP()

CHistoryDlg::CHistoryDlg(CJobHistory& history, QueueAgainFn queueAgain, CWnd* pParent)
    : CDialog(IDD_JOB_HISTORY, pParent), m_history(history), m_queueAgain(std::move(queueAgain)) {}

HWND CHistoryDlg::List() const {
    return GetDlgItem(IDC_HISTORY_LIST);
}

size_t CHistoryDlg::EntryIndex(int nRow) const {
    if (m_nSortColumn >= 0 && static_cast<size_t>(nRow) < m_order.size())
        return m_order[static_cast<size_t>(nRow)];
    return m_entries.size() - 1 - static_cast<size_t>(nRow);
}

const CHistoryEntry& CHistoryDlg::EntryAtRow(int nRow) const {
    return m_entries.at(EntryIndex(nRow));
}

std::wstring CHistoryDlg::TimeText(const std::string& iso) {
    SYSTEMTIME st{};
    int y, mo, d, h, mi, sec;
    char tail;
    if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &sec, &tail) !=
        6)
        return Wide(iso);
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(sec);
    // The time is local already: no conversion, only the user's format.
    wchar_t date[128], time[128];
    if (y < 1601 ||
        !GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128,
                         nullptr) ||
        !GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time, 128))
        return Wide(iso);
    return std::wstring(date) + L" " + time;
}

std::wstring CHistoryDlg::CellText(int nRow, int nColumn) const {
    if (nRow < 0 || nRow >= GetRowCount() || nColumn < 0 || nColumn >= kHistoryFields)
        return L"";
    if (nColumn == 0)
        return TimeText(EntryAtRow(nRow).time);
    return Wide(EntryFields(EntryAtRow(nRow))[static_cast<size_t>(nColumn)]);
}

void CHistoryDlg::Sort() {
    m_order.clear();
    if (m_nSortColumn < 0)
        return;
    m_order.resize(m_entries.size());
    // Newest first among equals.
    for (size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = m_order.size() - 1 - i;
    const size_t col = static_cast<size_t>(m_nSortColumn);
    std::vector<std::string> keys(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        std::string key = EntryFields(m_entries[i])[col];
        if (col == 3 || col == 4 || col == 7) {
            // Counts sort as numbers: padded, an empty one first.
            key = key.empty() ? std::string()
                              : std::string(20 - std::min<size_t>(key.size(), 20), '0') + key;
        } else {
            std::transform(key.begin(), key.end(), key.begin(),
                           [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        }
        keys[i] = std::move(key);
    }
    const bool bAscending = m_bAscending;
    std::stable_sort(m_order.begin(), m_order.end(), [&](size_t a, size_t b) {
        return bAscending ? keys[a] < keys[b] : keys[b] < keys[a];
    });
}

void CHistoryDlg::SortBy(int nColumn, bool bAscending) {
    const std::vector<int> rows = SelectedRows();
    std::vector<size_t> selected;
    for (int row : rows)
        selected.push_back(EntryIndex(row));
    m_nSortColumn = nColumn >= 0 && nColumn < kHistoryFields ? nColumn : -1;
    m_bAscending = bAscending;
    Sort();
    HWND hList = List();
    // The header's arrow shows the order.
    if (HWND hHeader = reinterpret_cast<HWND>(::SendMessageW(hList, LVM_GETHEADER, 0, 0))) {
        for (int i = 0; i < kHistoryFields; ++i) {
            HDITEMW item{};
            item.mask = HDI_FORMAT;
            ::SendMessageW(hHeader, HDM_GETITEMW, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(&item));
            item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
            if (i == m_nSortColumn)
                item.fmt |= m_bAscending ? HDF_SORTUP : HDF_SORTDOWN;
            ::SendMessageW(hHeader, HDM_SETITEMW, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(&item));
        }
    }
    // The selection stays on its entries.
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>(&none));
    for (int row = 0; row < GetRowCount() && !selected.empty(); ++row) {
        if (std::find(selected.begin(), selected.end(), EntryIndex(row)) == selected.end())
            continue;
        LVITEMW on{};
        on.stateMask = LVIS_SELECTED;
        on.state = LVIS_SELECTED;
        ::SendMessageW(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&on));
    }
    ::InvalidateRect(hList, nullptr, FALSE);
}

BOOL CHistoryDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    HWND hList = List();
    // The rows' texts are asked for in UTF-16, so every name shows.
    ::SendMessageW(hList, LVM_SETUNICODEFORMAT, TRUE, 0);
    ListView_SetExtendedListViewStyle(hList, LVS_EX_FULLROWSELECT);
    m_uDpi = GetWindowDpi(m_hWnd);
    for (int i = 0; i < kHistoryFields; ++i) {
        std::wstring title = Wide(kHistoryColumns[i]);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        col.fmt = i == 3 || i == 4 || i == 7 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        col.cx = ScaleToDpi(kColumnWidths[i], m_uDpi);
        col.pszText = title.data();
        col.iSubItem = i;
        ::SendMessageW(hList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&col));
    }

    // Told of new entries from here on; those the reader gets are skipped.
    m_history.SetListener(m_hWnd, WM_HISTORY_ADDED);
    m_read = std::make_shared<ReadSlot>();
    m_read->hWnd = m_hWnd;
    try {
        std::thread([slot = m_read, read = m_history.Reader()] {
            size_t nSeen = 0;
            std::vector<CHistoryEntry> entries;
            try {
                entries = read(nSeen);
            } catch (...) {
                // Shown empty rather than not at all.
            }
            std::lock_guard<std::mutex> lock(slot->lock);
            slot->entries = std::move(entries);
            slot->nSeen = nSeen;
            if (slot->hWnd)
                PostMessageW(slot->hWnd, WM_HISTORY_READ, 0, 0);
        }).detach();
    } catch (...) {
        // No thread for it: read here.
        m_read->entries = m_history.ReadAll(m_read->nSeen);
        PostMessageW(m_hWnd, WM_HISTORY_READ, 0, 0);
    }

    RECT client{};
    GetClientRect(&client);
    m_initialClient = {client.right, client.bottom};
    RECT window{};
    GetWindowRect(m_hWnd, &window);
    m_minWindow = {(window.right - window.left) / 2, (window.bottom - window.top) / 2};
    m_listRect = ChildRect(m_hWnd, hList);
    m_okRect = ChildRect(m_hWnd, GetDlgItem(IDOK));
    m_cancelRect = ChildRect(m_hWnd, GetDlgItem(IDCANCEL));
    return TRUE;
}

LRESULT CHistoryDlg::OnDestroy(WPARAM, LPARAM) {
    m_history.SetListener(nullptr, 0);
    if (m_read) {
        std::lock_guard<std::mutex> lock(m_read->lock);
        m_read->hWnd = nullptr;
    }
    return Default();
}

LRESULT CHistoryDlg::OnHistoryRead(WPARAM, LPARAM) {
    if (m_bRead || !m_read)
        return 0;
    {
        std::lock_guard<std::mutex> lock(m_read->lock);
        m_entries = std::move(m_read->entries);
        m_nSeen = m_read->nSeen;
    }
    m_bRead = true;
    AddRecent();
    Sort();
    ::SendMessageW(List(), LVM_SETITEMCOUNT, m_entries.size(), 0);
    return 0;
}

int CHistoryDlg::AddRecent() {
    std::vector<CHistoryEntry> added = m_history.EntriesSince(m_nSeen);
    const size_t nBefore = m_entries.size();
    m_entries.insert(m_entries.end(), std::make_move_iterator(added.begin()),
                     std::make_move_iterator(added.end()));
    FoldPageLines(m_entries, nBefore);
    return static_cast<int>(m_entries.size() - nBefore);
}

LRESULT CHistoryDlg::OnNotify(WPARAM, LPARAM lParam) {
    const NMHDR* pHdr = reinterpret_cast<const NMHDR*>(lParam);
    if (!pHdr || pHdr->idFrom != IDC_HISTORY_LIST)
        return Default();
    if (pHdr->code == LVN_GETDISPINFOW) {
        auto* pInfo = reinterpret_cast<NMLVDISPINFOW*>(lParam);
        if ((pInfo->item.mask & LVIF_TEXT) && pInfo->item.pszText && pInfo->item.cchTextMax > 0) {
            m_cell = CellText(pInfo->item.iItem, pInfo->item.iSubItem);
            lstrcpynW(pInfo->item.pszText, m_cell.c_str(), pInfo->item.cchTextMax);
        }
        return 0;
    }
    if (pHdr->code == LVN_GETDISPINFOA) {
        auto* pInfo = reinterpret_cast<NMLVDISPINFOA*>(lParam);
        if ((pInfo->item.mask & LVIF_TEXT) && pInfo->item.pszText && pInfo->item.cchTextMax > 0) {
            m_cell = CellText(pInfo->item.iItem, pInfo->item.iSubItem);
            std::string narrow;
            WideToNarrow(m_cell.data(), static_cast<int>(m_cell.size()), CP_ACP, narrow);
            lstrcpynA(pInfo->item.pszText, narrow.c_str(), pInfo->item.cchTextMax);
        }
        return 0;
    }
    if (pHdr->code == LVN_COLUMNCLICK) {
        const int nColumn = reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem;
        SortBy(nColumn, nColumn == m_nSortColumn ? !m_bAscending : true);
        return 0;
    }
    if (pHdr->code == NM_DBLCLK) {
        OnOK();
        return 0;
    }
    return Default();
}

std::vector<int> CHistoryDlg::SelectedRows() const {
    std::vector<int> rows;
    HWND hList = List();
    int i = -1;
    while ((i = static_cast<int>(::SendMessageW(hList, LVM_GETNEXTITEM, static_cast<WPARAM>(i),
                                                LVNI_SELECTED))) >= 0)
        rows.push_back(i);
    return rows;
}

LRESULT CHistoryDlg::OnHistoryAdded(WPARAM, LPARAM) {
    if (!m_bRead)
        return 0;
    // New rows come in at the top: the selection moves down with its
    // entries. A page count only changes its job's row.
    const std::vector<int> selected = SelectedRows();
    HWND hList = List();
    const int nFocus = static_cast<int>(
        ::SendMessageW(hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (m_nSortColumn >= 0) {
        // Sorted: the new entries take their places in the order.
        AddRecent();
        ::SendMessageW(hList, LVM_SETITEMCOUNT, m_entries.size(), LVSICF_NOSCROLL);
        SortBy(m_nSortColumn, m_bAscending);
        return 0;
    }
    const int nAdded = AddRecent();
    if (nAdded == 0) {
        ::InvalidateRect(hList, nullptr, FALSE);
        return 0;
    }
    ::SendMessageW(hList, LVM_SETITEMCOUNT, m_entries.size(), LVSICF_NOSCROLL);
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>(&none));
    for (int row : selected) {
        LVITEMW on{};
        on.stateMask = LVIS_SELECTED;
        on.state = LVIS_SELECTED;
        ::SendMessageW(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(row + nAdded),
                       reinterpret_cast<LPARAM>(&on));
    }
    if (nFocus >= 0) {
        LVITEMW focus{};
        focus.stateMask = LVIS_FOCUSED;
        focus.state = LVIS_FOCUSED;
        ::SendMessageW(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(nFocus + nAdded),
                       reinterpret_cast<LPARAM>(&focus));
    }
    ::InvalidateRect(hList, nullptr, FALSE);
    return 0;
}

void CHistoryDlg::OnOK() {
    std::vector<CQueuedJob> jobs;
    CString missing;
    int nMissing = 0;
    std::vector<std::wstring> unnamable;
    CString queued;
    int nQueued = 0;
    for (int row : SelectedRows()) {
        const CHistoryEntry& entry = EntryAtRow(row);
        // A failed job stays in the queue with the copies it did not send.
        if (entry.result.rfind(ResultFailed(""), 0) == 0 && m_stillQueued &&
            m_stillQueued(Wide(entry.path))) {
            queued += "\n" + Utf8ToAnsi(entry.name);
            ++nQueued;
            continue;
        }
        // The one check of every way into the queue: gone, a folder, or a
        // name the queue cannot keep is not queued (never a name with "?").
        const PathCheck::Result checked = PathCheck::Check(Wide(entry.path));
        if (checked.verdict == PathCheck::Verdict::Unnamable) {
            unnamable.push_back(PathCheck::RefusalText(checked.verdict, Wide(entry.path)));
            continue;
        }
        if (checked.verdict != PathCheck::Verdict::Ok) {
            missing += "\n" + Utf8ToAnsi(entry.path);
            ++nMissing;
            continue;
        }
        const int nCopies = std::clamp(entry.copiesAsked, 1, 100000);
        jobs.emplace_back(Utf8ToAnsi(entry.name), checked.strPath, nCopies);
    }
    if (!jobs.empty() && m_queueAgain)
        m_queueAgain(jobs);
    if (nMissing > 0) {
        const CString text = (nMissing == 1 ? "This file no longer exists and was not queued:"
                                            : "These files no longer exist and were not queued:") +
                             missing;
        ShowMessageBox(m_hWnd, text, MB_OK | MB_ICONEXCLAMATION);
    }
    if (nQueued > 0) {
        const CString text =
            (nQueued == 1 ? "This job is still in the queue and was not queued again:"
                          : "These jobs are still in the queue and were not queued again:") +
            queued;
        ShowMessageBox(m_hWnd, text, MB_OK | MB_ICONEXCLAMATION);
    }
    if (!unnamable.empty()) {
        std::wstring text = unnamable.front();
        for (size_t i = 1; i < unnamable.size(); ++i)
            text += L"\n\n" + unnamable[i];
        ShowMessageBoxW(m_hWnd, text.c_str(), L"Tolvar Morvane", MB_OK | MB_ICONEXCLAMATION);
    }
}

void CHistoryDlg::Layout(int cx, int cy) {
    const int dx = cx - m_initialClient.cx;
    const int dy = cy - m_initialClient.cy;
    HWND hList = List();
    if (!hList)
        return;
    MoveWindow(hList, m_listRect.left, m_listRect.top, m_listRect.right - m_listRect.left + dx,
               m_listRect.bottom - m_listRect.top + dy, TRUE);
    const RECT* buttons[] = {&m_okRect, &m_cancelRect};
    const int ids[] = {IDOK, IDCANCEL};
    for (int i = 0; i < 2; ++i) {
        const RECT& r = *buttons[i];
        MoveWindow(GetDlgItem(ids[i]), r.left + dx, r.top + dy, r.right - r.left, r.bottom - r.top,
                   TRUE);
    }
}

LRESULT CHistoryDlg::OnSize(WPARAM wParam, LPARAM lParam) {
    if (wParam != SIZE_MINIMIZED && m_initialClient.cx > 0)
        Layout(LOWORD(lParam), HIWORD(lParam));
    return 0;
}

void CHistoryDlg::OnDpiChanged(UINT dpi, const RECT& suggested) {
    const UINT old = m_uDpi;
    if (dpi != 0 && old != 0 && dpi != old) {
        const auto scale = [&](LONG v) {
            return static_cast<LONG>(MulDiv(v, static_cast<int>(dpi), static_cast<int>(old)));
        };
        for (RECT* r : {&m_listRect, &m_okRect, &m_cancelRect})
            *r = RECT{scale(r->left), scale(r->top), scale(r->right), scale(r->bottom)};
        m_initialClient = {scale(m_initialClient.cx), scale(m_initialClient.cy)};
        m_minWindow = {scale(m_minWindow.cx), scale(m_minWindow.cy)};
        if (HWND hList = List()) {
            for (int i = 0; i < kHistoryFields; ++i) {
                const int cx = ListView_GetColumnWidth(hList, i);
                ListView_SetColumnWidth(hList, i, scale(cx));
            }
        }
        m_uDpi = dpi;
    }
    CDialog::OnDpiChanged(dpi, suggested);
}

LRESULT CHistoryDlg::OnGetMinMaxInfo(WPARAM, LPARAM lParam) {
    auto* pInfo = reinterpret_cast<MINMAXINFO*>(lParam);
    if (m_minWindow.cx > 0) {
        pInfo->ptMinTrackSize.x = m_minWindow.cx;
        pInfo->ptMinTrackSize.y = m_minWindow.cy;
    }
    return 0;
}
