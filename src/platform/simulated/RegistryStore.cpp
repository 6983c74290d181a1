#include "RegistryStore.h"

#include "RegistryName.h"

#include <QDateTime>

namespace {

const QByteArray& softwareFold()
{
    static const QByteArray fold = RegistryName::folded(QStringLiteral("SOFTWARE"));
    return fold;
}

const QByteArray& wow64NodeName()
{
    static const QByteArray name = RegistryName::stored(QStringLiteral("Wow6432Node"));
    return name;
}

const QByteArray& wow64NodeFold()
{
    static const QByteArray fold = RegistryName::folded(QStringLiteral("Wow6432Node"));
    return fold;
}

QByteArray foldOf(const QByteArray& stored)
{
    return RegistryName::folded(reinterpret_cast<const WCHAR*>(stored.constData()),
                                stored.size() / int(sizeof(WCHAR)));
}

// HKLM\SOFTWARE is the one key whose 32-bit view lives in a child of it.
bool isRedirectedRoot(const RegistryStore::KeyRow& row)
{
    return row.parent == HostDatabase::localMachineId && row.fold == softwareFold();
}

} // namespace

qint64 RegistryStore::now()
{
    // FILETIME: 100-nanosecond ticks since 1601-01-01.
    constexpr qint64 epochDifferenceMs = 11644473600000LL;
    return (QDateTime::currentMSecsSinceEpoch() + epochDifferenceMs) * 10000;
}

LONG RegistryStore::key(qint64 id, KeyRow* row)
{
    HostDatabase::Statement query(db, "SELECT parent, fold, volatile FROM reg_keys WHERE id=?");
    query.bind(1, id);
    bool hasRow = false;
    if (LONG code = query.step(&hasRow); code != ERROR_SUCCESS)
        return code;
    if (!hasRow)
        return ERROR_KEY_DELETED;
    row->id = id;
    row->parent = query.integer(0);
    row->fold = query.blob(1);
    row->isVolatile = query.integer(2) != 0;
    return ERROR_SUCCESS;
}

LONG RegistryStore::child(const KeyRow& parent, const QByteArray& name, KeyRow* row)
{
    const QByteArray fold = foldOf(name);
    HostDatabase::Statement query(db,
                                  "SELECT id, volatile FROM reg_keys WHERE parent=? AND fold=?");
    query.bind(1, parent.id);
    query.bind(2, fold);
    bool hasRow = false;
    if (LONG code = query.step(&hasRow); code != ERROR_SUCCESS)
        return code;
    if (!hasRow)
        return ERROR_FILE_NOT_FOUND;
    row->id = query.integer(0);
    row->parent = parent.id;
    row->fold = fold;
    row->isVolatile = query.integer(1) != 0;
    return ERROR_SUCCESS;
}

LONG RegistryStore::createChild(const KeyRow& parent, const QByteArray& name, const Walk& walk,
                                KeyRow* row)
{
    if (parent.isVolatile && !walk.createVolatile)
        return ERROR_CHILD_MUST_BE_VOLATILE;
    const qint64 written = now();
    {
        HostDatabase::Statement insert(db, "INSERT INTO reg_keys(parent, name, fold, class,"
                                           " volatile, written) VALUES(?, ?, ?, ?, ?, ?)");
        insert.bind(1, parent.id);
        insert.bind(2, name);
        insert.bind(3, foldOf(name));
        insert.bind(4, walk.keyClass);
        insert.bind(5, walk.createVolatile ? 1 : 0);
        insert.bind(6, written);
        if (LONG code = insert.step(); code != ERROR_SUCCESS)
            return code;
    }
    row->id = db.lastInsertId();
    row->parent = parent.id;
    row->fold = foldOf(name);
    row->isVolatile = walk.createVolatile;
    return touch(parent.id);
}

LONG RegistryStore::step(const KeyRow& current, const QByteArray& name, Walk* walk, KeyRow* next)
{
    LONG code = child(current, name, next);
    if (code == ERROR_FILE_NOT_FOUND && walk->create) {
        code = createChild(current, name, *walk, next);
        if (code == ERROR_SUCCESS)
            walk->created = true;
    }
    return code;
}

