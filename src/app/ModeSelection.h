#pragma once

#include <optional>

class VexorKCryptoProInstaller;

// The choice made at start-up between removing an existing installation and
// installing.
class ModeSelection
{
public:
    // Asks whether an installed module is to be removed. Returns the exit
    // code when the process is done (declined, or removal followed by the
    // event loop), or nothing when no installation was found and start-up
    // carries on to show the window.
    static std::optional<int> run(VexorKCryptoProInstaller& window);
};
