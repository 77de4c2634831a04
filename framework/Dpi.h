// DPI: the dots per inch a window is shown at, and lengths laid out at 96
// DPI (the design size) scaled to it. The per-window entry points
// (GetDpiForWindow, GetSystemMetricsForDpi) are looked up at run time: on a
// system without them every window has the system DPI.
//
// No ownership; the looked-up entry points are found once per process and
// may be read from any thread.
#pragma once

#include <windows.h>

// The design DPI: the lengths the program's code names are at this DPI.
constexpr UINT kDesignDpi = 96;

// A length at 96 DPI at this DPI, rounded to the nearest pixel (halves away
// from zero); a DPI of 0 (unknown) leaves it as it is.
int ScaleToDpi(int nAt96, UINT dpi);

// The DPI of the whole screen, as the system reports it to this process.
UINT GetSystemDpi();

// The DPI of the monitor a window is on (the system DPI without a window or
// without the per-window entry point).
UINT GetWindowDpi(HWND hWnd);

// True when the system itself scales a dialog's font and controls at a
// change of DPI (per-monitor v2 awareness on this thread); false on
// systems before it, where the dialog does so itself.
bool SystemScalesDialogs();

// A system metric (SM_CXICON, ...) at this DPI; without the per-DPI entry
// point, the metric scaled from the system DPI's.
int GetSystemMetricForDpi(int nIndex, UINT dpi);
