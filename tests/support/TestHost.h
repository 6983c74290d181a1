#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "HostFacts.h"

// The machine one test runs on: a simulated Windows host of its own in a
// temporary folder, made fresh for it, with administrator rights and
// ProgramW6432 taken from that host's environment.
class TestHost
{
public:
    TestHost(const QString& architecture, bool withCsp);
    ~TestHost();

    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }
    // The facts the program would gather on this host now.
    HostFacts facts() const { return HostFacts::detect(m_architecture); }

    // The folder of the system drive C:.
    static QString systemDrive();
    // Where Windows Installer keeps the Crypto Pro CSP's install properties.
    static QString cryptoProProperties();
    // Files queued for deletion at the next restart, in their queued order.
    static QStringList pendingFileOperations();
    // The file can no longer be deleted, as a module a running program has
    // loaded, until release(); a second hold moves the hold.
    bool holdInUse(const QString& file);
    bool release();

    // Environment entries named ProgramW6432 in any letter case are removed.
    static void clearProgramW6432();
    // Everything below HKEY_LOCAL_MACHINE\SOFTWARE in the 64-bit view, keys
    // and values with their data, sorted (RawRegistry::tree).
    static QStringList software();

private:
    QTemporaryDir m_folder;
    QFile m_inUse;
    QString m_architecture;
    bool m_ready = false;
    QString m_error;
};
