#pragma once

#include "SimulatedHost.h"

#include <QTemporaryDir>

#include <cstdlib>

// The simulated host a fuzz run works on: its own, made once for the run.
class FuzzHost
{
public:
    static void use()
    {
        static QTemporaryDir folder;
        QString error;
        if (!SimulatedHost::create(folder.path(), SimulatedHost::CreateOptions(), &error) ||
            !SimulatedHost::use(folder.path()))
            std::abort();
    }
};
