#include "HostSnapshot.h"

#include "HostDatabase.h"
#include "RegFileWriter.h"
#include "RegistryName.h"
#include "SimulatedHost.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include <unistd.h>

namespace {

struct Value
{
    QString name;
    DWORD type = REG_NONE;
    QByteArray data;
};

// A registry as key paths (upper-cased) to their name and their values
// (by upper-cased name); files as paths below the host folder to size and hash.
struct State
{
    QMap<QString, QPair<QString, QMap<QString, Value>>> keys;
    QMap<QString, QPair<qint64, QByteArray>> files;
};

QString snapshotPath(const QString& name)
{
    return SimulatedHost::folder() + QStringLiteral("/snapshots/") + name + QStringLiteral(".db");
}

bool validName(const QString& name, QTextStream& err)
{
    if (QRegularExpression(QStringLiteral("^[A-Za-z0-9._-]+$")).match(name).hasMatch())
        return true;
    err << "vexor-host: a snapshot name is letters, digits, '.', '_' and '-'\n";
    return false;
}

LONG readRegistry(HostDatabase& db, State* state)
{
    // The predefined keys hold their names as 8-bit text; every other name
    // is UTF-16.
    QMap<qint64, QPair<qint64, QString>> rows{{1, {0, QStringLiteral("HKEY_CLASSES_ROOT")}},
                                              {2, {0, QStringLiteral("HKEY_CURRENT_USER")}},
                                              {3, {0, QStringLiteral("HKEY_LOCAL_MACHINE")}},
                                              {4, {0, QStringLiteral("HKEY_USERS")}}};
    bool hasRow = false;
    HostDatabase::Statement keys(db, "SELECT id, parent, name FROM reg_keys WHERE parent<>0");
    LONG code = ERROR_SUCCESS;
    while ((code = keys.step(&hasRow)) == ERROR_SUCCESS && hasRow)
        rows.insert(keys.integer(0), {keys.integer(1), RegistryName::text(keys.blob(2))});
    QMap<qint64, QString> paths;
    const auto path = [&](qint64 id) {
        QStringList names;
        for (qint64 at = id; rows.contains(at); at = rows[at].first)
            names.prepend(rows[at].second);
        return names.join(QLatin1Char('\\'));
    };
    for (auto row = rows.cbegin(); code == ERROR_SUCCESS && row != rows.cend(); ++row) {
        paths.insert(row.key(), path(row.key()));
        state->keys.insert(paths[row.key()].toUpper(), {paths[row.key()], {}});
    }
    HostDatabase::Statement values(db, "SELECT key, name, type, data FROM reg_values");
    while (code == ERROR_SUCCESS && (code = values.step(&hasRow)) == ERROR_SUCCESS && hasRow) {
        const Value value{RegistryName::text(values.blob(1)), DWORD(values.integer(2)),
                          values.blob(3)};
        state->keys[paths.value(values.integer(0)).toUpper()].second.insert(value.name.toUpper(),
                                                                            value);
    }
    return code;
}

QMap<QString, QPair<qint64, QByteArray>> readFiles()
{
    QMap<QString, QPair<qint64, QByteArray>> files;
    const QDir host(SimulatedHost::folder());
    // A link is not followed: what it leads to may lie outside the host.
    QDirIterator it(host.filePath(QStringLiteral("drive_c")),
                    QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (file.open(QIODevice::ReadOnly))
            hash.addData(&file);
        files.insert(host.relativeFilePath(file.fileName()), {file.size(), hash.result()});
    }
    return files;
}

QString line(const QString& mark, const Value& value)
{
    return mark + RegFileWriter::valueLine(value.name, value.type, value.data)
                      .replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace

int HostSnapshot::take(const QString& name, QTextStream& out, QTextStream& err)
{
    if (!validName(name, err))
        return 2;
    // Nothing is made until the host is known to be there and writable.
    if (const QString problem = SimulatedHost::problem(); !problem.isEmpty()) {
        err << "vexor-host: " << problem << '\n';
        return 1;
    }
    const QString path = snapshotPath(name);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder) || ::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
        err << "vexor-host: the host in " << SimulatedHost::folder()
            << " is read-only: a snapshot cannot be stored in it\n";
        return 1;
    }
    HostDatabase db;
    LONG code = db.open(SimulatedHost::databasePath());
    QFile::remove(path);
    if (code == ERROR_SUCCESS) {
        HostDatabase::Statement copy(db, "VACUUM INTO ?");
        copy.bindText(1, path);
        code = copy.step();
    }
    HostDatabase snapshot;
    if (code == ERROR_SUCCESS)
        code = snapshot.open(path);
    if (code == ERROR_SUCCESS)
        code = snapshot.execute("CREATE TABLE snapshot_files(path TEXT, size INTEGER, hash BLOB)");
    const auto files = readFiles();
    for (auto file = files.cbegin(); code == ERROR_SUCCESS && file != files.cend(); ++file) {
        HostDatabase::Statement insert(snapshot, "INSERT INTO snapshot_files VALUES(?, ?, ?)");
        insert.bindText(1, file.key());
        insert.bind(2, file.value().first);
        insert.bind(3, file.value().second);
        code = insert.step();
    }
    if (code != ERROR_SUCCESS) {
        err << "vexor-host: " << db.problem() + snapshot.problem() << '\n';
        snapshot.close();
        QFile::remove(path);
        return 1;
    }
    out << "Snapshot " << name << ": " << files.size() << " file(s), " << path << '\n';
    return 0;
}

