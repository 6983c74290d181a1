#include "HostCpuArchitecture.h"

#include "Platform.h"

namespace {
// The simulated host must be open, and its environment merged, before the
// architecture is read from it.
QString readHostArchitecture()
{
    Platform::initializeProcess();
    return Platform::cpuArchitecture();
}
} // namespace

QString hostCpuArchitecture = readHostArchitecture();
