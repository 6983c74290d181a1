#include "HostDatabase.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <sqlite3.h>
#include <unistd.h>

namespace {

// Bumped whenever the tables change shape; an unknown format is refused
// rather than guessed at.
constexpr const char* schemaFormat = "1";

// Long enough that concurrent installers and tools wait for each other
// instead of failing; short enough that a stuck writer is reported.
// VEXOR_HOST_BUSY_TIMEOUT_MS sets another wait, in milliseconds.
int busyTimeoutMs()
{
    bool ok = false;
    const int named = qEnvironmentVariableIntValue("VEXOR_HOST_BUSY_TIMEOUT_MS", &ok);
    return ok && named >= 0 ? named : 30000;
}

const char* const schemaStatements[] = {
    "CREATE TABLE IF NOT EXISTS host_meta(name TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS host_environment(name TEXT PRIMARY KEY, value TEXT NOT NULL)",
    // name holds the UTF-16 units as given; fold the upper-cased units in
    // big-endian order, so that memcmp order is UTF-16 unit order.
    "CREATE TABLE IF NOT EXISTS reg_keys(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
    " class BLOB NOT NULL DEFAULT x'', volatile INTEGER NOT NULL DEFAULT 0,"
    " written INTEGER NOT NULL DEFAULT 0)",
    "CREATE UNIQUE INDEX IF NOT EXISTS reg_keys_by_name ON reg_keys(parent, fold)",
    "CREATE TABLE IF NOT EXISTS reg_values(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL)",
    "CREATE UNIQUE INDEX IF NOT EXISTS reg_values_by_name ON reg_values(key, fold)",
    "CREATE INDEX IF NOT EXISTS reg_values_in_order ON reg_values(key, id)",
    "INSERT OR IGNORE INTO reg_keys(id, parent, name, fold) VALUES"
    " (1, 0, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB)),"
    " (2, 0, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB)),"
    " (3, 0, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB)),"
    " (4, 0, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB))",
};

} // namespace

HostDatabase::~HostDatabase()
{
    close();
}

void HostDatabase::close()
{
    for (auto& entry : statements)
        sqlite3_finalize(entry.second);
    statements.clear();
    if (connection)
        sqlite3_close_v2(connection);
    connection = nullptr;
}

LONG HostDatabase::connect(const QString& path, const QByteArray& name, int flags)
{
    close();
    databasePath = path;
    lastProblem.clear();
    const int rc =
        sqlite3_open_v2(name.constData(), &connection, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const LONG code = fail(rc);
        close();
        return code;
    }
    sqlite3_extended_result_codes(connection, 1);
    sqlite3_busy_timeout(connection, busyTimeoutMs());
    // A process killed mid-call loses nothing committed with WAL and NORMAL
    // sync: the commit is in the log file before the call returns.
    const LONG code = execute("PRAGMA synchronous=NORMAL");
    if (code != ERROR_SUCCESS)
        close();
    return code;
}

