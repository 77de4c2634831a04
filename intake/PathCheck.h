// The one check every way into the queue makes of a path (a drop, the
// command line, the watched folder, "Queue Again"): may it be queued, and
// in what form is it kept. The queue keeps paths in the ANSI code page; a
// path at or beyond MAX_PATH is kept with the prefix that lifts the limit,
// so the worker reaches it whatever its length.
// Threads: plain functions; any thread.
#pragma once

#include "framework/String.h"

#include <windows.h>

#include <string>

namespace PathCheck {

enum class Verdict {
    Ok,
    Missing,   // nothing there (or it cannot be looked at)
    Folder,    // a folder, not a file
    Unnamable, // a character has no exact form in the ANSI code page
};

struct Result {
    Verdict verdict = Verdict::Missing;
    // The form the queue keeps; empty when the path has none (a character
    // outside the code page). Filled whatever the verdict.
    CString strPath;
};

// The path as the worker's file functions reach it: one at or beyond
// MAX_PATH gets the prefix that lifts the limit. A full path is expected.
std::wstring Reachable(const std::wstring& full);
// The path's exact form in the code page; false when a character has none.
bool ToCodePage(const std::wstring& wide, UINT codePage, CString& out);
// Whether the path may be queued, and the form kept when it may.
Result Check(const std::wstring& file);
// What the user is told when a path is refused (names the path).
std::wstring RefusalText(Verdict verdict, const std::wstring& file);

} // namespace PathCheck
