#pragma once

#include <QString>
#include <QTemporaryDir>

// A simulated Windows host of its own for one test case, in a temporary
// folder: the process is switched to it, hostCpuArchitecture follows it and
// ProgramW6432 is taken from the host's environment, as a fresh start of the
// program on that host would see them.
class TestHost
{
public:
    TestHost(const QString& architecture, bool withCsp);
    ~TestHost();

    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }

    QString folder() const { return m_folder.path(); }
    // On-disk CSP folders as the host made them (empty when it has none).
    QString cspFolder() const;
    QString cspFolder64() const;

    // Environment entries named ProgramW6432 in any letter case are removed.
    static void clearProgramW6432();

private:
    QTemporaryDir m_folder;
    bool m_ready = false;
    QString m_error;
};