LONG RegistryStore::resolve(const KeyRow& start, const std::vector<QByteArray>& path, Walk* walk,
                            KeyRow* result)
{
    KeyRow current = start;
    for (const QByteArray& name : path) {
        if (walk->redirect32 && isRedirectedRoot(current) && foldOf(name) != wow64NodeFold()) {
            // The 32-bit view's node itself is never volatile.
            Walk node = *walk;
            node.createVolatile = false;
            node.keyClass.clear();
            KeyRow redirected;
            if (LONG code = step(current, wow64NodeName(), &node, &redirected);
                code != ERROR_SUCCESS)
                return code;
            walk->created |= node.created;
            current = redirected;
        }
        KeyRow next;
        if (LONG code = step(current, name, walk, &next); code != ERROR_SUCCESS)
            return code;
        current = next;
    }
    if (walk->redirect32 && isRedirectedRoot(current)) {
        Walk node = *walk;
        node.createVolatile = false;
        node.keyClass.clear();
        KeyRow redirected;
        if (LONG code = step(current, wow64NodeName(), &node, &redirected); code != ERROR_SUCCESS)
            return code;
        walk->created |= node.created;
        current = redirected;
    }
    *result = current;
    return ERROR_SUCCESS;
}

LONG RegistryStore::queryValue(qint64 key, const QByteArray& name, Value* value)
{
    HostDatabase::Statement query(db, "SELECT name, type, data FROM reg_values"
                                      " WHERE key=? AND fold=?");
    query.bind(1, key);
    query.bind(2, foldOf(name));
    bool hasRow = false;
    if (LONG code = query.step(&hasRow); code != ERROR_SUCCESS)
        return code;
    if (!hasRow)
        return ERROR_FILE_NOT_FOUND;
    value->name = query.blob(0);
    value->type = DWORD(query.integer(1));
    value->data = query.blob(2);
    return ERROR_SUCCESS;
}

LONG RegistryStore::setValue(qint64 key, const QByteArray& name, DWORD type, const QByteArray& data)
{
    {
        // An existing value keeps its name's spelling and its place in the
        // enumeration order, as on Windows.
        HostDatabase::Statement upsert(db, "INSERT INTO reg_values(key, name, fold, type, data)"
                                           " VALUES(?, ?, ?, ?, ?) ON CONFLICT(key, fold)"
                                           " DO UPDATE SET type=excluded.type,"
                                           " data=excluded.data");
        upsert.bind(1, key);
        upsert.bind(2, name);
        upsert.bind(3, foldOf(name));
        upsert.bind(4, qint64(type));
        upsert.bind(5, data);
        if (LONG code = upsert.step(); code != ERROR_SUCCESS)
            return code;
    }
    return touch(key);
}

LONG RegistryStore::deleteValue(qint64 key, const QByteArray& name)
{
    {
        HostDatabase::Statement remove(db, "DELETE FROM reg_values WHERE key=? AND fold=?");
        remove.bind(1, key);
        remove.bind(2, foldOf(name));
        if (LONG code = remove.step(); code != ERROR_SUCCESS)
            return code;
    }
    if (db.changes() == 0)
        return ERROR_FILE_NOT_FOUND;
    return touch(key);
}

LONG RegistryStore::hasSubKeys(qint64 key, bool* result)
{
    HostDatabase::Statement query(db, "SELECT 1 FROM reg_keys WHERE parent=? LIMIT 1");
    query.bind(1, key);
    return query.step(result);
}

