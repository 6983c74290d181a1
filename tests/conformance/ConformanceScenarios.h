#pragma once

#include "ConformanceReport.h"

#include <string>

// The scenario groups. Each removes and rebuilds its own scratch tree, so the
// groups run in any order and a run can repeat on the same registry.
namespace ConformanceScenarios {

// Scratch trees: below HKEY_CURRENT_USER for most groups, below
// HKEY_LOCAL_MACHINE\Software for the registry views.
inline const WCHAR* const scratchRoot = WIDE("Software\\VexorConformance");

void runKeyPaths(ConformanceReport& report);
void runLongNames(ConformanceReport& report);
void runViews(ConformanceReport& report);
void runValues(ConformanceReport& report);
void runBufferSizes(ConformanceReport& report);
void runEnumeration(ConformanceReport& report);
void runDeletion(ConformanceReport& report);
void runAccessRights(ConformanceReport& report);
void runInstaller(ConformanceReport& report);
// filesFolder ends with the platform's separator; the group creates it.
void runDelayedDeletion(ConformanceReport& report, const std::string& filesFolder);

void runAll(ConformanceReport& report, const std::string& filesFolder);

// The program: "[--time ROUNDS] FILES_FOLDER". Prints one line per check and
// a closing "end N checks", or in timing mode the per-call figures.
int runProgram(int argc, char** argv);

} // namespace ConformanceScenarios
