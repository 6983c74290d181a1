#include "PendingFileOperations.h"

#include "HostDatabase.h"
#include "RegistryName.h"
#include "RegistryStore.h"

#include <QStringList>

namespace {

const QString objectPrefix = QStringLiteral("\\??\\");
const QString keyPath = QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Session Manager");

QByteArray valueName()
{
    return RegistryName::stored(QStringLiteral("PendingFileRenameOperations"));
}

QString withoutPrefix(const QString& path)
{
    return path.startsWith(objectPrefix) ? path.mid(objectPrefix.size()) : path;
}

} // namespace

LONG PendingFileOperations::read(RegistryStore& store, PendingFileOperations* pending)
{
    *pending = PendingFileOperations();
    RegistryStore::KeyRow key;
    LONG code = store.keyAt(HostDatabase::localMachineId, keyPath, false, &key);
    if (code == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS)
        return code;
    RegistryStore::Value value;
    code = store.queryValue(key.id, valueName(), &value);
    if (code == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (code == ERROR_SUCCESS)
        *pending = fromData(value.data);
    return code;
}

LONG PendingFileOperations::write(RegistryStore& store) const
{
    RegistryStore::KeyRow key;
    if (LONG code = store.keyAt(HostDatabase::localMachineId, keyPath, true, &key);
        code != ERROR_SUCCESS)
        return code;
    return store.setValue(key.id, valueName(), REG_MULTI_SZ, toData());
}

LONG PendingFileOperations::clear(RegistryStore& store)
{
    RegistryStore::KeyRow key;
    LONG code = store.keyAt(HostDatabase::localMachineId, keyPath, false, &key);
    if (code == ERROR_SUCCESS)
        code = store.deleteValue(key.id, valueName());
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
}

PendingFileOperations PendingFileOperations::fromData(const QByteArray& data)
{
    const auto* units = reinterpret_cast<const char16_t*>(data.constData());
    int count = data.size() / 2;
    // The list's own final terminator; every string keeps its own.
    if (count > 0 && units[count - 1] == 0)
        --count;
    QStringList strings;
    int start = 0;
    for (int i = 0; i < count; ++i) {
        if (units[i] == 0) {
            strings.append(QString::fromUtf16(units + start, i - start));
            start = i + 1;
        }
    }
    if (start < count)
        strings.append(QString::fromUtf16(units + start, count - start));
    if (strings.size() % 2 == 1 && !strings.last().isEmpty())
        strings.append(QString());
    PendingFileOperations result;
    for (int i = 0; i + 1 < strings.size(); i += 2) {
        Operation operation;
        operation.source = withoutPrefix(strings[i]);
        operation.replaces = strings[i + 1].startsWith(QLatin1Char('!'));
        operation.target = withoutPrefix(strings[i + 1].mid(operation.replaces ? 1 : 0));
        result.m_operations.append(operation);
    }
    return result;
}

QByteArray PendingFileOperations::toData() const
{
    QByteArray data;
    auto add = [&data](const QString& text) {
        data.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        data.append(2, '\0');
    };
    for (const Operation& operation : m_operations) {
        add(objectPrefix + operation.source);
        add(operation.target.isEmpty() ? QString()
                                       : (operation.replaces ? QStringLiteral("!") : QString()) +
                                             objectPrefix + operation.target);
    }
    data.append(2, '\0');
    return data;
}
