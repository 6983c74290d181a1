#include "RegFileReader.h"

#include "RegValueText.h"

#include <QStringList>
#include <QTextCodec>

namespace {
constexpr int maxKeyDepth = 512;
}

QString RegFileReader::decode(const QByteArray& file)
{
    if (file.startsWith("\xff\xfe")) {
        QString text;
        text.reserve(file.size() / 2);
        for (int i = 2; i + 1 < file.size(); i += 2)
            text.append(QChar(ushort(uchar(file[i]) | (uchar(file[i + 1]) << 8))));
        return text;
    }
    if (file.startsWith("\xef\xbb\xbf"))
        return QString::fromUtf8(file.mid(3));
    return QString::fromUtf8(file);
}

bool RegFileReader::parseQuoted(const QString& line, int* position, QString* text)
{
    int i = *position;
    if (i >= line.size() || line[i] != QLatin1Char('"'))
        return false;
    QString result;
    for (++i; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            *position = i + 1;
            *text = result;
            return true;
        }
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            const QChar next = line[++i];
            if (next == QLatin1Char('n'))
                result.append(QLatin1Char('\n'));
            else if (next == QLatin1Char('r'))
                result.append(QLatin1Char('\r'));
            else if (next == QLatin1Char('0'))
                result.append(QChar(0));
            else
                result.append(next);
            continue;
        }
        result.append(c);
    }
    return false;
}

bool RegFileReader::parseHexData(const QString& text, QByteArray* data)
{
    QByteArray bytes;
    const QString compact = QString(text).remove(QLatin1Char(' ')).remove(QLatin1Char('\t'));
    if (compact.isEmpty()) {
        *data = bytes;
        return true;
    }
    for (const QString& part : compact.split(QLatin1Char(','))) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || part.size() != 2 || byte > 0xff)
            return false;
        bytes.append(char(byte));
    }
    *data = bytes;
    return true;
}

bool RegFileReader::parseValueLine(const QString& line, bool unicodeFile, Change* change,
                                   QString* error)
{
    int position = 0;
    QString name;
    if (line.startsWith(QLatin1Char('@'))) {
        position = 1;
    } else if (!parseQuoted(line, &position, &name)) {
        *error = QStringLiteral("a value name must be \"quoted\" or @");
        return false;
    } else if (name.contains(QChar(0))) {
        // The registry would take the name only up to the NUL.
        *error = QStringLiteral("a value name cannot hold a NUL character");
        return false;
    }
    while (position < line.size() && line[position].isSpace())
        ++position;
    if (position >= line.size() || line[position] != QLatin1Char('=')) {
        *error = QStringLiteral("'=' expected after the value name");
        return false;
    }
    QString data = line.mid(position + 1).trimmed();
    change->valueName = name;
    if (data == QLatin1String("-")) {
        change->kind = Change::DeleteValue;
        return true;
    }
    change->kind = Change::SetValue;
    if (data.startsWith(QLatin1Char('"'))) {
        int quotedEnd = 0;
        QString text;
        if (!parseQuoted(data, &quotedEnd, &text) || !data.mid(quotedEnd).trimmed().isEmpty()) {
            *error = QStringLiteral("the string is not closed by a quote");
            return false;
        }
        if (text.contains(QChar(0))) {
            *error = QStringLiteral("a string cannot hold a NUL character (write it as hex(1))");
            return false;
        }
        change->type = REG_SZ;
        change->data = RegValueText::stringData(text);
        return true;
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6);
        bool ok = false;
        const quint64 number = digits.toULongLong(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8 || number > 0xffffffffULL ||
            digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+'))) {
            *error = QStringLiteral("dword: needs one to eight hexadecimal digits");
            return false;
        }
        change->type = REG_DWORD;
        change->data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            change->data[i] = char((number >> (8 * i)) & 0xff);
        return true;
    }
    if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
        int colon = data.indexOf(QLatin1Char(':'));
        if (colon < 0) {
            *error = QStringLiteral("hex data needs a ':'");
            return false;
        }
        const QString kind = data.mid(3, colon - 3);
        DWORD type = REG_BINARY;
        if (!kind.isEmpty()) {
            bool ok = false;
            type = kind.startsWith(QLatin1Char('(')) && kind.endsWith(QLatin1Char(')'))
                       ? kind.mid(1, kind.size() - 2).toUInt(&ok, 16)
                       : 0;
            if (!ok) {
                *error = QStringLiteral("unknown data type %1").arg(data.left(colon));
                return false;
            }
        }
        QByteArray bytes;
        if (!parseHexData(data.mid(colon + 1), &bytes)) {
            *error = QStringLiteral("hex data must be two-digit bytes separated by commas");
            return false;
        }
        // REGEDIT4 files keep string types in the 8-bit code page.
        if (!unicodeFile && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
            QByteArray wide;
            const QString text = QString::fromLocal8Bit(bytes.constData(), bytes.size());
            for (const QChar c : text) {
                wide.append(char(c.unicode() & 0xff));
                wide.append(char(c.unicode() >> 8));
            }
            bytes = wide;
        }
        change->type = type;
        change->data = bytes;
        return true;
    }
    *error = QStringLiteral("unknown value data");
    return false;
}