int HostSnapshot::diff(const QString& name, bool asReg, QTextStream& out, QTextStream& err)
{
    if (!validName(name, err))
        return 2;
    const QString problem = SimulatedHost::problem();
    if (!problem.isEmpty()) {
        err << "vexor-host: " << problem << '\n';
        return 1;
    }
    if (!QFileInfo::exists(snapshotPath(name))) {
        err << "vexor-host: there is no snapshot " << name
            << " (take one with: vexor-host snapshot " << name << ")\n";
        return 1;
    }
    HostDatabase now, then;
    State before, after;
    LONG code = now.open(SimulatedHost::databasePath());
    if (code == ERROR_SUCCESS)
        code = readRegistry(now, &after);
    if (code == ERROR_SUCCESS)
        code = then.open(snapshotPath(name));
    if (code == ERROR_SUCCESS)
        code = readRegistry(then, &before);
    HostDatabase::Statement files(then, "SELECT path, size, hash FROM snapshot_files");
    bool hasRow = false;
    while (code == ERROR_SUCCESS && (code = files.step(&hasRow)) == ERROR_SUCCESS && hasRow)
        before.files.insert(files.text(0), {files.integer(1), files.blob(2)});
    if (code != ERROR_SUCCESS) {
        err << "vexor-host: " << now.problem() << then.problem() << '\n';
        return 1;
    }
    after.files = readFiles();

    QStringList lines, removed, changed;
    QStringList keys = before.keys.keys() + after.keys.keys();
    keys.sort();
    keys.removeDuplicates();
    for (const QString& key : keys) {
        const bool was = before.keys.contains(key), is = after.keys.contains(key);
        const auto& old = before.keys.value(key).second;
        const auto& present = after.keys.value(key).second;
        QStringList names = old.keys() + present.keys();
        names.sort();
        names.removeDuplicates();
        QStringList valueLines, regLines;
        for (const QString& value : names) {
            const bool gone = !present.contains(value), added = !old.contains(value);
            const Value& a = old.value(value);
            const Value& b = present.value(value);
            if (!added && !gone && a.type == b.type && a.data == b.data)
                continue;
            if (!added)
                valueLines << line(QStringLiteral("-"), a);
            if (!gone)
                valueLines << line(QStringLiteral("+"), b);
            // A removed value: its name as a line writes it, "=-" for the data.
            regLines << (gone ? RegFileWriter::valueLine(a.name, REG_NONE, {}).chopped(7) +
                                    QStringLiteral("-")
                              : RegFileWriter::valueLine(b.name, b.type, b.data));
        }
        const QString shown = (is ? after : before).keys.value(key).first;
        if (was && !is) {
            lines << "-[" + shown + ']' << valueLines;
            const QString parent = key.section(QLatin1Char('\\'), 0, -2);
            if (before.keys.contains(parent) && after.keys.contains(parent))
                removed << "[-" + shown + ']';
        } else if (!valueLines.isEmpty() || !was) {
            lines << (was ? " [" : "+[") + shown + ']' << valueLines;
            changed << '[' + shown + ']' << regLines << QString();
        }
    }
    QStringList paths = before.files.keys() + after.files.keys();
    paths.sort();
    paths.removeDuplicates();
    for (const QString& path : paths) {
        const auto a = before.files.value(path, {-1, {}}), b = after.files.value(path, {-1, {}});
        if (a == b)
            continue;
        if (a.first >= 0)
            lines << QStringLiteral("- %1 %2 bytes").arg(path).arg(a.first);
        if (b.first >= 0)
            lines << QStringLiteral("+ %1 %2 bytes").arg(path).arg(b.first);
    }
    if (asReg) {
        out << RegFileWriter::header().trimmed() << "\n\n";
        for (const QString& key : removed)
            out << key << "\n\n";
        for (const QString& text : changed)
            out << QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")) << '\n';
    } else {
        for (const QString& text : lines)
            out << text << '\n';
        if (lines.isEmpty())
            out << "no changes\n";
    }
    return 0;
}
