// Process-wide state of the pipe component: the live object and lock counts
// that decide whether the DLL may be unloaded, its module handle, and the
// default time-outs that a configuration document may override.
// Threads: every function may be called from any thread.
#pragma once

#include "pipe/Transport.h"

#include <windows.h>

void PipeModuleAddObject();
void PipeModuleReleaseObject();
void PipeModuleLock(bool bLock);
// True when no object and no lock is alive.
bool PipeModuleCanUnload();

HMODULE PipeModuleHandle();
void SetPipeModuleHandle(HMODULE hModule);

// The time-outs a new object starts with.
PipeTimeouts GetPipeDefaultTimeouts();
// A zero value restores that built-in default.
void SetPipeDefaultTimeouts(DWORD dwConnectMs, DWORD dwSendMs, DWORD dwCloseMs);
