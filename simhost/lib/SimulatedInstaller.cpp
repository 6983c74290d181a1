// MsiGetProductInfoW of the simulated host: per-machine product data read
// from where Windows Installer keeps it in the registry.

#include "HostSession.h"
#include "InstallerProduct.h"
#include "SimulatedWinApi.h"

#include <QSet>

#include <cstring>

namespace {

// Properties kept in a product's InstallProperties key, under the value
// name given; the rest of Windows Installer's product properties are known
// names whose values this host does not record.
QString installPropertiesValue(const QString& property)
{
    if (property == QLatin1String("InstalledProductName"))
        return QStringLiteral("DisplayName");
    if (property == QLatin1String("VersionString"))
        return QStringLiteral("DisplayVersion");
    static const QSet<QString> direct = {
        QStringLiteral("InstallLocation"), QStringLiteral("Publisher"),
        QStringLiteral("HelpLink"),        QStringLiteral("HelpTelephone"),
        QStringLiteral("InstallDate"),     QStringLiteral("InstallSource"),
        QStringLiteral("LocalPackage"),    QStringLiteral("URLInfoAbout"),
        QStringLiteral("URLUpdateInfo"),   QStringLiteral("VersionMinor"),
        QStringLiteral("VersionMajor"),    QStringLiteral("ProductID"),
        QStringLiteral("RegCompany"),      QStringLiteral("RegOwner"),
        QStringLiteral("Version"),         QStringLiteral("Language"),
        QStringLiteral("ProductName"),     QStringLiteral("PackageCode"),
        QStringLiteral("Transforms"),      QStringLiteral("AssignmentType"),
        QStringLiteral("PackageName"),     QStringLiteral("ProductIcon"),
        QStringLiteral("InstanceType"),    QStringLiteral("AuthorizedLUAApp"),
    };
    return direct.contains(property) ? property : QString();
}

QString readText(HKEY key, const QString& name, bool* found)
{
    DWORD type = 0;
    DWORD size = 0;
    const auto* valueName = reinterpret_cast<LPCWSTR>(name.utf16());
    *found = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (!*found)
        return QString();
    QByteArray data(int(size), '\0');
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                         &size) != ERROR_SUCCESS) {
        *found = false;
        return QString();
    }
    if (type == REG_DWORD && size >= 4) {
        quint32 number = 0;
        std::memcpy(&number, data.constData(), 4);
        return QString::number(number);
    }
    QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()), int(size / 2));
    const int end = text.indexOf(QChar(0));
    return end < 0 ? text : text.left(end);
}

} // namespace

extern "C" UINT MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf,
                                   LPDWORD pcchValueBuf)
{
    if (!szProduct || !szAttribute || (lpValueBuf && !pcchValueBuf))
        return ERROR_INVALID_PARAMETER;
    const QString product = QString::fromUtf16(szProduct);
    const QString packed = InstallerProduct::packed(product);
    if (packed.isEmpty())
        return ERROR_INVALID_PARAMETER;
    // The property name is judged before the product is looked up.
    const QString valueName = installPropertiesValue(QString::fromUtf16(szAttribute));
    if (valueName.isEmpty())
        return ERROR_UNKNOWN_PROPERTY;

    // Windows Installer keeps its data in the native view.
    const QString productKey = InstallerProduct::keyPath(packed);
    HKEY key = nullptr;
    LONG code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(productKey.utf16()), 0,
                              KEY_READ | KEY_WOW64_64KEY, &key);
    if (code == ERROR_FILE_NOT_FOUND)
        return ERROR_UNKNOWN_PRODUCT;
    if (code != ERROR_SUCCESS)
        return ERROR_BAD_CONFIGURATION;
    RegCloseKey(key);

    QString value;
    const QString propertiesKey = InstallerProduct::propertiesPath(packed);
    code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(propertiesKey.utf16()), 0,
                         KEY_READ | KEY_WOW64_64KEY, &key);
    if (code == ERROR_SUCCESS) {
        bool found = false;
        value = readText(key, valueName, &found);
        RegCloseKey(key);
        // The folder Crypto Pro was installed to is a folder on the host's
        // drive, wherever the host folder is now; one that leads elsewhere
        // is a broken record, and no program is sent there.
        if (valueName == QLatin1String("InstallLocation") && !value.isEmpty()) {
            HostSession& session = HostSession::instance();
            std::lock_guard<std::recursive_mutex> guard(session.mutex());
            const HostDrive drive = session.drive();
            const QString folder = drive.hostPath(value);
            if (folder.isEmpty() || !drive.staysOnDrive(folder))
                return ERROR_BAD_CONFIGURATION;
            // The separators that end the record stay, for the program to trim
            // itself: as recorded, or as this machine's "/" in a Windows path.
            int end = value.size();
            while (end > 0 &&
                   (value[end - 1] == QLatin1Char('/') || value[end - 1] == QLatin1Char('\\')))
                --end;
            QString ending = value.mid(end);
            if (!value.startsWith(QLatin1Char('/')))
                ending.replace(QLatin1Char('\\'), QLatin1Char('/'));
            value = folder + ending;
        }
    } else if (code != ERROR_FILE_NOT_FOUND) {
        return ERROR_BAD_CONFIGURATION;
    }

    const DWORD length = DWORD(value.size());
    if (!lpValueBuf) {
        if (pcchValueBuf)
            *pcchValueBuf = length;
        return ERROR_SUCCESS;
    }
    if (*pcchValueBuf <= length) {
        // Nothing is written: a truncated path could pass for a real one.
        *pcchValueBuf = length;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueBuf, value.utf16(), length * sizeof(WCHAR));
    lpValueBuf[length] = 0;
    *pcchValueBuf = length;
    return ERROR_SUCCESS;
}
