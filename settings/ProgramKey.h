// The program's registry key below HKEY_LOCAL_MACHINE (or HKEY_CURRENT_USER
// for the per-user copy), in the 32-bit view. The settings keep it and the
// tests read it; no lock, a constant.
#pragma once

inline constexpr char kProgramKeyPath[] = "SOFTWARE\\Tolvar\\Tolvar Morvane";
