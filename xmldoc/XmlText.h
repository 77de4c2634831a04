// Code-page conversions of the XML library. Each returns an owned buffer
// (array new) or null when the input is null or cannot be converted; the
// caller frees it with delete[].
#pragma once

// UTF-8 (whole string) to UTF-16.
wchar_t* XmlUtf8ToWide(const char* pszUtf8);
// UTF-16 (whole string) to UTF-8.
char* XmlWideToUtf8(const wchar_t* pszText);
// UTF-16 to the thread's ANSI code page.
char* XmlWideToAnsi(const wchar_t* pszText);
