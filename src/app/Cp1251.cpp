#include "Cp1251.h"

#include <QTextCodec>

QString fromCp1251(const char* bytes)
{
    return QTextCodec::codecForName("Windows-1251")->toUnicode(bytes);
}
