// The entry points of MorvanePipe.dll, the pipe component's in-process
// server.
#include "pipe/ClassFactory.h"
#include "pipe/PipeModule.h"
#include "pipe/Registration.h"
#include "printers/PipeInterfaces.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pReserved*/) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        SetPipeModuleHandle(hInstance);
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_MorvanePipe))
        return CLASS_E_CLASSNOTAVAILABLE;
    return PipeClassFactory().QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return PipeModuleCanUnload() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    return RegisterPipeServer(PipeModuleHandle());
}

STDAPI DllUnregisterServer() {
    return UnregisterPipeServer();
}

// Sets the time-outs that new objects start with, for the whole process
// (milliseconds; 0 restores the built-in default: connect 10 s, send 30 s
// without progress, close 10 s). Meant for tests and diagnostics; a
// configuration document's own values still win.
extern "C" HRESULT WINAPI MorvanePipeSetDefaultTimeouts(DWORD dwConnectMs, DWORD dwSendMs,
                                                        DWORD dwCloseMs) {
    SetPipeDefaultTimeouts(dwConnectMs, dwSendMs, dwCloseMs);
    return S_OK;
}
