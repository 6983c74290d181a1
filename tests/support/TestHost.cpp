#include "TestHost.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTextCodec>

#include "RawRegistry.h"
#include "SimulatedHost.h"

namespace {
bool setPermissionOverride(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_DAC_OVERRIDE;
    data[0].effective = on ? data[0].effective | bit : data[0].effective & ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

QByteArray folderOf(const QString& file)
{
    return QFile::encodeName(QFileInfo(file).absolutePath());
}
} // namespace

TestHost::TestHost(const QString& architecture, bool withCsp) : m_architecture(architecture)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
    SimulatedHost::CreateOptions options;
    options.architecture = m_architecture;
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
    release();
    SimulatedHost::setElevated(true);
    clearProgramW6432();
    // Leave the process on a host that outlives this one.
    SimulatedHost::use(QDir::tempPath() + QStringLiteral("/vexor-idle-host"));
}

QString TestHost::cryptoProProperties()
{
    return QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
                          "S-1-5-18\\Products\\7AB5E7046046FB044ACD63458B5F481C\\"
                          "InstallProperties");
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

QString TestHost::systemDrive()
{
    return SimulatedHost::hostPath(QStringLiteral("C:\\"));
}

QStringList TestHost::pendingFileOperations()
{
    QStringList deleted;
    for (const SimulatedHost::FileOperation& operation : SimulatedHost::pendingFileOperations()) {
        if (operation.target.isEmpty())
            deleted << SimulatedHost::hostPath(operation.source);
    }
    return deleted;
}

// The module's folder loses its write permission, and root gives up
// overriding that meanwhile.
bool TestHost::holdInUse(const QString& file)
{
    if (!release())
        return false;
    m_inUse.setFileName(file);
    return chmod(folderOf(file).constData(), 0555) == 0 &&
           (geteuid() != 0 || setPermissionOverride(false));
}

bool TestHost::release()
{
    if (m_inUse.fileName().isEmpty())
        return true;
    const bool released = (geteuid() != 0 || setPermissionOverride(true)) &&
                          chmod(folderOf(m_inUse.fileName()).constData(), 0755) == 0;
    m_inUse.setFileName(QString());
    return released;
}
