#include "SimulatedHost.h"

#include "HostDatabase.h"
#include "HostSession.h"
#include "PendingFileOperations.h"
#include "RegistryName.h"
#include "RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Plain literals: create() can run while other files' statics are still
// being initialised (hostCpuArchitecture is filled before main). The sizes
// are given: only that constructor is a constant expression for every compiler.
constexpr QLatin1String x86_64("x86_64", 6);
constexpr QLatin1String arm64("arm64", 5);
constexpr QLatin1String i386("i386", 4);

QString driveFolder(const QString& folder)
{
    return folder + QStringLiteral("/drive_c");
}

QString programFiles32(const QString& folder, const QString& architecture)
{
    return driveFolder(folder) + (SimulatedHost::hasWow64(architecture)
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
    if (SimulatedHost::hasWow64(architecture)) {
        environment.insert(QStringLiteral("ProgramFiles(x86)"),
                           programFiles32(folder, architecture));
        environment.insert(QStringLiteral("ProgramW6432"), programFiles64(folder));
        environment.insert(QStringLiteral("PROCESSOR_ARCHITECTURE"), architecture == arm64
                                                                         ? QStringLiteral("ARM64")
                                                                         : QStringLiteral("AMD64"));
    } else {
        environment.insert(QStringLiteral("PROCESSOR_ARCHITECTURE"), QStringLiteral("x86"));
    }
    return environment;
}

LONG keyAt(RegistryStore& store, qint64 root, const QString& path, bool create,
           RegistryStore::KeyRow* row)
{
    RegistryStore::KeyRow start;
    if (LONG code = store.key(root, &start); code != ERROR_SUCCESS)
        return code;
    std::vector<QByteArray> elements;
    if (LONG code =
            RegistryName::splitPath(reinterpret_cast<const WCHAR*>(path.utf16()), &elements);
        code != ERROR_SUCCESS)
        return code;
    RegistryStore::Walk walk;
    walk.create = create;
    return store.resolve(start, elements, &walk, row);
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
    if (SimulatedHost::hasWow64(architecture))
        machineKeys.append(QStringLiteral("SOFTWARE\\Wow6432Node\\Microsoft"));
    RegistryStore::KeyRow row;
    for (const QString& path : qAsConst(machineKeys)) {
        if (LONG code = keyAt(store, HostDatabase::localMachineId, path, true, &row);
            code != ERROR_SUCCESS)
            return code;
    }
    if (LONG code =
            keyAt(store, HostDatabase::currentUserId, QStringLiteral("Software"), true, &row);
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
    const QString path =
        QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
                       "S-1-5-18\\Products\\%1\\InstallProperties")
            .arg(SimulatedHost::packedProductCode(SimulatedHost::cryptoProProductCode()));
    RegistryStore::KeyRow key;
    if (LONG code = keyAt(store, HostDatabase::localMachineId, path, true, &key);
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

LONG readPending(HostDatabase& db, PendingFileOperations* pending, qint64* keyId)
{
    RegistryStore store(db);
    RegistryStore::KeyRow key;
    LONG code = keyAt(store, HostDatabase::localMachineId,
                      QLatin1String(PendingFileOperations::keyPath), false, &key);
    if (code == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS)
        return code;
    *keyId = key.id;
    RegistryStore::Value value;
    code = store.queryValue(
        key.id, RegistryName::stored(QLatin1String(PendingFileOperations::valueName)), &value);
    if (code == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (code == ERROR_SUCCESS)
        *pending = PendingFileOperations::fromData(value.data);
    return code;
}

// An operation queued before the host folder was moved or copied acts on
// the files where the host is now.
QPair<QString, QString> relocated(QPair<QString, QString> operation)
{
    HostSession& session = HostSession::instance();
    operation.first = session.relocated(operation.first);
    const bool replacing = operation.second.startsWith(QLatin1Char('!'));
    if (!operation.second.isEmpty())
        operation.second = (replacing ? QStringLiteral("!") : QString()) +
                           session.relocated(operation.second.mid(replacing ? 1 : 0));
    return operation;
}

QList<QPair<QString, QString>> pendingOperations()
{
    Guard guard(HostSession::instance().mutex());
    HostDatabase* db = nullptr;
    if (HostSession::instance().database(&db) != ERROR_SUCCESS)
        return {};
    HostDatabase::Transaction transaction(*db, false);
    PendingFileOperations pending;
    qint64 key = 0;
    if (transaction.beginError() != ERROR_SUCCESS || readPending(*db, &pending, &key))
        return {};
    QList<QPair<QString, QString>> operations;
    for (const auto& operation : pending.operations())
        operations.append(relocated(operation));
    return operations;
}

} // namespace

bool SimulatedHost::isKnownArchitecture(const QString& architecture)
{
    return hasWow64(architecture) || architecture == i386;
}

bool SimulatedHost::hasWow64(const QString& architecture)
{
    return architecture == x86_64 || architecture == arm64;
}

bool SimulatedHost::create(const QString& folder, const CreateOptions& options, QString* error)
{
    auto failWith = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!isKnownArchitecture(options.architecture))
        return failWith(QStringLiteral("unknown architecture \"%1\" (x86_64, arm64 or i386)")
                            .arg(options.architecture));
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
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
    QStringList folders = {programFiles64(absolute), driveFolder(absolute) + "/windows"};
    if (hasWow64(options.architecture))
        folders.append(programFiles32(absolute, options.architecture));
    if (options.withCsp) {
        const QString csp = cspBelow(programFiles32(absolute, options.architecture));
        folders.append(csp);
        if (hasWow64(options.architecture))
            folders.append(cspBelow(programFiles64(absolute)));
        // Windows Installer records a folder with its trailing separator.
        if (LONG code = registerCryptoPro(db, csp + QDir::separator()); code != ERROR_SUCCESS)
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
    session.switchTo(folder);
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

QString SimulatedHost::architecture()
{
    Guard guard(HostSession::instance().mutex());
    return HostSession::instance().architecture();
}

QString SimulatedHost::databasePath()
{
    return HostSession::databasePath(folder());
}

void SimulatedHost::setElevated(bool on)
{
    Guard guard(HostSession::instance().mutex());
    HostSession::instance().setElevated(on);
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
    HostDatabase::Statement query(*db, "SELECT name, value FROM host_environment ORDER BY name");
    bool hasRow = false;
    while (query.step(&hasRow) == ERROR_SUCCESS && hasRow)
        result.insert(query.text(0), query.text(1));
    for (QString& value : result)
        value = session.relocated(value);
    return result;
}

QStringList SimulatedHost::pendingFileOperations()
{
    QStringList paths;
    for (const auto& operation : pendingOperations())
        paths.append(operation.first);
    return paths;
}

QList<QPair<QString, QString>> SimulatedHost::pendingRenames()
{
    QList<QPair<QString, QString>> renames;
    for (const auto& operation : pendingOperations()) {
        if (!operation.second.isEmpty())
            renames.append(operation);
    }
    return renames;
}

bool SimulatedHost::restart(QString* error)
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
    PendingFileOperations pending;
    qint64 key = 0;
    LONG code = transaction.beginError();
    if (code == ERROR_SUCCESS)
        code = readPending(*db, &pending, &key);
    // Windows carries the operations out without asking anyone; one that
    // cannot be done (the file is already gone) is skipped.
    for (const auto& queued : pending.operations()) {
        if (code != ERROR_SUCCESS)
            break;
        const auto operation = relocated(queued);
        const QString& source = operation.first;
        QString target = operation.second;
        if (target.isEmpty()) {
            if (QFileInfo(source).isDir())
                QDir().rmdir(source);
            else
                QFile::remove(source);
            continue;
        }
        if (target.startsWith(QLatin1Char('!'))) {
            target.remove(0, 1);
            QFile::remove(target);
        }
        QFile::rename(source, target);
    }
    RegistryStore store(*db);
    if (code == ERROR_SUCCESS && key != 0) {
        code = store.deleteValue(
            key, RegistryName::stored(QLatin1String(PendingFileOperations::valueName)));
        if (code == ERROR_FILE_NOT_FOUND)
            code = ERROR_SUCCESS;
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

QString SimulatedHost::cryptoProProductCode()
{
    return QStringLiteral("{407E5BA7-6406-40BF-A4DC-3654B8F584C1}");
}

QString SimulatedHost::packedProductCode(const QString& productCode)
{
    // {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}: the first three groups are
    // reversed whole, the last two byte by byte (each pair of digits swapped).
    if (productCode.size() != 38 || productCode[0] != QLatin1Char('{') ||
        productCode[37] != QLatin1Char('}'))
        return QString();
    for (int i = 1; i < 37; ++i) {
        const QChar c = productCode[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != QLatin1Char('-') : !isxdigit(c.toLatin1()))
            return QString();
    }
    const QString digits = productCode.mid(1, 36).remove(QLatin1Char('-')).toUpper();
    QString packed;
    auto reversed = [&digits](int from, int count) {
        QString part = digits.mid(from, count);
        std::reverse(part.begin(), part.end());
        return part;
    };
    packed += reversed(0, 8) + reversed(8, 4) + reversed(12, 4);
    for (int i = 16; i < 32; i += 2)
        packed += digits.mid(i + 1, 1) + digits.mid(i, 1);
    return packed;
}
