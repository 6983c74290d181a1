#pragma once

#include <QString>

// The host processor architecture ("x86_64", "i386", ...), filled before main
// and only compared for equality afterwards. Tests may assign it to drive the
// 32-bit or the 64-bit route; the program itself never changes it.
extern QString hostCpuArchitecture;
