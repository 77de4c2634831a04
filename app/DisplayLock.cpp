#include "app/DisplayLock.h"

CRITICAL_SECTION g_csDisplay;

void InitDisplayLock() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(
        &once,
        [](PINIT_ONCE, PVOID, PVOID*) -> BOOL {
            InitializeCriticalSection(&g_csDisplay);
            return TRUE;
        },
        nullptr, nullptr);
}
