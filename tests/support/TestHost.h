#pragma once

#include <QStringList>
#include <QTemporaryDir>

#include "HostFacts.h"

// A simulated Windows host of its own for one test, in a temporary folder:
// the process is switched to it with administrator rights, and ProgramW6432
// is taken from the host's environment, as a fresh start of the program on
// that host would see them.
class TestHost
{
public:
    TestHost(const QString& architecture, bool withCsp);
    ~TestHost();

    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }
    // The facts the program would gather on this host now.
    HostFacts facts() const { return HostFacts::detect(m_architecture); }

    // Environment entries named ProgramW6432 in any letter case are removed.
    static void clearProgramW6432();
    // Everything below HKEY_LOCAL_MACHINE\SOFTWARE in the 64-bit view, keys
    // and values with their data, sorted (RawRegistry::tree).
    static QStringList software();

private:
    QTemporaryDir m_folder;
    QString m_architecture;
    bool m_ready = false;
    QString m_error;
};
