#include "InstallationEngine.h"

#include <utility>

#include <QDir>
#include <QFile>

#include "Cp1251.h"
#include "RegistrationLayout.h"
#include "RegistryRoot.h"
#include "WinApi.h"
#include "WinRegistrySettings.h"

namespace {
constexpr auto kInstallStarted = cp1251("Начинаем установку...");
constexpr auto kCopying = cp1251("Копирование библиотеки Quellon Vexor K для КриптоПро!");
constexpr auto kInstallCancelled = cp1251("Отмена установки!");
constexpr auto kCspFolderMissingCancel = cp1251("Не найдена папка с Крипто Про! Отмена установки!");
constexpr auto kRegistering = cp1251("Регистрация библиотеки Quellon Vexor K для КриптоПро!");
constexpr auto kCopying64 =
    cp1251("Копирование библиотеки Quellon Vexor K для КриптоПро(64-бита)!");
constexpr auto kCopy64Failed =
    cp1251("Не удалось скопировать библиотеку Quellon Vexor K для КриптоПро(64-бита)!");
constexpr auto kStepDone = cp1251("Успешно!");
constexpr auto kRegistrationFailed =
    cp1251("Не удалось зарегистрировать библиотеку Quellon Vexor K для КриптоПро!");
constexpr auto kMarkerFailed =
    cp1251("Не удалось записать признак установки Quellon Vexor K для КриптоПро!");
constexpr auto kInstalled = cp1251("Библиотеки Quellon Vexor K для КриптоПро успешно установлены!");
constexpr auto kInstalledWithErrors =
    cp1251("Установка Quellon Vexor K для КриптоПро завершена с ошибками!");

constexpr auto kUninstallStarted = cp1251("Начинаем удаление...");
constexpr auto kRemovingModule = cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро!");
constexpr auto kRemovingModule64 =
    cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита)!");
constexpr auto kModule64Removed =
    cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита) закончено!");
constexpr auto kCspFolderMissing = cp1251("Не найдена папка с Крипто Про!");
constexpr auto kCspFolder64Missing = cp1251("Не найдена папка с Крипто Про(64-бита)!");
constexpr auto kModuleRemoved =
    cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро закончено!");
constexpr auto kUnregistering = cp1251("Отмена регистрации библиотек PKCS Quellon Vexor K!");
constexpr auto kUnregistering64 =
    cp1251("Отмена регистрации библиотеки Quellon Vexor K для КриптоПро(64-бита)!");
constexpr auto kUninstalled = cp1251("Удаление прошло успешно.");
constexpr auto kUninstalledWithErrors = cp1251("Удаление завершено с ошибками!");

constexpr auto kFileCopied = cp1251("Файл %1 успешно скопирован!");
constexpr auto kFileNotCopied = cp1251("Файл %1 не получилось скопировать! %2");
constexpr auto kKeyRemoved = cp1251("Ключ %1 успешно удален!");
constexpr auto kKeyNotRemoved = cp1251("Ключ %1 не получилось удалить!");
constexpr auto kFileRemoved = cp1251("Файл %1 успешно удален!");
constexpr auto kFileAlreadyRemoved = cp1251("Файл %1 уже удален!");
constexpr auto kFileScheduled = cp1251("Файл %1 успешно поставлен на удаление после перезагрузки!");
constexpr auto kFileNotRemoved = cp1251("Файл %1 не получилось удалить! %2");

constexpr char kPayloadRoot[] = ":/VEXOR_K_CryptoProInstaller/Resources";
constexpr char kPayload32[] = "x86";
constexpr char kPayload64[] = "x64";

template <std::size_t N> QString text(const Cp1251Text<N>& message)
{
    return fromCp1251(message.c_str());
}

QString payloadFolder(const char* name)
{
    return QLatin1String(kPayloadRoot) + QLatin1Char('/') + QLatin1String(name);
}

QStringList payloadFiles(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks |
                                  QDir::NoDotAndDotDot);
}

