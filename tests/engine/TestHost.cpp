#include "TestHost.h"

#include <QDir>
#include <QProcessEnvironment>

#include "HostCpuArchitecture.h"
#include "SimulatedHost.h"

TestHost::TestHost(const QString& architecture, bool withCsp)
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    SimulatedHost::CreateOptions options;
    options.architecture = architecture;
    options.withCsp = withCsp;
    if (!SimulatedHost::create(m_folder.path(), options, &m_error))
        return;
    if (!SimulatedHost::use(m_folder.path(), &m_error))
        return;
    SimulatedHost::setElevated(true);
    hostCpuArchitecture = architecture;

    clearProgramW6432();
    const QMap<QString, QString> environment = SimulatedHost::environment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        if (it.key().compare(QLatin1String("ProgramW6432"), Qt::CaseInsensitive) == 0)
            qputenv(it.key().toLocal8Bit().constData(), it.value().toLocal8Bit());
    }
    m_ready = true;
}

TestHost::~TestHost()
{
    SimulatedHost::setElevated(true);
    clearProgramW6432();
    // Leave the process on a host that outlives this one.
    SimulatedHost::use(QDir::tempPath() + QStringLiteral("/vexor-idle-host"));
}

QString TestHost::cspFolder() const
{
    return SimulatedHost::cspFolder();
}

QString TestHost::cspFolder64() const
{
    return SimulatedHost::cspFolder64();
}

void TestHost::clearProgramW6432()
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString& name : names) {
        if (name.compare(QLatin1String("ProgramW6432"), Qt::CaseInsensitive) == 0)
            qunsetenv(name.toLocal8Bit().constData());
    }
}
