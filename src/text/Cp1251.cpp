#include "Cp1251.h"

#include <QTextCodec>

QTextCodec* cp1251Codec()
{
    return QTextCodec::codecForName("Windows-1251");
}

QString fromCp1251(const char* bytes)
{
    // Start-up refuses to run without the codec; anywhere else a missing
    // codec gives no text rather than a crash.
    QTextCodec* codec = cp1251Codec();
    return codec ? codec->toUnicode(bytes) : QString();
}