// Opens a key read-only in the 64-bit view, without ever creating it, and
// answers with the result code: ERROR_FILE_NOT_FOUND means the key is not there.
LONG probeKey(const QString& path)
{
    QString subkey;
    const HKEY root = RegistryRoot::split(path, Qt::CaseSensitive, &subkey);
    if (!root)
        return ERROR_INVALID_PARAMETER;
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(root, reinterpret_cast<LPCWSTR>(subkey.utf16()), 0,
                                      KEY_READ | KEY_WOW64_64KEY, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}
} // namespace

InstallationEngine::InstallationEngine(HostFacts host, LogSink sink)
    : m_host(std::move(host)), m_sink(std::move(sink))
{
}

void InstallationEngine::log(const QString& message, bool isError)
{
    if (m_sink)
        m_sink(message, isError);
}

ProcedureOutcome InstallationEngine::finish(bool failed, const QString& success,
                                            const QString& withErrors)
{
    ProcedureOutcome outcome;
    outcome.failed = failed;
    outcome.closingLine = failed ? withErrors : success;
    log(outcome.closingLine, failed);
    return outcome;
}

ProcedureOutcome InstallationEngine::cancel(const QString& closingLine)
{
    ProcedureOutcome outcome = finish(true, QString(), closingLine);
    outcome.cancelled = true;
    return outcome;
}

ProcedureOutcome InstallationEngine::install()
{
    const QString payloadRoot = QLatin1String(kPayloadRoot);
    log(text(kInstallStarted), false);
    WinRegistrySettings registration(RegistrationLayout::registrationRoot(),
                                     WinRegistrySettings::Registry64Format);
    log(text(kCopying), false);

    // A registry that cannot be read hides the CSP's folder too: name the
    // real cause rather than a missing Crypto Pro.
    if (!m_host.problem.isEmpty()) {
        log(m_host.problem, true);
        return cancel(text(kInstallCancelled));
    }
    if (m_host.cspFolder.isEmpty() || !QDir(m_host.cspFolder).exists())
        return cancel(text(kCspFolderMissingCancel));

    bool failed = !copyModuleFiles(payloadRoot, m_host.cspFolder, QLatin1String(kPayload32));
    RegistrationLayout::writeGroup(registration, RegistrationLayout::Group::SmartCards, m_host);

    if (!m_host.is64Bit()) {
        log(text(kRegistering), false);
        RegistrationLayout::writeGroup(registration, RegistrationLayout::Group::Route32, m_host);
    } else {
        log(text(kCopying64), false);
        // Without a 64-bit folder there is nowhere to copy to; a path built
        // from the empty text would land beside the program instead.
        bool copied64 = false;
        if (m_host.cspFolder64.isEmpty())
            log(text(kCspFolder64Missing), true);
        else
            copied64 = copyModuleFiles(payloadRoot, m_host.cspFolder64, QLatin1String(kPayload64));
        if (copied64)
            log(text(kStepDone), false);
        else
            log(text(kCopy64Failed), true);
        failed |= !copied64;

        log(text(kRegistering), false);
        RegistrationLayout::writeGroup(registration, RegistrationLayout::Group::Route64, m_host);
    }
    if (registration.status() == WinRegistrySettings::AccessError) {
        log(text(kRegistrationFailed), true);
        failed = true;
    } else {
        log(text(kStepDone), false);
    }

    WinRegistrySettings marker(
        WinRegistrySettings::Registry32Format, WinRegistrySettings::SystemScope,
        RegistrationLayout::markerOrganization(), RegistrationLayout::markerApplication());
    RegistrationLayout::writeMarker(marker);
    if (marker.status() == WinRegistrySettings::AccessError) {
        log(text(kMarkerFailed), true);
        failed = true;
    }
    return finish(failed, text(kInstalled), text(kInstalledWithErrors));
}

