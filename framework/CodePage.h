// Text between a narrow code page (the thread's ANSI one, CP_ACP, CP_UTF8)
// and UTF-16: the one pair of converters every module uses. Plain
// functions; any thread, nothing shared.
//
// A length of -1 reads up to the terminating zero (which is not part of
// the result); any other length is taken as it is, zero bytes included.
// Both return false, with out empty, for a null text or one that cannot
// be converted; an empty text gives true and an empty result.
#pragma once

#include <windows.h>

#include <string>

bool NarrowToWide(const char* pch, int cch, UINT nCodePage, std::wstring& out);
bool WideToNarrow(const wchar_t* pch, int cch, UINT nCodePage, std::string& out);

// The text in the code page only when every character has its exact form
// there, so that the text converts back unchanged: a path written with a
// best-fit stand-in would name another file, or none. Any code page,
// UTF-8 included. pfnConvert stands in for WideCharToMultiByte (a test
// holds it to the system's documented rules for each code page).
using WideToNarrowFunction = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
bool WideToNarrowExact(const wchar_t* psz, UINT nCodePage, std::string& out,
                       WideToNarrowFunction pfnConvert = WideCharToMultiByte);
