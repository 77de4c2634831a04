#include "framework/Dpi.h"

namespace {
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

template <typename Fn> Fn User32Entry(const char* pszName) {
    HMODULE hUser = GetModuleHandleA("user32.dll");
    if (!hUser)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(hUser, pszName)));
}

GetDpiForWindowFn DpiForWindowEntry() {
    static const GetDpiForWindowFn fn = User32Entry<GetDpiForWindowFn>("GetDpiForWindow");
    return fn;
}

GetSystemMetricsForDpiFn MetricsForDpiEntry() {
    static const GetSystemMetricsForDpiFn fn =
        User32Entry<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    return fn;
}
} // namespace

int ScaleToDpi(int nAt96, UINT dpi) {
    if (dpi == 0 || dpi == kDesignDpi)
        return nAt96;
    const long long scaled = static_cast<long long>(nAt96) * dpi;
    const long long half = kDesignDpi / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / kDesignDpi
                                        : -((-scaled + half) / kDesignDpi));
}

UINT GetSystemDpi() {
    UINT dpi = 0;
    if (HDC hdc = GetDC(nullptr)) {
        dpi = static_cast<UINT>(GetDeviceCaps(hdc, LOGPIXELSY));
        ReleaseDC(nullptr, hdc);
    }
    return dpi > 0 ? dpi : kDesignDpi;
}

UINT GetWindowDpi(HWND hWnd) {
    if (hWnd) {
        if (GetDpiForWindowFn fn = DpiForWindowEntry()) {
            if (const UINT dpi = fn(hWnd))
                return dpi;
        }
    }
    return GetSystemDpi();
}

bool SystemScalesDialogs() {
    using GetContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using EqualFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
    static const GetContextFn get = User32Entry<GetContextFn>("GetThreadDpiAwarenessContext");
    static const EqualFn equal = User32Entry<EqualFn>("AreDpiAwarenessContextsEqual");
    return get && equal && equal(get(), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

int GetSystemMetricForDpi(int nIndex, UINT dpi) {
    if (GetSystemMetricsForDpiFn fn = MetricsForDpiEntry())
        return fn(nIndex, dpi);
    const UINT system = GetSystemDpi();
    const int value = GetSystemMetrics(nIndex);
    return dpi == system ? value : MulDiv(value, static_cast<int>(dpi), static_cast<int>(system));
}
