#include "HostSession.h"

#include "HostArchitecture.h"

#include <QDir>
#include <QFileInfo>

HostSession& HostSession::instance()
{
    static HostSession session;
    return session;
}

QString HostSession::defaultFolder()
{
    const QString named = qEnvironmentVariable("VEXOR_HOST_DIR");
    if (!named.isEmpty())
        return QDir::cleanPath(QDir(named).absolutePath());
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/vexor-host"));
}

QString HostSession::databasePath(const QString& folder)
{
    return folder + QStringLiteral("/registry.db");
}

QString HostSession::folder()
{
    if (!folderChosen) {
        currentFolder = defaultFolder();
        folderChosen = true;
    }
    return currentFolder;
}

LONG HostSession::database(HostDatabase** result)
{
    *result = &db;
    if (db.isOpen())
        return ERROR_SUCCESS;
    const QString path = databasePath(folder());
    // Only vexor-host create makes a host: a mistyped folder must not become
    // a new, empty machine that seems to work.
    if (!QFileInfo::exists(path)) {
        openProblem = QStringLiteral("there is no host in %1 (make one with: vexor-host create)")
                          .arg(folder());
        return ERROR_REGISTRY_IO_FAILED;
    }
    const LONG code = db.open(path);
    openProblem = db.problem();
    return code;
}

void HostSession::switchTo(const QString& folder)
{
    db.close();
    handles.clear();
    cachedArchitecture.clear();
    cachedOrigin.reset();
    openProblem.clear();
    currentFolder = QDir::cleanPath(QDir(folder).absolutePath());
    folderChosen = true;
}

void HostSession::reopen()
{
    db.close();
    cachedArchitecture.clear();
    cachedOrigin.reset();
    openProblem.clear();
}

QString HostSession::problem()
{
    HostDatabase* database = nullptr;
    if (this->database(&database) != ERROR_SUCCESS)
        return openProblem;
    return db.problem();
}

QString HostSession::architecture()
{
    if (!cachedArchitecture.isEmpty())
        return cachedArchitecture;
    HostDatabase* database = nullptr;
    if (this->database(&database) == ERROR_SUCCESS) {
        HostDatabase::Statement query(db, "SELECT value FROM host_meta WHERE name='architecture'");
        bool hasRow = false;
        if (query.step(&hasRow) == ERROR_SUCCESS && hasRow)
            cachedArchitecture = query.text(0);
    }
    // A host that cannot be read answers as the usual 64-bit machine; its
    // registry calls report the real problem.
    return cachedArchitecture.isEmpty() ? QStringLiteral("x86_64") : cachedArchitecture;
}

HostDrive HostSession::drive()
{
    if (!cachedOrigin) {
        // The folder the host was made in, as its system drive tells.
        HostDatabase* database = nullptr;
        QString drive;
        if (this->database(&database) == ERROR_SUCCESS) {
            HostDatabase::Statement query(
                db, "SELECT value FROM host_environment WHERE name='SystemDrive'");
            bool hasRow = false;
            if (query.step(&hasRow) == ERROR_SUCCESS && hasRow)
                drive = query.text(0);
        }
        const QString suffix = QStringLiteral("/drive_c");
        cachedOrigin = drive.endsWith(suffix) ? drive.chopped(suffix.size()) : QString();
    }
    return HostDrive(folder(), *cachedOrigin);
}

bool HostSession::isElevated()
{
    if (elevatedOverride)
        return *elevatedOverride;
    return qEnvironmentVariable("VEXOR_HOST_ELEVATED") != QLatin1String("0");
}

bool HostSession::is32BitProcess()
{
    if (processBitsOverride)
        return *processBitsOverride == 32;
    return qEnvironmentVariable("VEXOR_HOST_PROCESS_BITS") != QLatin1String("64");
}

HKEY HostSession::addHandle(const OpenKey& key)
{
    // Handle values are never reused in a process, so a stale handle can
    // never reach a key opened later.
    const quintptr value = nextHandle;
    nextHandle += 4;
    handles.emplace(value, key);
    return reinterpret_cast<HKEY>(value);
}

HostSession::OpenKey* HostSession::findHandle(HKEY handle)
{
    auto found = handles.find(reinterpret_cast<quintptr>(handle));
    return found == handles.end() ? nullptr : &found->second;
}

bool HostSession::removeHandle(HKEY handle)
{
    return handles.erase(reinterpret_cast<quintptr>(handle)) > 0;
}

void HostSession::mergeEnvironment(const QMap<QString, QString>& environment)
{
    // A variable the process has set again since is its own and stays.
    for (auto entry = injectedVariables.cbegin(); entry != injectedVariables.cend(); ++entry) {
        if (qEnvironmentVariable(entry.key().toLocal8Bit().constData()) == entry.value())
            qunsetenv(entry.key().toLocal8Bit().constData());
    }
    injectedVariables.clear();
    for (auto entry = environment.cbegin(); entry != environment.cend(); ++entry) {
        const QByteArray name = entry.key().toLocal8Bit();
        if (qEnvironmentVariableIsSet(name.constData()))
            continue;
        qputenv(name.constData(), entry.value().toLocal8Bit());
        injectedVariables.insert(entry.key(), entry.value());
    }
}

bool HostSession::isWow64Host()
{
    return HostArchitecture::hasWow64(architecture());
}
