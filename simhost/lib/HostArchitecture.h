#pragma once

#include <QString>

// The processor architectures a simulated host can have, in the words of
// QSysInfo::currentCpuArchitecture: "x86_64" and "arm64" are 64-bit Windows,
// with a 32-bit registry view under Wow6432Node; "i386" is 32-bit Windows.
class HostArchitecture
{
public:
    static bool isKnown(const QString& architecture);
    static bool hasWow64(const QString& architecture);
};
