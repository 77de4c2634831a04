// The pipe component as the test prefix has it registered: where the
// registration points, the DLL itself (loaded by path, to reach its
// exports), and a COM apartment for the calling thread.
// Tests using the registered component share it: give them RESOURCE_LOCK
// pipecomponent (and port9100 when they talk to 127.0.0.1:9100).
#pragma once

#include "printers/PipeInterfaces.h"

#include <windows.h>
#include <objbase.h>

#include <string>

// HKCR\CLSID\{class}\InprocServer32: the default value, or a named one.
inline std::wstring PipeServerRegistryValue(const wchar_t* pszName) {
    wchar_t clsid[64] = L"";
    StringFromGUID2(CLSID_MorvanePipe, clsid, 64);
    const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
    wchar_t value[1024] = L"";
    DWORD cb = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), pszName, RRF_RT_REG_SZ, nullptr, value, &cb) !=
        ERROR_SUCCESS)
        return std::wstring();
    return value;
}

class ComApartment {
public:
    explicit ComApartment(DWORD dwModel = COINIT_MULTITHREADED)
        : m_hr(CoInitializeEx(nullptr, dwModel)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool ok() const { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};

// The registered DLL, kept loaded while this object lives.
class PipeServerModule {
public:
    PipeServerModule() : m_h(LoadLibraryW(PipeServerRegistryValue(nullptr).c_str())) {}
    ~PipeServerModule() {
        if (m_h) {
            SetDefaultTimeouts(0, 0, 0);
            FreeLibrary(m_h);
        }
    }
    PipeServerModule(const PipeServerModule&) = delete;
    PipeServerModule& operator=(const PipeServerModule&) = delete;

    bool ok() const { return m_h != nullptr; }
    template <typename Fn> Fn Export(const char* pszName) const {
        return m_h ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_h, pszName)))
                   : nullptr;
    }
    // The component's process-wide time-outs (0 restores a default).
    bool SetDefaultTimeouts(DWORD dwConnectMs, DWORD dwSendMs, DWORD dwCloseMs) const {
        auto fn = Export<HRESULT(WINAPI*)(DWORD, DWORD, DWORD)>("MorvanePipeSetDefaultTimeouts");
        return fn && SUCCEEDED(fn(dwConnectMs, dwSendMs, dwCloseMs));
    }

private:
    HMODULE m_h;
};
