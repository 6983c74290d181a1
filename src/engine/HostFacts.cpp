#include "HostFacts.h"

#include <vector>

#include <QDir>
#include <QProcess>
#include <QRegExp>
#include <QStringList>

#include "Platform.h"
#include "WinApi.h"

HostFacts HostFacts::detect(const QString& architecture)
{
    HostFacts facts;
    facts.architecture = architecture;
    facts.problem = Platform::hostProblem();
    facts.cspFolder = queryProductInfo(productCode());
    // Windows Installer records the location with one trailing separator.
    if (facts.cspFolder.endsWith(QDir::separator()))
        facts.cspFolder.chop(1);

    if (!facts.is64Bit())
        return facts;
    const QStringList environment = QProcess::systemEnvironment();
    const int entry =
        environment.indexOf(QRegExp(QStringLiteral("^ProgramW6432=.*"), Qt::CaseInsensitive));
    if (entry < 0)
        return facts;
    // The folder leaves the program in the system's own form.
    const QString programFiles64 = environment.at(entry).split(QLatin1Char('=')).at(1);
    facts.cspFolder64 =
        programFiles64 + QDir::toNativeSeparators(QStringLiteral("/Crypto Pro/CSP"));
    return facts;
}

QString HostFacts::productCode()
{
    return QStringLiteral("{407E5BA7-6406-40BF-A4DC-3654B8F584C1}");
}

QString HostFacts::queryProductInfo(const QString& productCode)
{
    const QString property = QStringLiteral("InstallLocation");
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
