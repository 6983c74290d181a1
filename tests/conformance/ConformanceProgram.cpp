#include "ConformanceScenarios.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void ConformanceScenarios::runAll(ConformanceReport& report, const std::string& filesFolder)
{
    runKeyPaths(report);
    runLongNames(report);
    runViews(report);
    runValues(report);
    runBufferSizes(report);
    runEnumeration(report);
    runDeletion(report);
    runAccessRights(report);
    runInstaller(report);
    runDelayedDeletion(report, filesFolder);
}

int ConformanceScenarios::runProgram(int argc, char** argv)
{
    int rounds = 0;
    int next = 1;
    if (argc > 2 && std::strcmp(argv[1], "--time") == 0) {
        rounds = std::atoi(argv[2]);
        next = 3;
    }
    if (next >= argc || (next == 3 && rounds < 1)) {
        std::fprintf(stderr, "usage: %s [--time ROUNDS] FILES_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string filesFolder = argv[next];
    ConformanceReport report(rounds > 0);
    for (int round = 0; round < (rounds > 0 ? rounds : 1); ++round)
        runAll(report, filesFolder);
    if (rounds > 0)
        report.printTimings();
    else
        std::printf("end %d checks\n", report.checkCount());
    return 0;
}
