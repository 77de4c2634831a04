// The pipe component's registration: HKEY_CLASSES_ROOT\CLSID\{class id}
// with its InprocServer32 key naming this DLL and ThreadingModel "Both", so
// a multithreaded apartment creates the object in process and calls it
// directly. Called by DllRegisterServer / DllUnregisterServer (regsvr32).
#pragma once

#include <windows.h>

HRESULT RegisterPipeServer(HMODULE hModule);
// Removes the class key; success also when it was not there.
HRESULT UnregisterPipeServer();
