#include "Conformance.h"

// The scenarios against the Windows API itself (run under Wine here).
int main(int argc, char** argv)
{
    return runConformance(argc, argv);
}
