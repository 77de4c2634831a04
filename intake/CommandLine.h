// The command line of Morvane.exe and its hand-over to a running window.
//
//   Morvane.exe [/copies:N] [/start] [/quiet] [/minimized] FILE...
//
// Each FILE is queued at the end, in the order given, with N copies (1 to
// 100000; without /copies the count the window's "Copies:" field holds), as
// a drop on the window does; /start presses Start once they are queued;
// /quiet shows no message (the exit code tells); /minimized starts the
// window hidden in the notification area (it means nothing to a window
// that already runs). Switches are not case
// sensitive and may stand anywhere; every other argument is a file.
//
// A request travels as one WM_COPYDATA message (kCopyDataTag) from the
// process that was started to the window that owns the queue: the files as
// full paths (resolved against the starting process's current folder) in
// UTF-16, so nothing is lost on the way; the window decides what it can
// queue. The window answers with an exit code (plus one, so that a window
// that did not handle the message, which answers 0, is told apart).
// A request carries the tick (GetTickCount64, the same in every process)
// after which the window must not act on it: the sender gives up later
// than that, so a request the sender reported as not taken is never
// queued behind its back.
// Threads: plain functions and values; any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The process's exit codes.
enum ECommandLineExit : int {
    kExitQueued = 0,       // every file was queued (or there was none)
    kExitBadArguments = 2, // a switch or count not understood: usage shown
    kExitBadFile = 3,      // a file does not exist or is a folder
    kExitNotTaken = 4,     // the running window did not take the files in time
    kExitUnnamable = 5,    // a file's name cannot be written in the ANSI code page
};

struct CQueueRequest {
    // 0: the count in the window's "Copies:" field.
    int nCopies = 0;
    bool bStart = false;
    bool bQuiet = false;
    // Not handed over: only the process's own window starts hidden.
    bool bMinimized = false;
    // Full paths, in the order given.
    std::vector<std::wstring> files;
    // GetTickCount64 after which the request must be left alone; 0: never.
    ULONGLONG nAcceptUntil = 0;
};

constexpr ULONG_PTR kCopyDataTag = 0x4D525631; // "MRV1"
constexpr int kMaxCommandLineCopies = 100000;

// Reads the arguments (without the program's name). False for arguments it
// does not understand; strError then says which.
bool ParseCommandLine(const std::vector<std::wstring>& args, CQueueRequest& request,
                      std::wstring& strError);
// The arguments of this process, from its wide command line.
std::vector<std::wstring> ProcessArguments();
// Makes every file a full path against the current folder; false (strFile
// names it) when one cannot be.
bool ResolveFiles(CQueueRequest& request, std::wstring& strFile);

std::vector<BYTE> EncodeRequest(const CQueueRequest& request);
// False (request emptied) when the bytes are not one whole request.
bool DecodeRequest(const void* pData, size_t cb, CQueueRequest& request);

// The text shown for bad arguments.
std::wstring UsageText(const std::wstring& strError);

// Hands the request to a window that owns the queue: waits up to nWaitMs
// for the store's owner to show its window and for that window to answer.
// Returns the exit code; kExitNotTaken when no window took it in time. When
// the store turns out to have no owner at all, returns -1 (the caller is to
// be the owner).
int HandOverRequest(const CQueueRequest& request, DWORD nWaitMs);
