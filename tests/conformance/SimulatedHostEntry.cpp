#include "Conformance.h"
#include "Platform.h"
#include "SimulatedHost.h"

#include <cstdio>

// The scenarios against the simulated Windows host named by VEXOR_HOST_DIR,
// made there first when the folder holds none.
int main(int argc, char** argv)
{
    QString error;
    if (!SimulatedHost::create(SimulatedHost::folder(), SimulatedHost::CreateOptions(), &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 2;
    }
    Platform::initializeProcess();
    return runConformance(argc, argv);
}
