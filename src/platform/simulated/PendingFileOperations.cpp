#include "PendingFileOperations.h"

namespace {

const QString objectPrefix = QStringLiteral("\\??\\");

QString withoutPrefix(QString path)
{
    const bool replaces = path.startsWith(QLatin1Char('!'));
    if (replaces)
        path.remove(0, 1);
    if (path.startsWith(objectPrefix))
        path.remove(0, objectPrefix.size());
    return replaces ? QLatin1Char('!') + path : path;
}

} // namespace

PendingFileOperations PendingFileOperations::fromData(const QByteArray& data)
{
    PendingFileOperations result;
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
    for (int i = 0; i + 1 < strings.size(); i += 2)
        result.pairs.append({strings[i], strings[i + 1]});
    if (strings.size() % 2 == 1 && !strings.last().isEmpty())
        result.pairs.append({strings.last(), QString()});
    return result;
}

QByteArray PendingFileOperations::toData() const
{
    QByteArray data;
    auto add = [&data](const QString& text) {
        data.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        data.append(2, '\0');
    };
    for (const auto& pair : pairs) {
        add(pair.first);
        add(pair.second);
    }
    data.append(2, '\0');
    return data;
}

void PendingFileOperations::append(const QString& source, const QString& target)
{
    QString storedTarget;
    if (!target.isEmpty()) {
        const bool replaces = target.startsWith(QLatin1Char('!'));
        storedTarget = (replaces ? QStringLiteral("!") : QString()) + objectPrefix +
                       target.mid(replaces ? 1 : 0);
    }
    pairs.append({objectPrefix + source, storedTarget});
}

QList<QPair<QString, QString>> PendingFileOperations::operations() const
{
    QList<QPair<QString, QString>> result;
    for (const auto& pair : pairs)
        result.append({withoutPrefix(pair.first), withoutPrefix(pair.second)});
    return result;
}
