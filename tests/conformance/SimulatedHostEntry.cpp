#include "Conformance.h"
#include "Platform.h"

// The scenarios against the simulated Windows host named by VEXOR_HOST_DIR.
int main(int argc, char** argv)
{
    Platform::initializeProcess();
    return runConformance(argc, argv);
}
