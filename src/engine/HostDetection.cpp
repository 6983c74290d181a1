#include <vector>

#include <QDir>
#include <QProcess>
#include <QRegExp>
#include <QStringList>

#include "HostCpuArchitecture.h"
#include "VexorKCryptoProInstaller.h"
#include "WinApi.h"

namespace {
constexpr char kInstallLocation[] = "InstallLocation";
} // namespace

QString VexorKCryptoProInstaller::queryProductInfo(const QString& productCode)
{
    const QString property = QString::fromLatin1(kInstallLocation);
    const auto product = reinterpret_cast<LPCWSTR>(productCode.utf16());
    const auto attribute = reinterpret_cast<LPCWSTR>(property.utf16());

    // First call: the value's length in code units, without its terminator.
    DWORD length = 0;
    if (MsiGetProductInfoW(product, attribute, nullptr, &length) != ERROR_SUCCESS)
        return QString();

    ++length;
    std::vector<WCHAR> buffer(length, 0);
    if (MsiGetProductInfoW(product, attribute, buffer.data(), &length) != ERROR_SUCCESS)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer.data()));
}

void VexorKCryptoProInstaller::detectHost()
{
    // productCode is set by the constructor before the form is built.
    const QChar separator = QDir::separator();
    cspFolder = queryProductInfo(productCode);
    // Windows Installer records the location with one trailing separator.
    if (cspFolder.endsWith(separator))
        cspFolder.chop(1);

    cspFolder64.clear();
    if (hostCpuArchitecture != QLatin1String("x86_64"))
        return;
    const QStringList environment = QProcess::systemEnvironment();
    const int entry =
        environment.indexOf(QRegExp(QStringLiteral("^ProgramW6432=.*"), Qt::CaseInsensitive));
    if (entry < 0)
        return;
    const QString programFiles64 = environment.at(entry).split(QLatin1Char('=')).at(1);
    cspFolder64 = programFiles64 + separator + QStringLiteral("Crypto Pro") + separator +
                  QStringLiteral("CSP");
}
