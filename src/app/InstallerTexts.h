#pragma once

#include "Cp1251.h"

// The title shared by the start-up question and the install's failure box.
inline constexpr auto kInstallerBoxTitle = cp1251("Установка Quellon Vexor K для Крипто Про!");

// The window's title in its install mode; a second installer's refusal
// shows under it too.
inline constexpr auto kInstallModeTitle = cp1251("Установка Quellon Vexor K для Крипто Про");

inline constexpr auto kAlreadyRunning =
    cp1251("Установка Quellon Vexor K уже запущена. Дождитесь её окончания и закройте окно "
           "установки, прежде чем запускать её снова.");