ProcedureOutcome InstallationEngine::uninstall()
{
    bool failed = false;
    log(text(kUninstallStarted), false);
    log(text(kRemovingModule), false);
    if (!m_host.cspFolder.isEmpty() && QDir(m_host.cspFolder).exists()) {
        failed |= !removeModuleFiles(payloadFolder(kPayload32), m_host.cspFolder);
        if (m_host.is64Bit()) {
            log(text(kRemovingModule64), false);
            if (m_host.cspFolder64.isEmpty()) {
                log(text(kCspFolder64Missing), true);
                failed = true;
            } else {
                failed |= !removeModuleFiles(payloadFolder(kPayload64), m_host.cspFolder64);
            }
            log(text(kModule64Removed), false);
        }
    } else {
        log(text(kCspFolderMissing), true);
        failed = true;
    }
    log(text(kModuleRemoved), false);

    using View = RegistrationLayout::View;
    log(text(kUnregistering), false);
    for (const auto& row : RegistrationLayout::removalRows(View::Native))
        failed |= !removeRegistryKey(row.parentPath, row.keyName, row.onlyIfEmpty);
    if (m_host.is64Bit()) {
        log(text(kUnregistering64), false);
        for (const auto& row : RegistrationLayout::removalRows(View::Wow64))
            failed |= !removeRegistryKey(row.parentPath, row.keyName, row.onlyIfEmpty);
    }
    return finish(failed, text(kUninstalled), text(kUninstalledWithErrors));
}

bool InstallationEngine::copyModuleFiles(const QString& payloadRoot, const QString& targetFolder,
                                         const QString& payloadFolder)
{
    const QDir payload(payloadRoot + QLatin1Char('/') + payloadFolder);
    bool allCopied = true;
    for (const QString& name : payloadFiles(payload.path())) {
        const QString target = QDir::fromNativeSeparators(targetFolder) + QLatin1Char('/') + name;
        QFile source(payload.absoluteFilePath(name));
        // QFile::copy never replaces an existing file: a module already in
        // place is left as it is and reported.
        if (source.copy(target)) {
            log(text(kFileCopied).arg(name), false);
        } else {
            log(text(kFileNotCopied).arg(name).arg(source.errorString()), true);
            allCopied = false;
        }
    }
    return allCopied;
}

bool InstallationEngine::removeRegistryKey(const QString& parentPath, const QString& keyName,
                                           bool onlyIfEmpty)
{
    const QString keyPath = parentPath + QLatin1Char('\\') + keyName;
    // A settings object creates its base key when it is missing; removal must
    // create nothing, so a key that is not there is simply already gone.
    if (probeKey(parentPath) == ERROR_FILE_NOT_FOUND ||
        (onlyIfEmpty && probeKey(keyPath) == ERROR_FILE_NOT_FOUND)) {
        log(text(kKeyRemoved).arg(keyName), false);
        return true;
    }
    if (onlyIfEmpty) {
        WinRegistrySettings probe(keyPath, WinRegistrySettings::Registry64Format);
        // A key that still holds another product's values stays, silently.
        if (!probe.allKeys().isEmpty())
            return true;
    }

    WinRegistrySettings parent(parentPath, WinRegistrySettings::Registry64Format);
    parent.remove(keyName);
    // The store cannot tell whether a tree under a key it could write was
    // really deleted, so look: only a key that is not found is gone.
    if (parent.status() != WinRegistrySettings::NoError ||
        probeKey(keyPath) != ERROR_FILE_NOT_FOUND) {
        log(text(kKeyNotRemoved).arg(keyName), true);
        return false;
    }
    log(text(kKeyRemoved).arg(keyName), false);
    return true;
}

bool InstallationEngine::removeModuleFiles(const QString& payloadFolder,
                                           const QString& targetFolder)
{
    bool allRemoved = true;
    for (const QString& name : payloadFiles(payloadFolder)) {
        const QString path = QDir::toNativeSeparators(targetFolder + QLatin1Char('/') + name);
        QFile file(path);
        // Handing a missing file to delete-at-restart would delete the module
        // that the next installation puts there.
        if (!file.exists()) {
            log(text(kFileAlreadyRemoved).arg(path), false);
            continue;
        }
        // The deployed module is read-only; make it writable so it can go.
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (file.remove()) {
            log(text(kFileRemoved).arg(path), false);
        } else if (MoveFileExW(reinterpret_cast<LPCWSTR>(path.utf16()), nullptr,
                               MOVEFILE_DELAY_UNTIL_REBOOT)) {
            log(text(kFileScheduled).arg(path), false);
        } else {
            log(text(kFileNotRemoved).arg(path).arg(file.errorString()), true);
            allRemoved = false;
        }
    }
    return allRemoved;
}
