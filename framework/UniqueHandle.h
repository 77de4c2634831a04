// UniqueHandle: one move-only owner for one OS handle, closed by the
// function given as a template argument when the owner goes or is reset.
// One alias per kind of handle below; each owner belongs to one thread at a
// time.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <setupapi.h>
#include <oleauto.h>

#include <utility>

template <typename T, auto Close, T Invalid = T()> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T h) : m_h(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    T get() const { return m_h; }
    bool valid() const { return m_h != Invalid; }
    explicit operator bool() const { return valid(); }

    // For APIs that return the handle through an out-parameter.
    T* put() {
        reset();
        return &m_h;
    }
    T release() { return std::exchange(m_h, Invalid); }
    void reset(T h = Invalid) {
        T old = std::exchange(m_h, h);
        if (old != Invalid)
            Close(old);
    }

private:
    T m_h = Invalid;
};

namespace handle_detail {
inline void CloseKey(HKEY h) {
    RegCloseKey(h);
}
inline void CloseKernel(HANDLE h) {
    CloseHandle(h);
}
inline void DestroyDevInfo(HDEVINFO h) {
    SetupDiDestroyDeviceInfoList(h);
}
inline void CloseSocket(SOCKET s) {
    closesocket(s);
}
inline void FreeBstr(BSTR b) {
    SysFreeString(b);
}
} // namespace handle_detail

using UniqueHKey = UniqueHandle<HKEY, handle_detail::CloseKey, nullptr>;
// Kernel objects whose "none" is null: threads, events.
using UniqueHandleNull = UniqueHandle<HANDLE, handle_detail::CloseKernel, nullptr>;
// Files and devices from CreateFile: store INVALID_HANDLE_VALUE as null.
using UniqueFile = UniqueHandle<HANDLE, handle_detail::CloseKernel, nullptr>;
// Device information sets (setupapi; link setupapi): store
// INVALID_HANDLE_VALUE as null.
using UniqueDevInfo = UniqueHandle<HDEVINFO, handle_detail::DestroyDevInfo, nullptr>;
// Winsock sockets (link ws2_32).
using UniqueSocket = UniqueHandle<SOCKET, handle_detail::CloseSocket, INVALID_SOCKET>;
// Strings from SysAllocString and COM out-parameters (link oleaut32).
using UniqueBstr = UniqueHandle<BSTR, handle_detail::FreeBstr, nullptr>;
