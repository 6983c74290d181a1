#include "SimulatedHost.h"

#include "HostArchitecture.h"
#include "HostDatabase.h"
#include "HostSession.h"
#include "InstallerProduct.h"
#include "PendingFileOperations.h"
#include "RegistryName.h"
#include "RegistryStore.h"
#include "SystemMessages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <memory>
#include <vector>

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

QString driveFolder(const QString& folder)
{
    return folder + QStringLiteral("/drive_c");
}

QString programFiles32(const QString& folder, const QString& architecture)
{
    return driveFolder(folder) + (HostArchitecture::hasWow64(architecture)
                                      ? QStringLiteral("/Program Files (x86)")
                                      : QStringLiteral("/Program Files"));
}

QString programFiles64(const QString& folder)
{
    return driveFolder(folder) + QStringLiteral("/Program Files");
}

QString cspBelow(const QString& programFiles)
{
    return programFiles + QStringLiteral("/Crypto Pro/CSP");
}

QMap<QString, QString> defaultEnvironment(const QString& folder, const QString& architecture)
{
    QMap<QString, QString> environment;
    const QString drive = driveFolder(folder);
    environment.insert(QStringLiteral("SystemDrive"), drive);
    environment.insert(QStringLiteral("SystemRoot"), drive + QStringLiteral("/windows"));
    environment.insert(QStringLiteral("windir"), drive + QStringLiteral("/windows"));
    environment.insert(QStringLiteral("ProgramFiles"), programFiles64(folder));
    if (HostArchitecture::hasWow64(architecture)) {
        environment.insert(QStringLiteral("ProgramFiles(x86)"),
                           programFiles32(folder, architecture));
        environment.insert(QStringLiteral("ProgramW6432"), programFiles64(folder));
        environment.insert(QStringLiteral("PROCESSOR_ARCHITECTURE"),
                           architecture == QLatin1String("arm64") ? QStringLiteral("ARM64")
                                                                  : QStringLiteral("AMD64"));
    } else {
        environment.insert(QStringLiteral("PROCESSOR_ARCHITECTURE"), QStringLiteral("x86"));
    }
    return environment;
}

