#include "TestHost.h"

#include <QDir>

#include "Platform.h"
#include "RawRegistry.h"

namespace {

// ProgramW6432 as the machine set it, before any test took it away.
const QByteArray machineProgramW6432 = qgetenv("ProgramW6432");

const QString cryptoProProduct =
    QStringLiteral("SOFTWARE\\Classes\\Installer\\Products\\7AB5E7046046FB044ACD63458B5F481C");
const QString sessionManager =
    QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Session Manager");

LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

// The key at path, its values and everything below it; true when it is gone.
bool removeTree(HKEY root, const QString& path, REGSAM view)
{
    const int cut = path.lastIndexOf(QLatin1Char('\\'));
    HKEY parent = nullptr;
    if (RegOpenKeyExW(root, wide(path.left(qMax(cut, 0))), 0, KEY_ALL_ACCESS | view, &parent) !=
        ERROR_SUCCESS)
        return true;
    const LONG result = RegDeleteTreeW(parent, wide(path.mid(cut + 1)));
    RegCloseKey(parent);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

// Empty on 32-bit Windows.
QString programFiles64()
{
    return QString::fromLocal8Bit(machineProgramW6432);
}

// The 32-bit programs' folder: ProgramFiles(x86) on 64-bit Windows,
// ProgramFiles on 32-bit Windows.
QString programFiles32()
{
    const QString x86 = qEnvironmentVariable("ProgramFiles(x86)");
    return x86.isEmpty() ? qEnvironmentVariable("ProgramFiles") : x86;
}

QString cspBelow(const QString& programFiles)
{
    return programFiles + QStringLiteral("\\Crypto Pro\\CSP");
}

} // namespace

bool TestHost::prepare(bool withCsp)
{
    if (!canBe(m_architecture)) {
        m_error = QStringLiteral("this machine is %1, not %2")
                      .arg(Platform::cpuArchitecture(), m_architecture);
        return false;
    }
    qputenv("ProgramW6432", machineProgramW6432);
    // What the tests and the installer write, in both views, and the
    // Crypto Pro CSP as Windows Installer recorded it.
    const struct
    {
        HKEY root;
        QString path;
    } written[] = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Vexor Test"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Vexor"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Crypto Pro"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR_ESMART"},
        {HKEY_LOCAL_MACHINE, cryptoProProduct},
        {HKEY_LOCAL_MACHINE, cryptoProProperties()},
        {HKEY_CURRENT_USER, "Software\\Vexor Test"},
        {HKEY_CURRENT_USER, "SOFTWARE\\Vexor"},
        {HKEY_CLASSES_ROOT, "SOFTWARE\\Vexor"},
        {HKEY_USERS, "SOFTWARE\\Vexor"},
    };
    for (const auto& entry : written) {
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            if (!removeTree(entry.root, entry.path, view)) {
                m_error = QStringLiteral("cannot remove %1").arg(entry.path);
                return false;
            }
        }
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, wide(sessionManager), L"PendingFileRenameOperations");
    for (const QString& programFiles : {programFiles32(), programFiles64()}) {
        const QString folder = programFiles + QStringLiteral("\\Crypto Pro");
        if (!programFiles.isEmpty() && !QDir(folder).removeRecursively()) {
            m_error = QStringLiteral("cannot remove %1").arg(folder);
            return false;
        }
    }
    if (!withCsp)
        return true;
    const QString csp = cspBelow(programFiles32());
    if (!QDir().mkpath(csp) ||
        (!programFiles64().isEmpty() && !QDir().mkpath(cspBelow(programFiles64()))) ||
        !RawRegistry::plant(HKEY_LOCAL_MACHINE, cryptoProProduct,
                            {"|ProductName=Crypto Pro CSP"}) ||
        !RawRegistry::plant(HKEY_LOCAL_MACHINE, cryptoProProperties(),
                            {"|InstallLocation=" + csp + QLatin1Char('\\')})) {
        m_error = QStringLiteral("cannot set up the Crypto Pro CSP");
        return false;
    }
    return true;
}

TestHost::~TestHost()
{
    release();
    qputenv("ProgramW6432", machineProgramW6432);
}

bool TestHost::canBe(const QString& architecture)
{
    return architecture == Platform::cpuArchitecture();
}

QString TestHost::cspFolder()
{
    if (!RawRegistry::keyExists(HKEY_LOCAL_MACHINE, cryptoProProperties()))
        return QString();
    return cspBelow(programFiles32());
}

QString TestHost::cspFolder64()
{
    return cspFolder().isEmpty() || programFiles64().isEmpty() ? QString()
                                                                : cspBelow(programFiles64());
}

QString TestHost::systemDrive()
{
    return qEnvironmentVariable("SystemDrive");
}

QStringList TestHost::pendingFileOperations()
{
    DWORD type = REG_NONE;
    QByteArray data;
    if (!RawRegistry::query(HKEY_LOCAL_MACHINE, sessionManager,
                            QStringLiteral("PendingFileRenameOperations"), &type, &data))
        return {};
    // Pairs of source and target; an empty target deletes the source.
    const QStringList names =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2)
            .split(QChar(0));
    QStringList deleted;
    for (int i = 0; i + 1 < names.size(); i += 2) {
        if (!names[i].isEmpty() && names[i + 1].isEmpty())
            deleted << QString(names[i]).remove(QRegExp(QStringLiteral("^\\\\\\?\\?\\\\")));
    }
    return deleted;
}

void TestHost::setElevated(bool) {}

int TestHost::openHandleCount()
{
    return -1;
}

// Windows opens the file without letting others delete it, as the loader
// does with a module.
bool TestHost::holdInUse(const QString& file)
{
    release();
    m_inUse.setFileName(file);
    return m_inUse.open(QIODevice::ReadOnly);
}

bool TestHost::release()
{
    m_inUse.close();
    return true;
}
