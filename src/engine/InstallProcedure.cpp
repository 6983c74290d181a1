#include <QDir>
#include <QMessageBox>
#include <QPushButton>

#include "Cp1251.h"
#include "EngineMessages.h"
#include "HostCpuArchitecture.h"
#include "RegistrationLayout.h"
#include "VexorKCryptoProInstaller.h"
#include "WinRegistrySettings.h"
#include "ui_VexorKCryptoProInstaller.h"

namespace {
constexpr auto kInstallStarted = cp1251("Начинаем установку...");
constexpr auto kCopying = cp1251("Копирование библиотеки Quellon Vexor K для КриптоПро!");
constexpr auto kCspFolderMissing = cp1251("Не найдена папка с Крипто Про! Отмена установки!");
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

constexpr char kPayloadRoot[] = ":/VEXOR_K_CryptoProInstaller/Resources";
constexpr char kPayload32[] = "x86";
constexpr char kPayload64[] = "x64";
} // namespace

void VexorKCryptoProInstaller::installButtonClicked()
{
    const int errorsBefore = engineErrorLines;
    const QString payloadRoot = QString::fromLatin1(kPayloadRoot);

    logEngineLine(fromCp1251(kInstallStarted.c_str()), false);
    WinRegistrySettings registration(RegistrationLayout::registrationRoot(),
                                     WinRegistrySettings::Registry64Format);
    logEngineLine(fromCp1251(kCopying.c_str()), false);

    if (cspFolder.isEmpty() || !QDir(cspFolder).exists()) {
        logEngineLine(fromCp1251(kCspFolderMissing.c_str()), true);
        QMessageBox::critical(nullptr, fromCp1251(kInstallerBoxTitle.c_str()),
                              fromCp1251(kCspFolderMissing.c_str()));
        return;
    }

    copyModuleFiles(payloadRoot, cspFolder, QString::fromLatin1(kPayload32));
    RegistrationLayout::writeGroup(registration, RegistrationLayout::Group::SmartCards, cspFolder,
                                   cspFolder64);

    if (hostCpuArchitecture == QLatin1String("i386")) {
        logEngineLine(fromCp1251(kRegistering.c_str()), false);
        RegistrationLayout::writeGroup(registration, RegistrationLayout::Group::Route32, cspFolder,
                                       cspFolder64);
    } else {
        logEngineLine(fromCp1251(kCopying64.c_str()), false);
        const int errorsBeforeCopy = engineErrorLines;
        // Without a 64-bit folder there is nowhere to copy to; a path built
        // from the empty text would land beside the program instead.
        if (cspFolder64.isEmpty())
            logEngineLine(fromCp1251(kCspFolder64Missing.c_str()), true);
        else
            copyModuleFiles(payloadRoot, cspFolder64, QString::fromLatin1(kPayload64));
        if (engineErrorLines != errorsBeforeCopy)
            logEngineLine(fromCp1251(kCopy64Failed.c_str()), true);
        else
            logEngineLine(fromCp1251(kStepDone.c_str()), false);

        logEngineLine(fromCp1251(kRegistering.c_str()), false);
        RegistrationLayout::writeGroup(registration, RegistrationLayout::Group::Route64, cspFolder,
                                       cspFolder64);
    }
    if (registration.status() == WinRegistrySettings::AccessError)
        logEngineLine(fromCp1251(kRegistrationFailed.c_str()), true);
    else
        logEngineLine(fromCp1251(kStepDone.c_str()), false);

    WinRegistrySettings marker(
        WinRegistrySettings::Registry32Format, WinRegistrySettings::SystemScope,
        RegistrationLayout::markerOrganization(), RegistrationLayout::markerApplication());
    RegistrationLayout::writeMarker(marker);
    if (marker.status() == WinRegistrySettings::AccessError)
        logEngineLine(fromCp1251(kMarkerFailed.c_str()), true);

    if (engineErrorLines != errorsBefore)
        logEngineLine(fromCp1251(kInstalledWithErrors.c_str()), true);
    else
        logEngineLine(fromCp1251(kInstalled.c_str()), false);
    ui->installButton->setEnabled(false);
}
