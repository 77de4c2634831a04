// g_csDisplay: the process-wide display lock. It serialises rebuilds of the
// job list rows; where it stands among the other locks: the lock rules in
// printloop/PrintLoopThread.h. The application object creates it
// during static initialisation (InitDisplayLock, which only the first call
// acts on); it is never deleted, so it outlives every thread that uses it.
#pragma once

#include <windows.h>

extern CRITICAL_SECTION g_csDisplay;

// Initialises g_csDisplay once per process; later calls do nothing.
void InitDisplayLock();
