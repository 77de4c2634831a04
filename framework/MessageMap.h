// The message map of a window class: a static table of the messages and
// control notifications the class handles, searched before the base class's
// map. A class declares DECLARE_MESSAGE_MAP() in its body and defines the
// table in its source:
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_BN_CLICKED(1006, OnAdd)          // void OnAdd()
//       ON_MESSAGE(WM_DROPFILES, OnDrop)    // LRESULT OnDrop(WPARAM, LPARAM)
//   END_MESSAGE_MAP()
//
// A message handler that wants the system's default handling as well
// returns Default(). Handlers run on the window's thread.
#pragma once

#include <windows.h>

#include <iterator>

template <class T> struct CMessageMapEntry {
    UINT nMessage;
    UINT nCode; // control notification code, for WM_COMMAND entries
    UINT nID;   // control or command id, for WM_COMMAND entries
    void (T::*pfnCommand)();
    LRESULT (T::*pfnMessage)(WPARAM, LPARAM);
};

// Runs the first entry that matches; TRUE when one did.
template <class T>
BOOL DispatchMessageMap(T* pThis, const CMessageMapEntry<T>* pEntries, size_t nEntries,
                        UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    for (size_t i = 0; i < nEntries; ++i) {
        const CMessageMapEntry<T>& e = pEntries[i];
        if (e.nMessage == 0 || e.nMessage != message)
            continue;
        if (message == WM_COMMAND && e.pfnCommand) {
            if (LOWORD(wParam) != e.nID || HIWORD(wParam) != e.nCode)
                continue;
            (pThis->*e.pfnCommand)();
            lResult = 0;
            return TRUE;
        }
        if (e.pfnMessage) {
            lResult = (pThis->*e.pfnMessage)(wParam, lParam);
            return TRUE;
        }
    }
    return FALSE;
}

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    BOOL OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    BOOL theClass::OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {    \
        using ThisClass = theClass;                                                                \
        using TheBaseClass = baseClass;                                                            \
        static const CMessageMapEntry<ThisClass> entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, nullptr, nullptr }                                                                  \
    }                                                                                              \
    ;                                                                                              \
    if (DispatchMessageMap(this, entries, std::size(entries), message, wParam, lParam, lResult))   \
        return TRUE;                                                                               \
    return TheBaseClass::OnMessageMap(message, wParam, lParam, lResult);                           \
    }

#define ON_COMMAND(id, fn) {WM_COMMAND, 0, static_cast<UINT>(id), &ThisClass::fn, nullptr},
#define ON_BN_CLICKED(id, fn)                                                                      \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), &ThisClass::fn, nullptr},
#define ON_LBN_SELCHANGE(id, fn)                                                                   \
    {WM_COMMAND, LBN_SELCHANGE, static_cast<UINT>(id), &ThisClass::fn, nullptr},
#define ON_EN_CHANGE(id, fn)                                                                       \
    {WM_COMMAND, EN_CHANGE, static_cast<UINT>(id), &ThisClass::fn, nullptr},
#define ON_MESSAGE(msg, fn) {static_cast<UINT>(msg), 0, 0, nullptr, &ThisClass::fn},
