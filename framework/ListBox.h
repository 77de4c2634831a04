// CListBox: a list box control. Owner-drawn list boxes paint their rows in
// DrawItem, which the dialog hands WM_DRAWITEM to when the control was bound
// with DDX_Control. Threads: the control's thread only.
#pragma once

#include "framework/Wnd.h"

class CListBox : public CWnd {
public:
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int nSelect);
    int AddString(const char* pszItem);
    DWORD_PTR GetItemData(int nIndex) const;
    void ResetContent();
    void SetRedraw(BOOL bRedraw);

    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
    virtual void MeasureItem(LPMEASUREITEMSTRUCT lpMeasureItemStruct);

    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};
