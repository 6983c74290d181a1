#include "RegistryName.h"

#include <QChar>

QByteArray RegistryName::stored(const WCHAR* name, int length)
{
    return QByteArray(reinterpret_cast<const char*>(name), length * int(sizeof(WCHAR)));
}

QByteArray RegistryName::stored(const QString& name)
{
    return stored(reinterpret_cast<const WCHAR*>(name.utf16()), name.size());
}

QByteArray RegistryName::folded(const WCHAR* name, int length)
{
    QByteArray result(length * 2, Qt::Uninitialized);
    for (int i = 0; i < length; ++i) {
        char16_t unit = name[i];
        if (!QChar::isSurrogate(unit))
            unit = QChar::toUpper(unit);
        result[2 * i] = char(unit >> 8);
        result[2 * i + 1] = char(unit & 0xff);
    }
    return result;
}

QByteArray RegistryName::folded(const QString& name)
{
    return folded(reinterpret_cast<const WCHAR*>(name.utf16()), name.size());
}

QString RegistryName::text(const QByteArray& stored)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(stored.constData()),
                              stored.size() / int(sizeof(WCHAR)));
}

int RegistryName::length(const WCHAR* name)
{
    int count = 0;
    if (name) {
        while (name[count])
            ++count;
    }
    return count;
}

LONG RegistryName::splitPath(const WCHAR* path, std::vector<QByteArray>* elements)
{
    elements->clear();
    if (!path)
        return ERROR_SUCCESS;
    if (path[0] == u'\\')
        return ERROR_BAD_PATHNAME;
    int start = 0;
    for (int i = 0;; ++i) {
        if (path[i] == u'\\' || path[i] == 0) {
            const int length = i - start;
            if (length > maxKeyNameLength)
                return ERROR_INVALID_PARAMETER;
            if (length > 0)
                elements->push_back(stored(path + start, length));
            start = i + 1;
            if (path[i] == 0)
                break;
        }
    }
    return ERROR_SUCCESS;
}
