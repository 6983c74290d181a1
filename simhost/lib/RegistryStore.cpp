#include "RegistryStore.h"

#include "RegistryName.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QSet>

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

// Keys below SOFTWARE of which Windows keeps one copy for both views, as
// Wine's wine.inf links them; the 32-bit view reaches the native key.
const char* const sharedKeys[] = {
    "Microsoft\\Clients",
    "Microsoft\\Cryptography\\Calais\\Current",
    "Microsoft\\Cryptography\\Calais\\Readers",
    "Microsoft\\Cryptography\\Services",
    "Microsoft\\CTF\\SystemShared",
    "Microsoft\\CTF\\TIP",
    "Microsoft\\DFS",
    "Microsoft\\Driver Signing",
    "Microsoft\\EnterpriseCertificates",
    "Microsoft\\EventSystem",
    "Microsoft\\MSMQ",
    "Microsoft\\Non-Driver Signing",
    "Microsoft\\Notepad\\DefaultFonts",
    "Microsoft\\OLE",
    "Microsoft\\RAS",
    "Microsoft\\RPC",
    "Microsoft\\Shared Tools\\MSInfo",
    "Microsoft\\SystemCertificates",
    "Microsoft\\TermServLicensing",
    "Microsoft\\Transaction Server",
    "Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    "Microsoft\\Windows\\CurrentVersion\\Group Policy",
    "Microsoft\\Windows\\CurrentVersion\\Policies",
    "Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    "Microsoft\\Windows\\CurrentVersion\\Setup",
    "Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
    "Microsoft\\Windows\\CurrentVersion\\Time Zones",
    "Microsoft\\Windows NT\\CurrentVersion\\Console",
    "Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    "Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    "Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    "Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
    "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    "Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    "Microsoft\\Windows NT\\CurrentVersion\\Ports",
    "Microsoft\\Windows NT\\CurrentVersion\\Print",
    "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    "Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    "Policies",
    "Registered Applications",
};

// Folded paths joined by a backslash, which no key name holds.
const QByteArray pathSeparator("\0\\", 2);

// Whether path[from...] begins with a shared key.
bool leadsToSharedKey(const std::vector<QByteArray>& path, size_t from)
{
    static const QSet<QByteArray> shared = [] {
        QSet<QByteArray> paths;
        for (const char* key : sharedKeys) {
            QByteArrayList folded;
            for (const QString& name : QString::fromLatin1(key).split(QLatin1Char('\\')))
                folded << RegistryName::folded(name);
            paths.insert(folded.join(pathSeparator));
        }
        return paths;
    }();
    QByteArray walked;
    for (size_t i = from; i < path.size(); ++i) {
        walked += (i == from ? QByteArray() : pathSeparator) + foldOf(path[i]);
        if (shared.contains(walked))
            return true;
    }
    return false;
}

// Reads the name, type and data columns, in that order, of a value query.
void readValue(const HostDatabase::Statement& query, RegistryStore::Value* value)
{
    value->name = query.blob(0);
    value->type = DWORD(query.integer(1));
    value->data = query.blob(2);
}

} // namespace

qint64 RegistryStore::now()
{
    // FILETIME: 100-nanosecond ticks since 1601-01-01.
    constexpr qint64 epochDifferenceMs = 11644473600000LL;
    return (QDateTime::currentMSecsSinceEpoch() + epochDifferenceMs) * 10000;
}

template <typename... Values> LONG RegistryStore::run(const char* sql, const Values&... values)
{
    HostDatabase::Statement statement(db, sql);
    statement.bindAll(values...);
    return statement.step();
}

