#include "InstallerProduct.h"

#include <algorithm>
#include <cctype>

QString InstallerProduct::cryptoProCode()
{
    return QStringLiteral("{407E5BA7-6406-40BF-A4DC-3654B8F584C1}");
}

QString InstallerProduct::packed(const QString& productCode)
{
    // The first three groups are reversed whole, the last two byte by byte
    // (each pair of digits swapped).
    if (productCode.size() != 38 || productCode[0] != QLatin1Char('{') ||
        productCode[37] != QLatin1Char('}'))
        return QString();
    for (int i = 1; i < 37; ++i) {
        const QChar c = productCode[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != QLatin1Char('-') : !isxdigit(c.toLatin1()))
            return QString();
    }
    const QString digits = productCode.mid(1, 36).remove(QLatin1Char('-')).toUpper();
    QString packed;
    auto reversed = [&digits](int from, int count) {
        QString part = digits.mid(from, count);
        std::reverse(part.begin(), part.end());
        return part;
    };
    packed += reversed(0, 8) + reversed(8, 4) + reversed(12, 4);
    for (int i = 16; i < 32; i += 2)
        packed += digits.mid(i + 1, 1) + digits.mid(i, 1);
    return packed;
}

QString InstallerProduct::keyPath(const QString& packedCode)
{
    return QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
                          "S-1-5-18\\Products\\") +
           packedCode;
}

QString InstallerProduct::propertiesPath(const QString& packedCode)
{
    return keyPath(packedCode) + QStringLiteral("\\InstallProperties");
}
