#pragma once

// The one door to the Windows services the program uses: the registry, the
// Windows Installer product query and delete-at-restart. On Windows these are
// the system's own headers; everywhere else the simulated Windows host serves
// the same names, types, flags and result codes. Code above src/platform
// includes this header and never tests the platform itself.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// msi.h needs the types that windows.h defines.
#include <msi.h>
#else
#include "SimulatedWinApi.h"
#endif
