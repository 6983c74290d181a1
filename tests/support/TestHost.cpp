#include "TestHost.h"

#include <QProcessEnvironment>
#include <QTextCodec>

#include "RawRegistry.h"

TestHost::TestHost(const QString& architecture, bool withCsp) : m_architecture(architecture)
{
    // As at program start: install.log is written in Windows-1251.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
    m_ready = prepare(withCsp);
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
    // Left out: the classes and Windows' own configuration, tens of thousands
    // of entries that the installer never touches and that the system
    // rewrites on its own (the network cards, for one) while a test runs.
    QStringList skipped;
    for (const QString& view : {QString(), QStringLiteral("Wow6432Node\\")}) {
        for (const char* tree : {"Classes", "Microsoft\\Windows", "Microsoft\\Windows NT"})
            skipped << view + QLatin1String(tree);
    }
    return RawRegistry::tree(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE"), KEY_WOW64_64KEY, true,
                             skipped);
}
