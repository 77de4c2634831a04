#include "pipe/PipeModule.h"

#include <atomic>

namespace {
std::atomic<LONG> g_cObjects{0};
std::atomic<LONG> g_cLocks{0};
std::atomic<HMODULE> g_hModule{nullptr};
std::atomic<DWORD> g_dwConnectMs{PipeTimeouts().dwConnectMs};
std::atomic<DWORD> g_dwSendMs{PipeTimeouts().dwSendMs};
std::atomic<DWORD> g_dwCloseMs{PipeTimeouts().dwCloseMs};
} // namespace

void PipeModuleAddObject() {
    ++g_cObjects;
}
void PipeModuleReleaseObject() {
    --g_cObjects;
}

void PipeModuleLock(bool bLock) {
    if (bLock)
        ++g_cLocks;
    else
        --g_cLocks;
}

bool PipeModuleCanUnload() {
    return g_cObjects.load() == 0 && g_cLocks.load() == 0;
}

HMODULE PipeModuleHandle() {
    return g_hModule.load();
}
void SetPipeModuleHandle(HMODULE hModule) {
    g_hModule.store(hModule);
}

PipeTimeouts GetPipeDefaultTimeouts() {
    PipeTimeouts t;
    t.dwConnectMs = g_dwConnectMs.load();
    t.dwSendMs = g_dwSendMs.load();
    t.dwCloseMs = g_dwCloseMs.load();
    return t;
}

void SetPipeDefaultTimeouts(DWORD dwConnectMs, DWORD dwSendMs, DWORD dwCloseMs) {
    const PipeTimeouts builtIn;
    g_dwConnectMs = dwConnectMs ? dwConnectMs : builtIn.dwConnectMs;
    g_dwSendMs = dwSendMs ? dwSendMs : builtIn.dwSendMs;
    g_dwCloseMs = dwCloseMs ? dwCloseMs : builtIn.dwCloseMs;
}