bool RegFileReader::parse(const QByteArray& file, QList<Change>* changes, QString* error)
{
    const QString text = decode(file);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (file.startsWith("\xff\xfe") && file.size() % 2) {
        *error =
            QStringLiteral("line %1: the file ends in half a UTF-16 character").arg(lines.size());
        return false;
    }
    int index = 0;
    while (index < lines.size() && lines[index].trimmed().isEmpty())
        ++index;
    bool unicodeFile = true;
    const QString signature = index < lines.size() ? lines[index].trimmed() : QString();
    if (signature == QLatin1String("REGEDIT4")) {
        unicodeFile = false;
    } else if (signature != QLatin1String("Windows Registry Editor Version 5.00")) {
        *error = QStringLiteral("line %1: not a registry file (it must begin with "
                                "\"Windows Registry Editor Version 5.00\" or \"REGEDIT4\")")
                     .arg(qMin(index, lines.size() - 1) + 1);
        return false;
    }

    QList<Change> result;
    bool haveKey = false;
    bool keyDeleted = false;
    RegKeyPath currentKey;
    for (++index; index < lines.size(); ++index) {
        const int lineNumber = index + 1;
        QString line = lines[index].trimmed();
        // Long hex data continues on the next lines after a backslash.
        while (line.endsWith(QLatin1Char('\\')) && !line.startsWith(QLatin1Char('[')) &&
               index + 1 < lines.size()) {
            line.chop(1);
            line += lines[++index].trimmed();
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.contains(QChar(0))) {
            *error = QStringLiteral("line %1: a NUL character").arg(lineNumber);
            return false;
        }
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                *error = QStringLiteral("line %1: a key line must end with ']'").arg(lineNumber);
                return false;
            }
            QString name = line.mid(1, line.size() - 2);
            const bool remove = name.startsWith(QLatin1Char('-'));
            if (remove)
                name.remove(0, 1);
            Change change;
            if (!change.key.parse(name) || (remove && change.key.subKey().isEmpty())) {
                *error =
                    QStringLiteral("line %1: invalid key name \"%2\"").arg(lineNumber).arg(name);
                return false;
            }
            // Windows keeps keys at most 512 levels deep.
            if (change.key.subKey().count(QLatin1Char('\\')) >= maxKeyDepth) {
                *error = QStringLiteral("line %1: a key deeper than %2 levels")
                             .arg(lineNumber)
                             .arg(maxKeyDepth);
                return false;
            }
            change.kind = remove ? Change::DeleteKey : Change::CreateKey;
            result << change;
            currentKey = change.key;
            haveKey = true;
            keyDeleted = remove;
            continue;
        }
        if (!haveKey || keyDeleted) {
            *error = QStringLiteral("line %1: a value outside a key section").arg(lineNumber);
            return false;
        }
        Change change;
        change.key = currentKey;
        QString reason;
        if (!parseValueLine(line, unicodeFile, &change, &reason)) {
            *error = QStringLiteral("line %1: %2").arg(lineNumber).arg(reason);
            return false;
        }
        result << change;
    }
    *changes = result;
    return true;
}
