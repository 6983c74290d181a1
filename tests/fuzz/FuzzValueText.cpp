#include "RegValueText.h"

#include <cstdlib>

// "reg add /t TYPE /d TEXT /s SEPARATOR": the first byte picks the type and
// the separator, the rest is the text. Whatever the parser accepts shows as
// reg query shows it, and that, given to reg add again, stores the same
// bytes. Not so, as on Windows, for REG_NONE, which takes text and shows
// bytes, nor for a text with a zero in it, which shows only up to the zero.
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
    const QString shown = RegValueText::displayData(type, data, separator);
    if (type == REG_NONE || text.contains(QChar(0)))
        return 0;
    QByteArray again;
    if (!RegValueText::dataFromText(type, true, shown, separator, &again, &error) || again != data)
        std::abort();
    return 0;
}
