#include "ConformanceScenarios.h"

// The scenarios against the Windows API itself (run under Wine here).
int main(int argc, char** argv)
{
    return ConformanceScenarios::runProgram(argc, argv);
}
