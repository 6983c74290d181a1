#pragma once

#include "SimulatedWinApi.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

// The SQLite database that holds one simulated host: its registry, its
// facts and its environment. Every failure is answered with a Win32 result
// code, and the database file is never reset, truncated or rewritten to get
// past a problem: a damaged host stays as it is for someone to look at.
class HostDatabase
{
public:
    class Statement;
    class Transaction;

    HostDatabase() = default;
    ~HostDatabase();
    HostDatabase(const HostDatabase&) = delete;
    HostDatabase& operator=(const HostDatabase&) = delete;

    // Opens the database of a host that exists. One whose file or folder
    // cannot be written is opened to read only, leaving no file beside it;
    // a write to it then fails as a read-only host's.
    LONG open(const QString& path);
    // Makes the database at path, unless one is there, with the schema and
    // what setUp writes. It is built under a name of its own and linked into
    // place in one step, so no process ever sees a half-made host; of two
    // processes making it at once, the first to link it wins.
    static LONG create(const QString& path, const std::function<LONG(HostDatabase&)>& setUp,
                       QString* problem);
    void close();
    bool isOpen() const { return connection != nullptr; }
    QString path() const { return databasePath; }

    // Empty while the database answers; otherwise what went wrong last.
    QString problem() const { return lastProblem; }

    // A write that lost the race for the write lock to another process
    // (SQLITE_BUSY while a read transaction was upgraded) is no problem of
    // the host: the caller starts again holding the lock from the start.
    void beginAttempt();
    bool lostWriteRace() const;
    // Puts back the problem text from before the attempt.
    void forgetAttempt();

    // A cached prepared statement; sql must be a string literal, since its
    // address is the cache key.
    sqlite3_stmt* prepare(const char* sql, LONG* error);
    LONG execute(const char* sql);
    // A cached statement without values or rows, run once.
    LONG run(const char* sql);
    qint64 lastInsertId() const;
    int changes() const;

    // Maps a SQLite result to a Win32 code and remembers the description.
    LONG fail(int sqliteCode);

    sqlite3* handle() const { return connection; }

    static constexpr qint64 classesRootId = 1;
    static constexpr qint64 currentUserId = 2;
    static constexpr qint64 localMachineId = 3;
    static constexpr qint64 usersId = 4;

private:
    LONG connect(const QString& path, const QByteArray& name, int flags);
    LONG checkSchema();
    // The cache behind prepare(); a failure is left for the caller to record.
    sqlite3_stmt* cached(const char* sql, int* rc);

    sqlite3* connection = nullptr;
    QString databasePath;
    QString lastProblem;
    int lastFailure = 0;
    QString problemBeforeAttempt;
    std::unordered_map<const char*, sqlite3_stmt*> statements;
};

// One step of a cached statement: binds, steps and resets when it goes out
// of scope so the next user finds it clean.
class HostDatabase::Statement
{
public:
    Statement(HostDatabase& database, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, qint64 value);
    void bind(int index, const QByteArray& blob);
    // Binds without a copy: blob must stay unchanged until this statement is
    // gone. Worth it for large values, which would otherwise be copied.
    void bindUnowned(int index, const QByteArray& blob);
    void bindText(int index, const QString& text);
    // Binds the values to the parameters 1, 2, ... in order.
    template <typename... Values> void bindAll(const Values&... values)
    {
        int index = 0;
        (bind(++index, values), ...);
    }

    // ERROR_SUCCESS with *hasRow telling whether a row came back.
    LONG step(bool* hasRow = nullptr);
    // One step that must give a row: ERROR_SUCCESS with it, otherwise
    // missing (or the database's error).
    LONG stepToRow(LONG missing);

    qint64 integer(int column) const;
    QByteArray blob(int column) const;
    // Compares a blob column with data without copying it out.
    bool blobEquals(int column, const QByteArray& data) const;
    QString text(int column) const;
    bool isNull(int column) const;

private:
    HostDatabase& database;
    sqlite3_stmt* statement = nullptr;
    LONG error = ERROR_SUCCESS;
};

// One registry call's transaction. Writers take the write lock up front
// (BEGIN IMMEDIATE) so that two processes never dead-lock upgrading a read
// lock; a transaction that is not committed is rolled back.
class HostDatabase::Transaction
{
public:
    Transaction(HostDatabase& database, bool write);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    LONG beginError() const { return error; }
    LONG commit();

private:
    HostDatabase& database;
    bool open = false;
    LONG error = ERROR_SUCCESS;
};