LONG RegistryStore::deleteKey(const KeyRow& key)
{
    if (key.parent == 0)
        return ERROR_ACCESS_DENIED;
    bool children = false;
    if (LONG code = hasSubKeys(key.id, &children); code != ERROR_SUCCESS)
        return code;
    if (children)
        return ERROR_ACCESS_DENIED;
    {
        HostDatabase::Statement values(db, "DELETE FROM reg_values WHERE key=?");
        values.bind(1, key.id);
        if (LONG code = values.step(); code != ERROR_SUCCESS)
            return code;
    }
    {
        HostDatabase::Statement remove(db, "DELETE FROM reg_keys WHERE id=?");
        remove.bind(1, key.id);
        if (LONG code = remove.step(); code != ERROR_SUCCESS)
            return code;
    }
    return touch(key.parent);
}

LONG RegistryStore::info(qint64 key, KeyInfo* info)
{
    {
        HostDatabase::Statement keys(db, "SELECT count(*), coalesce(max(length(name)), 0),"
                                         " coalesce(max(length(class)), 0)"
                                         " FROM reg_keys WHERE parent=?");
        keys.bind(1, key);
        if (LONG code = keys.step(); code != ERROR_SUCCESS)
            return code;
        info->subKeys = DWORD(keys.integer(0));
        info->maxSubKeyLength = DWORD(keys.integer(1) / 2);
        info->maxClassLength = DWORD(keys.integer(2) / 2);
    }
    {
        HostDatabase::Statement values(db, "SELECT count(*), coalesce(max(length(name)), 0),"
                                           " coalesce(max(length(data)), 0)"
                                           " FROM reg_values WHERE key=?");
        values.bind(1, key);
        if (LONG code = values.step(); code != ERROR_SUCCESS)
            return code;
        info->values = DWORD(values.integer(0));
        info->maxValueNameLength = DWORD(values.integer(1) / 2);
        info->maxValueLength = DWORD(values.integer(2));
    }
    HostDatabase::Statement self(db, "SELECT class, written FROM reg_keys WHERE id=?");
    self.bind(1, key);
    bool hasRow = false;
    if (LONG code = self.step(&hasRow); code != ERROR_SUCCESS)
        return code;
    if (!hasRow)
        return ERROR_KEY_DELETED;
    info->keyClass = self.blob(0);
    info->written = self.integer(1);
    return ERROR_SUCCESS;
}

LONG RegistryStore::valueAt(qint64 key, DWORD index, Value* value)
{
    HostDatabase::Statement query(db, "SELECT name, type, data FROM reg_values WHERE key=?"
                                      " ORDER BY id LIMIT 1 OFFSET ?");
    query.bind(1, key);
    query.bind(2, qint64(index));
    bool hasRow = false;
    if (LONG code = query.step(&hasRow); code != ERROR_SUCCESS)
        return code;
    if (!hasRow)
        return ERROR_NO_MORE_ITEMS;
    value->name = query.blob(0);
    value->type = DWORD(query.integer(1));
    value->data = query.blob(2);
    return ERROR_SUCCESS;
}

LONG RegistryStore::subKeyAt(qint64 key, DWORD index, SubKey* subKey)
{
    HostDatabase::Statement query(db, "SELECT name, class, written FROM reg_keys WHERE parent=?"
                                      " ORDER BY fold LIMIT 1 OFFSET ?");
    query.bind(1, key);
    query.bind(2, qint64(index));
    bool hasRow = false;
    if (LONG code = query.step(&hasRow); code != ERROR_SUCCESS)
        return code;
    if (!hasRow)
        return ERROR_NO_MORE_ITEMS;
    subKey->name = query.blob(0);
    subKey->keyClass = query.blob(1);
    subKey->written = query.integer(2);
    return ERROR_SUCCESS;
}

LONG RegistryStore::deleteVolatileKeys()
{
    if (LONG code = db.execute("DELETE FROM reg_values WHERE key IN"
                               " (SELECT id FROM reg_keys WHERE volatile=1)");
        code != ERROR_SUCCESS)
        return code;
    return db.execute("DELETE FROM reg_keys WHERE volatile=1");
}

LONG RegistryStore::touch(qint64 key)
{
    HostDatabase::Statement update(db, "UPDATE reg_keys SET written=? WHERE id=?");
    update.bind(1, now());
    update.bind(2, key);
    return update.step();
}
