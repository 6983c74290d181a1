#include "RegFileWriter.h"

#include "RegValueText.h"

namespace {

const QString lineBreak = QStringLiteral("\r\n");

QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    // A line break in a value name would split its line: the reader takes
    // "\n" back to one.
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// A REG_SZ keeps its quoted form only when it reads back to the same bytes:
// its characters, one terminating zero, nothing after it, and no line break
// that would split the line.
bool isPlainString(const QByteArray& data)
{
    if (data.size() < 2 || data.size() % 2)
        return false;
    const QString text = RegValueText::stringFromData(data);
    if ((text.size() + 1) * 2 != data.size())
        return false;
    return !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'));
}

} // namespace

QString RegFileWriter::header()
{
    return QStringLiteral("Windows Registry Editor Version 5.00") + lineBreak;
}

QString RegFileWriter::valueLine(const QString& name, DWORD type, const QByteArray& data)
{
    QString line = name.isEmpty() ? QStringLiteral("@") : quoted(name);
    line += QLatin1Char('=');
    if (type == REG_SZ && isPlainString(data))
        return line + quoted(RegValueText::stringFromData(data));
    if (type == REG_DWORD && data.size() == 4) {
        const quint32 number = quint32(uchar(data[0])) | (quint32(uchar(data[1])) << 8) |
                               (quint32(uchar(data[2])) << 16) | (quint32(uchar(data[3])) << 24);
        return line + QStringLiteral("dword:%1").arg(number, 8, 16, QLatin1Char('0'));
    }
    line +=
        type == REG_BINARY ? QStringLiteral("hex:") : QStringLiteral("hex(%1):").arg(type, 0, 16);
    int column = line.size();
    for (int i = 0; i < data.size(); ++i) {
        const QString byte = QStringLiteral("%1").arg(uchar(data[i]), 2, 16, QLatin1Char('0'));
        line += byte;
        column += 2;
        if (i + 1 < data.size()) {
            line += QLatin1Char(',');
            ++column;
            // regedit breaks once a line passes 76 columns, leaving room for
            // the backslash within 80.
            if (column > 76) {
                line += QLatin1Char('\\') + lineBreak + QStringLiteral("  ");
                column = 2;
            }
        }
    }
    return line;
}

LONG RegFileWriter::appendTree(const RegKeyPath& path, REGSAM view, QString* text)
{
    RegKey::Contents contents;
    LONG result = RegKey::readContents(path, view, &contents);
    if (result != ERROR_SUCCESS)
        return result;
    *text += lineBreak + QLatin1Char('[') + path.fullName() + QLatin1Char(']') + lineBreak;
    for (const RegKey::Value& value : contents.values)
        *text += valueLine(value.name, value.type, value.data) + lineBreak;
    for (const QString& child : contents.subKeyNames) {
        result = appendTree(path.child(child), view, text);
        // A subkey deleted by another process meanwhile is simply not exported.
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            return result;
    }
    return ERROR_SUCCESS;
}

QByteArray RegFileWriter::encode(const QString& text)
{
    QByteArray bytes("\xff\xfe", 2);
    bytes.reserve(2 + text.size() * 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}
