// UniqueHandle: one move-only owner for one OS handle, closed by the
// function given as a template argument when the owner goes or is reset.
// The empty value (what the owner holds when it holds nothing, and what
// the API returns on failure) is part of the type: a constant of T, or a
// function returning it for values that are no constant expression
// (INVALID_HANDLE_VALUE). So an API's failure result can be stored as it
// comes, and the owner is simply empty.
// One alias per kind of handle below; each owner belongs to one thread at a
// time.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <setupapi.h>
#include <oleauto.h>

#include <type_traits>
#include <utility>

template <typename T, auto Close, auto Empty = T()> class UniqueHandle {
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

    // The value an empty owner holds.
    static T invalid() {
        if constexpr (std::is_invocable_r_v<T, decltype(Empty)>)
            return Empty();
        else
            return Empty;
    }

    T get() const { return m_h; }
    bool valid() const { return m_h != invalid(); }
    explicit operator bool() const { return valid(); }

    // For APIs that return the handle through an out-parameter.
    T* put() {
        reset();
        return &m_h;
    }
    T release() { return std::exchange(m_h, invalid()); }
    void reset(T h = invalid()) {
        T old = std::exchange(m_h, h);
        if (old != invalid())
            Close(old);
    }

private:
    T m_h = invalid();
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
// What CreateFile and SetupDiGetClassDevs return on failure.
inline HANDLE InvalidHandleValue() {
    return INVALID_HANDLE_VALUE;
}
} // namespace handle_detail

using UniqueHKey = UniqueHandle<HKEY, handle_detail::CloseKey, nullptr>;
// Kernel objects whose "none" is null: threads, events.
using UniqueHandleNull = UniqueHandle<HANDLE, handle_detail::CloseKernel, nullptr>;
// Files and devices from CreateFile: empty at INVALID_HANDLE_VALUE, so a
// failed CreateFile's result is stored as it is. A different type from
// UniqueHandleNull: the two empties never mix.
using UniqueFile =
    UniqueHandle<HANDLE, handle_detail::CloseKernel, handle_detail::InvalidHandleValue>;
// Device information sets (setupapi; link setupapi): empty at
// INVALID_HANDLE_VALUE, what SetupDiGetClassDevs returns on failure.
using UniqueDevInfo =
    UniqueHandle<HDEVINFO, handle_detail::DestroyDevInfo, handle_detail::InvalidHandleValue>;
// Winsock sockets (link ws2_32).
using UniqueSocket = UniqueHandle<SOCKET, handle_detail::CloseSocket, INVALID_SOCKET>;
// Strings from SysAllocString and COM out-parameters (link oleaut32).
using UniqueBstr = UniqueHandle<BSTR, handle_detail::FreeBstr, nullptr>;
