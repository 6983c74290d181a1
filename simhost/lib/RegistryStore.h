#pragma once

#include "HostDatabase.h"
#include "SimulatedWinApi.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The registry's keys and values in the host database. Every method runs
// inside the caller's transaction and answers a Win32 result code; names are
// in RegistryName's stored form.
class RegistryStore
{
public:
    struct KeyRow
    {
        qint64 id = 0;
        qint64 parent = 0;
        QByteArray fold;
        bool isVolatile = false;
    };

    struct KeyInfo
    {
        DWORD subKeys = 0;
        DWORD maxSubKeyLength = 0;
        DWORD maxClassLength = 0;
        DWORD values = 0;
        DWORD maxValueNameLength = 0;
        DWORD maxValueLength = 0;
        QByteArray keyClass;
        qint64 written = 0;
    };

    struct Value
    {
        QByteArray name;
        DWORD type = REG_NONE;
        QByteArray data;
    };

    struct SubKey
    {
        QByteArray name;
        QByteArray keyClass;
        qint64 written = 0;
    };

    struct Walk
    {
        bool redirect32 = false; // 64-bit host, 32-bit view
        bool create = false;
        bool createVolatile = false;
        QByteArray keyClass;
        bool created = false; // filled: whether any key had to be made
    };

    explicit RegistryStore(HostDatabase& database) : db(database) {}

    // ERROR_KEY_DELETED when the key is gone.
    LONG key(qint64 id, KeyRow* row);
    // ERROR_FILE_NOT_FOUND when there is no such child.
    LONG child(const KeyRow& parent, const QByteArray& name, KeyRow* row);
    LONG resolve(const KeyRow& start, const std::vector<QByteArray>& path, Walk* walk,
                 KeyRow* result);
    // The key at a backslash-separated path below a predefined root, in the
    // native view; made, with every key on the way, when create is set.
    LONG keyAt(qint64 root, const QString& path, bool create, KeyRow* row);

    LONG queryValue(qint64 key, const QByteArray& name, Value* value);
    LONG setValue(qint64 key, const QByteArray& name, DWORD type, const QByteArray& data);
    LONG deleteValue(qint64 key, const QByteArray& name);
    // Fails with ERROR_ACCESS_DENIED while the key has subkeys, as Windows does.
    LONG deleteKey(const KeyRow& key);
    LONG info(qint64 key, KeyInfo* info);
    LONG valueAt(qint64 key, DWORD index, Value* value);
    LONG subKeyAt(qint64 key, DWORD index, SubKey* subKey);
    LONG hasSubKeys(qint64 key, bool* result);

    // Deletes every volatile key: a restart of the host forgets them.
    LONG deleteVolatileKeys();

    static qint64 now();

private:
    LONG createChild(const KeyRow& parent, const QByteArray& name, const Walk& walk, KeyRow* row);
    LONG step(const KeyRow& current, const QByteArray& name, Walk* walk, KeyRow* next);
    LONG enterWow64Node(KeyRow* current, Walk* walk);
    LONG touch(qint64 key);
    // One statement without a result, its values bound in order.
    template <typename... Values> LONG run(const char* sql, const Values&... values);

    HostDatabase& db;
};