QByteArray sz(const QString& text)
{
    QByteArray data(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    data.append(2, '\0');
    return data;
}

LONG setText(RegistryStore& store, qint64 key, const QString& name, const QString& text)
{
    return store.setValue(key, RegistryName::stored(name), REG_SZ, sz(text));
}

QString metaValue(HostDatabase& db, const QString& name)
{
    HostDatabase::Statement query(db, "SELECT value FROM host_meta WHERE name=?");
    query.bindText(1, name);
    bool hasRow = false;
    if (query.step(&hasRow) != ERROR_SUCCESS || !hasRow)
        return QString();
    return query.text(0);
}

LONG setMeta(HostDatabase& db, const QString& name, const QString& value)
{
    HostDatabase::Statement insert(db,
                                   "INSERT OR REPLACE INTO host_meta(name, value) VALUES(?, ?)");
    insert.bindText(1, name);
    insert.bindText(2, value);
    return insert.step();
}

QString describe(HostDatabase& db, LONG code)
{
    if (!db.problem().isEmpty())
        return db.problem();
    return QStringLiteral("registry error %1").arg(code);
}

LONG layOutHost(HostDatabase& db, const QString& folder, const QString& architecture)
{
    if (LONG code = setMeta(db, QStringLiteral("architecture"), architecture);
        code != ERROR_SUCCESS)
        return code;
    RegistryStore store(db);
    QStringList machineKeys = {QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion"),
                               QStringLiteral("SYSTEM\\CurrentControlSet\\Control")};
    if (HostArchitecture::hasWow64(architecture))
        machineKeys.append(QStringLiteral("SOFTWARE\\Wow6432Node\\Microsoft"));
    RegistryStore::KeyRow row;
    for (const QString& path : qAsConst(machineKeys)) {
        if (LONG code = store.keyAt(HostDatabase::localMachineId, path, true, &row);
            code != ERROR_SUCCESS)
            return code;
    }
    if (LONG code =
            store.keyAt(HostDatabase::currentUserId, QStringLiteral("Software"), true, &row);
        code != ERROR_SUCCESS)
        return code;
    const QMap<QString, QString> environment = defaultEnvironment(folder, architecture);
    for (auto entry = environment.cbegin(); entry != environment.cend(); ++entry) {
        HostDatabase::Statement insert(db, "INSERT OR REPLACE INTO host_environment(name, value)"
                                           " VALUES(?, ?)");
        insert.bindText(1, entry.key());
        insert.bindText(2, entry.value());
        if (LONG code = insert.step(); code != ERROR_SUCCESS)
            return code;
    }
    return ERROR_SUCCESS;
}

LONG registerCryptoPro(HostDatabase& db, const QString& installLocation)
{
    RegistryStore store(db);
    const QString path = InstallerProduct::propertiesPath(
        InstallerProduct::packed(InstallerProduct::cryptoProCode()));
    RegistryStore::KeyRow key;
    if (LONG code = store.keyAt(HostDatabase::localMachineId, path, true, &key);
        code != ERROR_SUCCESS)
        return code;
    const QList<QPair<QString, QString>> values = {
        {QStringLiteral("DisplayName"), QStringLiteral("КриптоПро CSP")},
        {QStringLiteral("DisplayVersion"), QStringLiteral("5.0.12000")},
        {QStringLiteral("Publisher"), QStringLiteral("Crypto-Pro")},
        {QStringLiteral("InstallLocation"), installLocation},
    };
    for (const auto& value : values) {
        if (LONG code = setText(store, key.id, value.first, value.second); code != ERROR_SUCCESS)
            return code;
    }
    return ERROR_SUCCESS;
}

// A value that names a folder is one on the host's drive, wherever the host
// folder is now; one that leads elsewhere is left out (null). Other values
// pass as they are.
QString onDrive(const HostDrive& drive, const QString& value)
{
    if (!value.contains(QLatin1Char('/')) && !value.contains(QLatin1Char('\\')))
        return value;
    const QString path = drive.hostPath(value);
    return !path.isEmpty() && drive.staysOnDrive(path) ? path : QString();
}

// An operation as the user reads it: Windows paths, or the path as queued
// when it names no place on the drive.
SimulatedHost::FileOperation shown(const HostDrive& drive,
                                   const PendingFileOperations::Operation& operation)
{
    const auto windows = [&drive](const QString& path) {
        const QString found = drive.windowsPath(path);
        return found.isEmpty() ? path : found;
    };
    return {windows(operation.source),
            operation.target.isEmpty() ? QString() : windows(operation.target), operation.replaces};
}

// Windows carries the operations out without asking anyone; one that cannot
// be done (the file is already gone) is skipped. false: it leads off the drive
// and nothing was touched.
bool carryOut(const HostDrive& drive, const PendingFileOperations::Operation& operation)
{
    const QString source = drive.hostPath(operation.source);
    const QString target =
        operation.target.isEmpty() ? QString() : drive.hostPath(operation.target);
    if (source.isEmpty() || !drive.staysOnDrive(source) ||
        (!operation.target.isEmpty() && (target.isEmpty() || !drive.staysOnDrive(target))))
        return false;
    const QFileInfo sourceInfo(source);
    if (operation.target.isEmpty()) {
        if (sourceInfo.isDir() && !sourceInfo.isSymLink())
            QDir().rmdir(source);
        else
            QFile::remove(source);
        return true;
    }
    if (operation.replaces)
        QFile::remove(target);
    QFile::rename(source, target);
    return true;
}

} // namespace

bool SimulatedHost::isKnownArchitecture(const QString& architecture)
{
    return HostArchitecture::isKnown(architecture);
}

