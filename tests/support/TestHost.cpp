#include "TestHost.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QTextCodec>

#include "RawRegistry.h"
#include "SimulatedHost.h"

TestHost::TestHost(const QString& architecture, bool withCsp) : m_architecture(architecture)
{
    // As at program start: install.log is written in Windows-1251.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
    SimulatedHost::CreateOptions options;
    options.architecture = architecture;
    options.withCsp = withCsp;
    if (!m_folder.isValid() || !SimulatedHost::create(m_folder.path(), options, &m_error) ||
        !SimulatedHost::use(m_folder.path(), &m_error))
        return;
    SimulatedHost::setElevated(true);
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

void TestHost::clearProgramW6432()
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString& name : names) {
        if (name.compare(QLatin1String("ProgramW6432"), Qt::CaseInsensitive) == 0)
            qunsetenv(name.toLocal8Bit().constData());
    }
}

QStringList TestHost::software()
{
    return RawRegistry::tree(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE"), KEY_WOW64_64KEY, true);
}
