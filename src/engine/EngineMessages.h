#pragma once

#include "Cp1251.h"

// Messages logged or shown by more than one procedure. Every other message
// lives next to the one piece of code that logs it.
inline constexpr auto kCspFolder64Missing = cp1251("Не найдена папка с Крипто Про(64-бита)!");
inline constexpr auto kInstallerBoxTitle = cp1251("Установка Quellon Vexor K для Крипто Про!");
