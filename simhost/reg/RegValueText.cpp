#include "RegValueText.h"

namespace {

struct TypeName
{
    DWORD type;
    const char* name;
    bool acceptedByAdd;
};

const TypeName typeNames[] = {
    {REG_NONE, "REG_NONE", true},
    {REG_SZ, "REG_SZ", true},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", true},
    {REG_BINARY, "REG_BINARY", true},
    {REG_DWORD, "REG_DWORD", true},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN", false},
    {REG_LINK, "REG_LINK", false},
    {REG_MULTI_SZ, "REG_MULTI_SZ", true},
    {REG_RESOURCE_LIST, "REG_RESOURCE_LIST", false},
    {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR", false},
    {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST", false},
    {REG_QWORD, "REG_QWORD", true},
};

quint64 littleEndian(const QByteArray& data, int bytes)
{
    quint64 number = 0;
    for (int i = bytes - 1; i >= 0; --i)
        number = (number << 8) | uchar(data.at(i));
    return number;
}

QByteArray littleEndianBytes(quint64 number, int bytes)
{
    QByteArray data(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        data[i] = char((number >> (8 * i)) & 0xff);
    return data;
}

// Decimal, or hexadecimal after "0x", as reg.exe reads /d for numbers.
bool parseNumber(const QString& text, quint64 maximum, quint64* number)
{
    bool ok = false;
    quint64 parsed = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString digits = text.mid(2);
        if (digits.isEmpty() || digits.startsWith(QLatin1Char('+')) ||
            digits.startsWith(QLatin1Char('-')))
            return false;
        parsed = digits.toULongLong(&ok, 16);
    } else {
        for (const QChar c : text) {
            if (!c.isDigit() || c.unicode() > '9')
                return false;
        }
        parsed = text.toULongLong(&ok, 10);
    }
    if (!ok || parsed > maximum)
        return false;
    *number = parsed;
    return true;
}

} // namespace

QString RegValueText::typeName(DWORD type)
{
    for (const TypeName& entry : typeNames) {
        if (entry.type == type)
            return QLatin1String(entry.name);
    }
    return QStringLiteral("0x%1").arg(type, 0, 16);
}

bool RegValueText::typeFromName(const QString& name, DWORD* type)
{
    for (const TypeName& entry : typeNames) {
        if (entry.acceptedByAdd &&
            name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

QByteArray RegValueText::stringData(const QString& text)
{
    QByteArray data;
    data.reserve((text.size() + 1) * 2);
    for (const QChar c : text) {
        data.append(char(c.unicode() & 0xff));
        data.append(char(c.unicode() >> 8));
    }
    data.append(2, '\0');
    return data;
}

QString RegValueText::stringFromData(const QByteArray& data)
{
    QString text;
    for (int i = 0; i + 1 < data.size(); i += 2) {
        const ushort unit = ushort(uchar(data.at(i)) | (uchar(data.at(i + 1)) << 8));
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

QStringList RegValueText::multiStringFromData(const QByteArray& data)
{
    QStringList strings;
    QString current;
    for (int i = 0; i + 1 < data.size(); i += 2) {
        const ushort unit = ushort(uchar(data.at(i)) | (uchar(data.at(i + 1)) << 8));
        if (unit != 0) {
            current.append(QChar(unit));
            continue;
        }
        if (current.isEmpty())
            return strings;
        strings << current;
        current.clear();
    }
    // Data without its final terminator still shows the last string.
    if (!current.isEmpty())
        strings << current;
    return strings;
}

QString RegValueText::displayData(DWORD type, const QByteArray& data, const QString& separator)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return stringFromData(data);
    case REG_MULTI_SZ:
        return multiStringFromData(data).join(separator);
    case REG_DWORD:
        if (data.size() == 4)
            return QStringLiteral("0x%1").arg(littleEndian(data, 4), 0, 16);
        break;
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() == 4) {
            quint64 number = 0;
            for (int i = 0; i < 4; ++i)
                number = (number << 8) | uchar(data.at(i));
            return QStringLiteral("0x%1").arg(number, 0, 16);
        }
        break;
    case REG_QWORD:
        if (data.size() == 8)
            return QStringLiteral("0x%1").arg(littleEndian(data, 8), 0, 16);
        break;
    default:
        break;
    }
    return QString::fromLatin1(data.toHex().toUpper());
}

bool RegValueText::dataFromText(DWORD type, bool hasText, const QString& text,
                                const QString& separator, QByteArray* data, QString* error)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_NONE:
        *data = stringData(text);
        return true;
    case REG_MULTI_SZ: {
        if (text.isEmpty() || text == separator) {
            *data = QByteArray(2, '\0');
            return true;
        }
        QStringList strings = text.split(separator);
        // One separator at the very end closes the list rather than adding
        // an empty string.
        if (strings.size() > 1 && strings.last().isEmpty())
            strings.removeLast();
        QByteArray bytes;
        for (const QString& string : strings) {
            // An empty string inside would end the list early and lose the rest.
            if (string.isEmpty()) {
                *error = QStringLiteral("ERROR: Invalid syntax. An empty string cannot be part "
                                        "of a REG_MULTI_SZ value.");
                return false;
            }
            bytes += stringData(string);
        }
        bytes.append(2, '\0');
        *data = bytes;
        return true;
    }
    case REG_DWORD:
    case REG_QWORD: {
        const int size = type == REG_DWORD ? 4 : 8;
        quint64 number = 0;
        if (hasText && !parseNumber(text, size == 4 ? 0xffffffffULL : ~0ULL, &number)) {
            *error = QStringLiteral("ERROR: Invalid syntax. Specify valid numeric value for /d.");
            return false;
        }
        *data = littleEndianBytes(number, size);
        return true;
    }
    case REG_BINARY: {
        QString digits = text;
        // An odd count of digits reads as if led by a zero.
        if (digits.size() % 2)
            digits.prepend(QLatin1Char('0'));
        for (const QChar c : digits) {
            if (!(c.isDigit() && c.unicode() <= '9') &&
                !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))) {
                *error = QStringLiteral("ERROR: Invalid syntax. Specify valid hexadecimal data "
                                        "for /d.");
                return false;
            }
        }
        *data = QByteArray::fromHex(digits.toLatin1());
        return true;
    }
    default:
        *error = QStringLiteral("ERROR: Invalid syntax.");
        return false;
    }
}
