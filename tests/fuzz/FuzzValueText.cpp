#include "RegValueText.h"

#include <cstdlib>

// "reg add /t TYPE /d TEXT /s SEPARATOR": the first byte picks the type and
// the separator, the rest is the text. Whatever the parser accepts must show
// as reg query shows it and, for text types, read back as the same text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0)
        return 0;
    static const DWORD types[] = {REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,
                                  REG_QWORD, REG_BINARY,    REG_NONE,     REG_DWORD_BIG_ENDIAN};
    const DWORD type = types[bytes[0] % 8];
    const QString separator = bytes[0] & 0x80 ? QStringLiteral("#") : QStringLiteral("\\0");
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(bytes + 1), int(size - 1));
    QByteArray data;
    QString error;
    if (!RegValueText::dataFromText(type, true, text, separator, &data, &error))
        return 0;
    RegValueText::displayData(type, data, separator);
    const bool plain = !text.contains(QChar(0));
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && plain &&
        RegValueText::stringFromData(data) != text)
        std::abort();
    return 0;
}
