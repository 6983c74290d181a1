#include "VexorKCryptoProInstaller.h"

void VexorKCryptoProInstaller::logEngineLine(const QString& message, bool isError)
{
    if (isError)
        ++engineErrorLines;
    addLogLine(message, isError ? 1 : 0);
}
