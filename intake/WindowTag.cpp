#include "intake/WindowTag.h"

#include "queue/StoreOwner.h"

namespace {

struct FindTag {
    const char* tag;
    HWND found;
};

BOOL CALLBACK FindTaggedWindow(HWND hWnd, LPARAM lParam) {
    auto* pFind = reinterpret_cast<FindTag*>(lParam);
    if (!GetPropA(hWnd, pFind->tag))
        return TRUE;
    pFind->found = hWnd;
    return FALSE;
}

} // namespace

namespace WindowTag {

CString Name(const CString& strKeyPath) {
    return CStoreOwner::ClaimName(strKeyPath);
}

void Mark(HWND hWnd, const CString& strKeyPath) {
    SetPropA(hWnd, Name(strKeyPath), reinterpret_cast<HANDLE>(1));
}

HWND FindOwnerWindow(const CString& strKeyPath) {
    const CString tag = Name(strKeyPath);
    FindTag find{tag, nullptr};
    EnumWindows(FindTaggedWindow, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

} // namespace WindowTag
