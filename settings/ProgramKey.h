// The program's registry key: "SOFTWARE\Tolvar\" and then the text of
// string resource IDS_APP_KEY, "Tolvar Morvane", from the program's string
// table (app/strings.rc, which every program that links the settings
// carries). The same key below HKEY_LOCAL_MACHINE and, for the per-user
// copy, HKEY_CURRENT_USER, in the 32-bit view. Constants only; the resource
// compiler reads this file too, so the C++ part is fenced off from it.
#pragma once

#define IDS_APP_KEY 102

#ifndef RC_INVOKED
inline constexpr char kProgramKeyRoot[] = "SOFTWARE\\Tolvar\\";
// The whole path with the string as shipped, for tests and tools that look
// at the store from outside.
inline constexpr char kProgramKeyPath[] = "SOFTWARE\\Tolvar\\Tolvar Morvane";
#endif