bool SimulatedHost::create(const QString& folder, const CreateOptions& options, QString* error)
{
    auto failWith = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!HostArchitecture::isKnown(options.architecture))
        return failWith(QStringLiteral("unknown architecture \"%1\" (x86_64, arm64 or i386)")
                            .arg(options.architecture));
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    QStringList folders = {programFiles64(absolute), driveFolder(absolute) + "/windows"};
    if (HostArchitecture::hasWow64(options.architecture))
        folders.append(programFiles32(absolute, options.architecture));
    const QString csp = cspBelow(programFiles32(absolute, options.architecture));
    if (options.withCsp) {
        folders.append(csp);
        if (HostArchitecture::hasWow64(options.architecture))
            folders.append(cspBelow(programFiles64(absolute)));
    }
    // A folder of the drive that a link sends elsewhere is not made there.
    const HostDrive drive(absolute, QString());
    for (const QString& path : qAsConst(folders)) {
        if (!drive.staysOnDrive(path))
            return failWith(
                QStringLiteral("the folder %1 leads out of the host's drive").arg(path));
    }
    if (!QDir().mkpath(absolute))
        return failWith(QStringLiteral("cannot make the host folder %1").arg(absolute));

    const QString path = HostSession::databasePath(absolute);
    QString problem;
    if (LONG code = HostDatabase::create(
            path, [&](HostDatabase& db) { return layOutHost(db, absolute, options.architecture); },
            &problem);
        code != ERROR_SUCCESS)
        return failWith(problem.isEmpty() ? QStringLiteral("registry error %1").arg(code)
                                          : problem);
    HostDatabase db;
    if (LONG code = db.open(path); code != ERROR_SUCCESS)
        return failWith(describe(db, code));
    HostDatabase::Transaction transaction(db, true);
    if (transaction.beginError() != ERROR_SUCCESS)
        return failWith(describe(db, transaction.beginError()));
    const QString existing = metaValue(db, QStringLiteral("architecture"));
    if (existing != options.architecture)
        return failWith(
            QStringLiteral("the host in %1 already exists as an %2 host").arg(absolute, existing));
    if (options.withCsp) {
        // Windows Installer records a folder with its trailing separator.
        if (LONG code = registerCryptoPro(db, csp + QLatin1Char('/')); code != ERROR_SUCCESS)
            return failWith(describe(db, code));
        if (LONG code = setMeta(db, QStringLiteral("with_csp"), QStringLiteral("1"));
            code != ERROR_SUCCESS)
            return failWith(describe(db, code));
    }
    for (const QString& path : qAsConst(folders)) {
        if (!QDir().mkpath(path))
            return failWith(QStringLiteral("cannot make the folder %1").arg(path));
    }
    if (LONG code = transaction.commit(); code != ERROR_SUCCESS)
        return failWith(describe(db, code));

    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    if (session.folder() == absolute)
        session.reopen();
    return true;
}

bool SimulatedHost::use(const QString& folder, QString* error)
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    session.switchTo(folder.isEmpty() ? HostSession::defaultFolder() : folder);
    HostDatabase* db = nullptr;
    if (session.database(&db) != ERROR_SUCCESS) {
        if (error)
            *error = session.problem();
        return false;
    }
    session.mergeEnvironment(environment());
    return true;
}

QString SimulatedHost::folder()
{
    Guard guard(HostSession::instance().mutex());
    return HostSession::instance().folder();
}

QString SimulatedHost::databasePath()
{
    return HostSession::databasePath(folder());
}

QString SimulatedHost::problem()
{
    Guard guard(HostSession::instance().mutex());
    return HostSession::instance().problem();
}

bool SimulatedHost::claimNamedLock(const QString& name)
{
    // Held until the process ends; a lock left by a killed process is
    // recognised by its process id and taken over.
    static std::vector<std::unique_ptr<QLockFile>> held;
    // Windows' namespaces ("Global\\...") become part of a file name.
    QString fileName = name;
    for (QChar& c : fileName) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    auto lock = std::make_unique<QLockFile>(folder() + QLatin1Char('/') + fileName +
                                            QLatin1String(".lock"));
    // Only a dead holder makes a lock stale, never its age: an install may
    // wait for its user as long as it likes.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        held.push_back(std::move(lock));
        return true;
    }
    return lock->error() != QLockFile::LockFailedError;
}