LONG RegistryStore::key(qint64 id, KeyRow* row)
{
    HostDatabase::Statement query(db, "SELECT parent, fold, volatile FROM reg_keys WHERE id=?");
    query.bindAll(id);
    if (LONG code = query.stepToRow(ERROR_KEY_DELETED); code != ERROR_SUCCESS)
        return code;
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
    query.bindAll(parent.id, fold);
    if (LONG code = query.stepToRow(ERROR_FILE_NOT_FOUND); code != ERROR_SUCCESS)
        return code;
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
    if (LONG code = run("INSERT INTO reg_keys(parent, name, fold, class, volatile, written)"
                        " VALUES(?, ?, ?, ?, ?, ?)",
                        parent.id, name, foldOf(name), walk.keyClass,
                        qint64(walk.createVolatile ? 1 : 0), now());
        code != ERROR_SUCCESS)
        return code;
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

LONG RegistryStore::enterWow64Node(KeyRow* current, Walk* walk)
{
    // The 32-bit view's node itself is never volatile and has no class.
    Walk node = *walk;
    node.createVolatile = false;
    node.keyClass.clear();
    KeyRow redirected;
    if (LONG code = step(*current, wow64NodeName(), &node, &redirected); code != ERROR_SUCCESS)
        return code;
    walk->created |= node.created;
    *current = redirected;
    return ERROR_SUCCESS;
}

LONG RegistryStore::resolve(const KeyRow& start, const std::vector<QByteArray>& path, Walk* walk,
                            KeyRow* result)
{
    KeyRow current = start;
    for (size_t i = 0; i < path.size(); ++i) {
        const QByteArray& name = path[i];
        if (walk->redirect32 && isRedirectedRoot(current) && foldOf(name) != wow64NodeFold() &&
            !leadsToSharedKey(path, i)) {
            if (LONG code = enterWow64Node(&current, walk); code != ERROR_SUCCESS)
                return code;
        }
        KeyRow next;
        if (LONG code = step(current, name, walk, &next); code != ERROR_SUCCESS)
            return code;
        current = next;
    }
    if (walk->redirect32 && isRedirectedRoot(current)) {
        if (LONG code = enterWow64Node(&current, walk); code != ERROR_SUCCESS)
            return code;
    }
    *result = current;
    return ERROR_SUCCESS;
}

LONG RegistryStore::keyAt(qint64 root, const QString& path, bool create, KeyRow* row)
{
    KeyRow start;
    if (LONG code = key(root, &start); code != ERROR_SUCCESS)
        return code;
    std::vector<QByteArray> elements;
    if (LONG code =
            RegistryName::splitPath(reinterpret_cast<const WCHAR*>(path.utf16()), &elements);
        code != ERROR_SUCCESS)
        return code;
    Walk walk;
    walk.create = create;
    return resolve(start, elements, &walk, row);
}

LONG RegistryStore::queryValue(qint64 key, const QByteArray& name, Value* value)
{
    HostDatabase::Statement query(db, "SELECT name, type, data FROM reg_values"
                                      " WHERE key=? AND fold=?");
    query.bindAll(key, foldOf(name));
    if (LONG code = query.stepToRow(ERROR_FILE_NOT_FOUND); code != ERROR_SUCCESS)
        return code;
    readValue(query, value);
    return ERROR_SUCCESS;
}

LONG RegistryStore::setValue(qint64 key, const QByteArray& name, DWORD type, const QByteArray& data)
{
    const QByteArray fold = foldOf(name);
    bool found = false;
    bool sameShape = false;
    {
        // length() of a blob is read from the row header, so a value of
        // another size or type is told apart without reading its data.
        HostDatabase::Statement existing(db, "SELECT type, length(data) FROM reg_values"
                                             " WHERE key=? AND fold=?");
        existing.bindAll(key, fold);
        if (LONG code = existing.step(&found); code != ERROR_SUCCESS)
            return code;
        sameShape =
            found && DWORD(existing.integer(0)) == type && existing.integer(1) == data.size();
    }
    if (sameShape) {
        HostDatabase::Statement stored(db, "SELECT data FROM reg_values WHERE key=? AND fold=?");
        stored.bindAll(key, fold);
        if (LONG code = stored.stepToRow(ERROR_FILE_NOT_FOUND); code != ERROR_SUCCESS)
            return code;
        // Rewriting what is already there changes nothing, not even the
        // key's time of last write, as on Wine; it costs no write to the log
        // either.
        if (stored.blobEquals(0, data))
            return ERROR_SUCCESS;
    }
    // An existing value keeps its name's spelling and its place in the
    // enumeration order, as on Windows. An update rather than an upsert:
    // the upsert would rewrite the row counter's page as well. The data is
    // bound without a copy; it outlives the statement.
    LONG code = ERROR_SUCCESS;
    if (found) {
        HostDatabase::Statement update(
            db, "UPDATE reg_values SET type=?, data=? WHERE key=? AND fold=?");
        update.bind(1, qint64(type));
        update.bindUnowned(2, data);
        update.bind(3, key);
        update.bind(4, fold);
        code = update.step();
    } else {
        HostDatabase::Statement insert(db, "INSERT INTO reg_values(key, name, fold, type, data)"
                                           " VALUES(?, ?, ?, ?, ?)");
        insert.bindAll(key, name, fold, qint64(type));
        insert.bindUnowned(5, data);
        code = insert.step();
    }
    if (code != ERROR_SUCCESS)
        return code;
    return touch(key);
}

LONG RegistryStore::deleteValue(qint64 key, const QByteArray& name)
{
    if (LONG code = run("DELETE FROM reg_values WHERE key=? AND fold=?", key, foldOf(name));
        code != ERROR_SUCCESS)
        return code;
    if (db.changes() == 0)
        return ERROR_FILE_NOT_FOUND;
    return touch(key);
}

LONG RegistryStore::hasSubKeys(qint64 key, bool* result)
{
    HostDatabase::Statement query(db, "SELECT 1 FROM reg_keys WHERE parent=? LIMIT 1");
    query.bindAll(key);
    return query.step(result);
}

LONG RegistryStore::deleteKey(const KeyRow& key)
{
    // The predefined keys and the hive roots right below HKLM and HKU stay.
    if (key.parent == 0 || key.parent == HostDatabase::localMachineId ||
        key.parent == HostDatabase::usersId)
        return ERROR_ACCESS_DENIED;
    bool children = false;
    if (LONG code = hasSubKeys(key.id, &children); code != ERROR_SUCCESS)
        return code;
    if (children)
        return ERROR_ACCESS_DENIED;
    if (LONG code = run("DELETE FROM reg_values WHERE key=?", key.id); code != ERROR_SUCCESS)
        return code;
    if (LONG code = run("DELETE FROM reg_keys WHERE id=?", key.id); code != ERROR_SUCCESS)
        return code;
    return touch(key.parent);
}

LONG RegistryStore::info(qint64 key, KeyInfo* info)
{
    {
        HostDatabase::Statement keys(db, "SELECT count(*), coalesce(max(length(name)), 0),"
                                         " coalesce(max(length(class)), 0)"
                                         " FROM reg_keys WHERE parent=?");
        keys.bindAll(key);
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
        values.bindAll(key);
        if (LONG code = values.step(); code != ERROR_SUCCESS)
            return code;
        info->values = DWORD(values.integer(0));
        info->maxValueNameLength = DWORD(values.integer(1) / 2);
        info->maxValueLength = DWORD(values.integer(2));
    }
    HostDatabase::Statement self(db, "SELECT class, written FROM reg_keys WHERE id=?");
    self.bindAll(key);
    if (LONG code = self.stepToRow(ERROR_KEY_DELETED); code != ERROR_SUCCESS)
        return code;
    info->keyClass = self.blob(0);
    info->written = self.integer(1);
    return ERROR_SUCCESS;
}

LONG RegistryStore::valueAt(qint64 key, DWORD index, Value* value)
{
    HostDatabase::Statement query(db, "SELECT name, type, data FROM reg_values WHERE key=?"
                                      " ORDER BY id LIMIT 1 OFFSET ?");
    query.bindAll(key, qint64(index));
    if (LONG code = query.stepToRow(ERROR_NO_MORE_ITEMS); code != ERROR_SUCCESS)
        return code;
    readValue(query, value);
    return ERROR_SUCCESS;
}

LONG RegistryStore::subKeyAt(qint64 key, DWORD index, SubKey* subKey)
{
    HostDatabase::Statement query(db, "SELECT name, class, written FROM reg_keys WHERE parent=?"
                                      " ORDER BY fold LIMIT 1 OFFSET ?");
    query.bindAll(key, qint64(index));
    if (LONG code = query.stepToRow(ERROR_NO_MORE_ITEMS); code != ERROR_SUCCESS)
        return code;
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
    return run("UPDATE reg_keys SET written=? WHERE id=?", now(), key);
}
