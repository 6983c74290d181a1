#pragma once

#include "Cp1251.h"

// The title shared by the start-up question and the install's failure box.
inline constexpr auto kInstallerBoxTitle = cp1251("Установка Quellon Vexor K для Крипто Про!");
