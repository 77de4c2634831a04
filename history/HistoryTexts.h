// The texts of a history entry that come from the program rather than the
// file: UTF-8 from the program's ANSI code page and back, the time stamp,
// the output's name and the result texts. Plain functions; any thread,
// nothing shared. The file's format is HistoryCsv.h.
#pragma once

#include "framework/String.h"
#include "history/HistoryCsv.h"

#include <string>

class CSpoolerSetup;

// Text between the program's ANSI code page and UTF-8.
std::string AnsiToUtf8(const CString& str);
CString Utf8ToAnsi(const std::string& str);

// The time now, local, as "2024-05-01T13:45:07".
std::string LocalTimeStamp();

// The output as the window's caption names it ("Null", the printer's name,
// the address, "USB").
CString OutputCaptionName(const CSpoolerSetup& setup);

// The result texts.
std::string ResultPrinted();
std::string ResultRemoved(int nCopiesLeft);
std::string ResultFailed(const char* pszReason);
