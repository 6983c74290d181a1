#pragma once

// The Win32 registry, Windows Installer and MoveFileExW names, from the
// Windows headers under mingw and from the simulated host natively, plus the
// few helpers every scenario shares. No Qt here: the same sources build with
// the mingw cross compiler, where only the Windows headers exist.

#include "WinApi.h"

#include <string>

#ifdef _WIN32
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif

using WString = std::basic_string<WCHAR>;
