#include "app/DisplayLock.h"

CRITICAL_SECTION g_csDisplay;

namespace {
BOOL CALLBACK InitOnce(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g_csDisplay);
    return TRUE;
}
} // namespace

void InitDisplayLock() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, InitOnce, nullptr, nullptr);
}
