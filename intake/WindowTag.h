// The window tag: a running owner of the queue marks its window with a
// window property named after its claim of the store, so that a second
// start can find the window to hand its command line to.
// Threads: plain functions; any thread (marking: the window's thread).
#pragma once

#include "framework/String.h"

#include <windows.h>

namespace WindowTag {
// The property's name for the store at that key path: the claim name.
CString Name(const CString& strKeyPath);
// Marks the window as the owner of that store.
void Mark(HWND hWnd, const CString& strKeyPath);
// The top-level window that carries the tag, or null.
HWND FindOwnerWindow(const CString& strKeyPath);
} // namespace WindowTag