LONG HostDatabase::open(const QString& path)
{
    const QByteArray file = QFile::encodeName(path);
    if (!QFileInfo::exists(path)) {
        close();
        databasePath = path;
        lastProblem = QStringLiteral("host database %1 does not exist").arg(path);
        return ERROR_REGISTRY_IO_FAILED;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    LONG code = ERROR_SUCCESS;
    if (::access(file.constData(), W_OK) == 0 && ::access(folder.constData(), W_OK) == 0) {
        code = connect(path, file, SQLITE_OPEN_READWRITE);
    } else if (QFileInfo::exists(path + QStringLiteral("-wal"))) {
        // Commits still in the log: only a reading connection sees them.
        code = connect(path, file, SQLITE_OPEN_READONLY);
    } else {
        // Everything is in the file itself; immutable reads it without the
        // shared-memory file a reader would otherwise leave behind.
        code =
            connect(path, QUrl::fromLocalFile(path).toEncoded() + QByteArrayLiteral("?immutable=1"),
                    SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    }
    if (code == ERROR_SUCCESS)
        code = checkSchema();
    if (code != ERROR_SUCCESS) {
        if (lastProblem.isEmpty())
            lastProblem =
                QStringLiteral("host database %1 is not a registry of this host").arg(path);
        close();
    }
    return code;
}

LONG HostDatabase::create(const QString& path, const std::function<LONG(HostDatabase&)>& setUp,
                          QString* problem)
{
    if (QFileInfo::exists(path))
        return ERROR_SUCCESS;
    const QString building =
        path + QStringLiteral(".new-") + QUuid::createUuid().toString(QUuid::Id128);
    HostDatabase db;
    LONG code = db.connect(building, QFile::encodeName(building),
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // WAL lets readers go on while one process writes; it is a property of
    // the file and stays set for every later connection.
    if (code == ERROR_SUCCESS)
        code = db.execute("PRAGMA journal_mode=WAL");
    if (code == ERROR_SUCCESS) {
        Transaction transaction(db, true);
        code = transaction.beginError();
        for (const char* sql : schemaStatements) {
            if (code == ERROR_SUCCESS)
                code = db.execute(sql);
        }
        if (code == ERROR_SUCCESS) {
            Statement format(db, "INSERT INTO host_meta(name, value) VALUES('format', ?)");
            format.bindText(1, QLatin1String(schemaFormat));
            code = format.step();
        }
        if (code == ERROR_SUCCESS)
            code = setUp(db);
        if (code == ERROR_SUCCESS)
            code = transaction.commit();
    }
    *problem = db.problem();
    // Closing the only connection folds the log into the file.
    db.close();
    if (code == ERROR_SUCCESS &&
        ::link(QFile::encodeName(building).constData(), QFile::encodeName(path).constData()) != 0 &&
        errno != EEXIST) {
        *problem = QStringLiteral("cannot make the host database %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        code = ERROR_REGISTRY_IO_FAILED;
    }
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(building + QLatin1String(suffix));
    return code;
}

LONG HostDatabase::checkSchema()
{
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(connection, "SELECT value FROM host_meta WHERE name='format'", -1,
                                &raw, nullptr);
    if (rc != SQLITE_OK) {
        if (rc == SQLITE_ERROR) {
            lastProblem =
                QStringLiteral("host database %1 is not a registry of this host").arg(databasePath);
            return ERROR_REGISTRY_CORRUPT;
        }
        return fail(rc);
    }
    rc = sqlite3_step(raw);
    QString format;
    if (rc == SQLITE_ROW)
        format = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
    sqlite3_finalize(raw);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return fail(rc);
    if (format != QLatin1String(schemaFormat)) {
        lastProblem = QStringLiteral("host database %1 has the unknown format \"%2\"")
                          .arg(databasePath, format);
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

sqlite3_stmt* HostDatabase::prepare(const char* sql, LONG* error)
{
    *error = ERROR_SUCCESS;
    if (!connection) {
        *error = ERROR_REGISTRY_IO_FAILED;
        return nullptr;
    }
    int rc = SQLITE_OK;
    sqlite3_stmt* statement = cached(sql, &rc);
    if (!statement)
        *error = fail(rc);
    return statement;
}

sqlite3_stmt* HostDatabase::cached(const char* sql, int* rc)
{
    *rc = SQLITE_OK;
    auto found = statements.find(sql);
    if (found != statements.end())
        return found->second;
    sqlite3_stmt* statement = nullptr;
    *rc = sqlite3_prepare_v3(connection, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (*rc != SQLITE_OK)
        return nullptr;
    statements.emplace(sql, statement);
    return statement;
}

LONG HostDatabase::run(const char* sql)
{
    Statement statement(*this, sql);
    return statement.step();
}

LONG HostDatabase::execute(const char* sql)
{
    if (!connection)
        return ERROR_REGISTRY_IO_FAILED;
    const int rc = sqlite3_exec(connection, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? ERROR_SUCCESS : fail(rc);
}

qint64 HostDatabase::lastInsertId() const
{
    return connection ? sqlite3_last_insert_rowid(connection) : 0;
}

int HostDatabase::changes() const
{
    return connection ? sqlite3_changes(connection) : 0;
}

LONG HostDatabase::fail(int sqliteCode)
{
    const QString detail = connection ? QString::fromUtf8(sqlite3_errmsg(connection))
                                      : QString::fromUtf8(sqlite3_errstr(sqliteCode));
    if ((sqliteCode & 0xff) == SQLITE_BUSY)
        lastProblem = QStringLiteral("host database %1 is busy: another process holds its lock")
                          .arg(databasePath);
    else if ((sqliteCode & 0xff) == SQLITE_READONLY)
        lastProblem = QStringLiteral("host database %1 is read-only: its file or folder cannot be "
                                     "written")
                          .arg(databasePath);
    else
        lastProblem = QStringLiteral("host database %1: %2").arg(databasePath, detail);
    lastFailure = sqliteCode;
    switch (sqliteCode & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    default:
        // Locked out, unreadable, read-only, full disk: the registry could
        // not read or write its file.
        return ERROR_REGISTRY_IO_FAILED;
    }
}

void HostDatabase::beginAttempt()
{
    problemBeforeAttempt = lastProblem;
    lastFailure = SQLITE_OK;
}

bool HostDatabase::lostWriteRace() const
{
    return (lastFailure & 0xff) == SQLITE_BUSY;
}

void HostDatabase::forgetAttempt()
{
    lastProblem = problemBeforeAttempt;
    lastFailure = SQLITE_OK;
}

HostDatabase::Statement::Statement(HostDatabase& database, const char* sql) : database(database)
{
    statement = database.prepare(sql, &error);
}

HostDatabase::Statement::~Statement()
{
    if (statement) {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
}

void HostDatabase::Statement::bind(int index, qint64 value)
{
    if (statement)
        sqlite3_bind_int64(statement, index, value);
}

void HostDatabase::Statement::bind(int index, const QByteArray& blob)
{
    // A non-null pointer keeps an empty blob from turning into NULL.
    static const char empty = 0;
    if (statement)
        sqlite3_bind_blob(statement, index, blob.isEmpty() ? &empty : blob.constData(), blob.size(),
                          SQLITE_TRANSIENT);
}

void HostDatabase::Statement::bindUnowned(int index, const QByteArray& blob)
{
    static const char empty = 0;
    if (statement)
        sqlite3_bind_blob(statement, index, blob.isEmpty() ? &empty : blob.constData(), blob.size(),
                          SQLITE_STATIC);
}

void HostDatabase::Statement::bindText(int index, const QString& text)
{
    if (statement) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(statement, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    }
}

LONG HostDatabase::Statement::step(bool* hasRow)
{
    if (hasRow)
        *hasRow = false;
    if (!statement)
        return error;
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
        if (hasRow)
            *hasRow = true;
        return ERROR_SUCCESS;
    }
    if (rc == SQLITE_DONE)
        return ERROR_SUCCESS;
    return database.fail(rc);
}

LONG HostDatabase::Statement::stepToRow(LONG missing)
{
    bool hasRow = false;
    if (LONG code = step(&hasRow); code != ERROR_SUCCESS)
        return code;
    return hasRow ? ERROR_SUCCESS : missing;
}

qint64 HostDatabase::Statement::integer(int column) const
{
    return statement ? sqlite3_column_int64(statement, column) : 0;
}

QByteArray HostDatabase::Statement::blob(int column) const
{
    if (!statement)
        return {};
    const void* data = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return QByteArray(static_cast<const char*>(data), size);
}

bool HostDatabase::Statement::blobEquals(int column, const QByteArray& data) const
{
    if (!statement)
        return false;
    const void* stored = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return size == data.size() && (size == 0 || std::memcmp(stored, data.constData(), size) == 0);
}

QString HostDatabase::Statement::text(int column) const
{
    if (!statement)
        return {};
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(statement, column));
}

bool HostDatabase::Statement::isNull(int column) const
{
    return !statement || sqlite3_column_type(statement, column) == SQLITE_NULL;
}

// Transactions run cached statements: parsing BEGIN and COMMIT anew would
// cost every registry call a few microseconds.
HostDatabase::Transaction::Transaction(HostDatabase& database, bool write) : database(database)
{
    error = database.run(write ? "BEGIN IMMEDIATE" : "BEGIN");
    open = error == ERROR_SUCCESS;
}

HostDatabase::Transaction::~Transaction()
{
    // A failed rollback must not hide the problem that caused it, so its
    // own failure is not recorded.
    if (!open || !database.isOpen())
        return;
    int rc = SQLITE_OK;
    if (sqlite3_stmt* rollback = database.cached("ROLLBACK", &rc)) {
        sqlite3_step(rollback);
        sqlite3_reset(rollback);
    }
}

LONG HostDatabase::Transaction::commit()
{
    if (!open)
        return error != ERROR_SUCCESS ? error : ERROR_REGISTRY_IO_FAILED;
    const LONG code = database.run("COMMIT");
    if (code == ERROR_SUCCESS)
        open = false;
    return code;
}
