#pragma once

// The registry scenarios as tables of rows and the runner that reads them. No
// Qt here: the same sources build with the mingw cross compiler, where only
// the Windows headers exist.

#include "WinApi.h"

// scenarios.txt, built into the program: tables of rows, each opened by a
// line "== what the group checks", in the order they run.
extern const char* const conformanceScenarios;

// The program: "[--time ROUNDS] FILES_FOLDER". Prints one line per check, or
// in timing mode the per-call figures; exits with 0 once every row has run.
int runConformance(int argc, char** argv);