QString SimulatedHost::architecture()
{
    Guard guard(HostSession::instance().mutex());
    return HostSession::instance().architecture();
}

QString SimulatedHost::errorText(long code)
{
    return SystemMessages::text(code);
}

void SimulatedHost::setElevated(bool on)
{
    Guard guard(HostSession::instance().mutex());
    HostSession::instance().setElevated(on);
}

void SimulatedHost::setProcessBits(int bits)
{
    Guard guard(HostSession::instance().mutex());
    HostSession::instance().setProcessBits(bits);
}

bool SimulatedHost::isElevated()
{
    Guard guard(HostSession::instance().mutex());
    return HostSession::instance().isElevated();
}

int SimulatedHost::openHandleCount()
{
    Guard guard(HostSession::instance().mutex());
    return HostSession::instance().handleCount();
}

QString SimulatedHost::cspFolder()
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    HostDatabase* db = nullptr;
    if (session.database(&db) != ERROR_SUCCESS ||
        metaValue(*db, QStringLiteral("with_csp")) != QLatin1String("1"))
        return QString();
    return cspBelow(programFiles32(session.folder(), session.architecture()));
}

QString SimulatedHost::cspFolder64()
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    if (!session.isWow64Host() || cspFolder().isEmpty())
        return QString();
    return cspBelow(programFiles64(session.folder()));
}

QMap<QString, QString> SimulatedHost::environment()
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    QMap<QString, QString> result;
    HostDatabase* db = nullptr;
    if (session.database(&db) != ERROR_SUCCESS)
        return result;
    const HostDrive drive = session.drive();
    HostDatabase::Statement query(*db, "SELECT name, value FROM host_environment ORDER BY name");
    bool hasRow = false;
    while (query.step(&hasRow) == ERROR_SUCCESS && hasRow) {
        const QString value = onDrive(drive, query.text(1));
        if (!value.isNull())
            result.insert(query.text(0), value);
    }
    return result;
}

QString SimulatedHost::hostPath(const QString& path)
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    return session.drive().hostPath(path);
}

QString SimulatedHost::windowsPath(const QString& path)
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    return session.drive().windowsPath(path);
}

QList<SimulatedHost::FileOperation> SimulatedHost::pendingFileOperations()
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    HostDatabase* db = nullptr;
    if (session.database(&db) != ERROR_SUCCESS)
        return {};
    HostDatabase::Transaction transaction(*db, false);
    RegistryStore store(*db);
    PendingFileOperations pending;
    if (transaction.beginError() != ERROR_SUCCESS ||
        PendingFileOperations::read(store, &pending) != ERROR_SUCCESS)
        return {};
    const HostDrive drive = session.drive();
    QList<FileOperation> operations;
    for (const auto& operation : pending.operations())
        operations.append(shown(drive, operation));
    return operations;
}

bool SimulatedHost::restart(QList<FileOperation>* refused, QString* error)
{
    HostSession& session = HostSession::instance();
    Guard guard(session.mutex());
    HostDatabase* db = nullptr;
    if (LONG code = session.database(&db); code != ERROR_SUCCESS) {
        if (error)
            *error = session.problem();
        return false;
    }
    HostDatabase::Transaction transaction(*db, true);
    RegistryStore store(*db);
    PendingFileOperations pending;
    LONG code = transaction.beginError();
    if (code == ERROR_SUCCESS)
        code = PendingFileOperations::read(store, &pending);
    if (code == ERROR_SUCCESS) {
        const HostDrive drive = session.drive();
        for (const auto& operation : pending.operations()) {
            if (!carryOut(drive, operation) && refused)
                refused->append(shown(drive, operation));
        }
        code = PendingFileOperations::clear(store);
    }
    if (code == ERROR_SUCCESS)
        code = store.deleteVolatileKeys();
    if (code == ERROR_SUCCESS)
        code = transaction.commit();
    if (code != ERROR_SUCCESS) {
        if (error)
            *error = describe(*db, code);
        return false;
    }
    return true;
}
