#include <QDir>

#include "Cp1251.h"
#include "EngineMessages.h"
#include "HostCpuArchitecture.h"
#include "VexorKCryptoProInstaller.h"

namespace {
constexpr auto kUninstallStarted = cp1251("Начинаем удаление...");
constexpr auto kRemovingModule = cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро!");
constexpr auto kRemovingModule64 =
    cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита)!");
constexpr auto kModule64Removed =
    cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита) закончено!");
constexpr auto kCspFolderMissing = cp1251("Не найдена папка с Крипто Про!");
constexpr auto kModuleRemoved =
    cp1251("Удаление библиотеки Quellon Vexor K для КриптоПро закончено!");
constexpr auto kUnregistering = cp1251("Отмена регистрации библиотек PKCS Quellon Vexor K!");
constexpr auto kUnregistering64 =
    cp1251("Отмена регистрации библиотеки Quellon Vexor K для КриптоПро(64-бита)!");
constexpr auto kUninstalled = cp1251("Удаление прошло успешно.");
constexpr auto kUninstalledWithErrors = cp1251("Удаление завершено с ошибками!");

constexpr char kPayload32[] = ":/VEXOR_K_CryptoProInstaller/Resources/x86";
constexpr char kPayload64[] = ":/VEXOR_K_CryptoProInstaller/Resources/x64";

struct RemovalRow
{
    const char* parentPath;
    const char* keyName;
    bool onlyIfEmpty;
};

// Every call works in the 64-bit view; the Wow6432Node rows reach the 32-bit
// programs' part of the registry. The maker's key goes only once it is empty.
constexpr RemovalRow kNativeViewRows[] = {
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards", "VEXOR", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards", "VEXOR_ESMART",
     false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers", "VEXOR",
     false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\AppPath", "vexor.dll",
     false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellon", "Vexor K Crypto Pro", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE", "Quellon", true},
};

constexpr RemovalRow k32BitViewRows[] = {
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Crypto Pro\\Cryptography\\CurrentVersion\\"
     "KeyCarriers",
     "VEXOR", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Crypto Pro\\Cryptography\\CurrentVersion\\AppPath",
     "vexor.dll", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards",
     "VEXOR", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards",
     "VEXOR_ESMART", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Quellon", "Vexor K Crypto Pro", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node", "Quellon", true},
};
} // namespace

void VexorKCryptoProInstaller::uninstall()
{
    const int errorsBefore = engineErrorLines;
    const bool host64 = hostCpuArchitecture == QLatin1String("x86_64");

    logEngineLine(fromCp1251(kUninstallStarted.c_str()), false);
    logEngineLine(fromCp1251(kRemovingModule.c_str()), false);
    if (!cspFolder.isEmpty() && QDir(cspFolder).exists()) {
        removeModuleFiles(QString::fromLatin1(kPayload32), cspFolder);
        if (host64) {
            logEngineLine(fromCp1251(kRemovingModule64.c_str()), false);
            if (cspFolder64.isEmpty())
                logEngineLine(fromCp1251(kCspFolder64Missing.c_str()), true);
            else
                removeModuleFiles(QString::fromLatin1(kPayload64), cspFolder64);
            logEngineLine(fromCp1251(kModule64Removed.c_str()), false);
        }
    } else {
        logEngineLine(fromCp1251(kCspFolderMissing.c_str()), true);
    }
    logEngineLine(fromCp1251(kModuleRemoved.c_str()), false);

    logEngineLine(fromCp1251(kUnregistering.c_str()), false);
    for (const RemovalRow& row : kNativeViewRows)
        removeRegistryKey(QString::fromLatin1(row.parentPath), QString::fromLatin1(row.keyName),
                          row.onlyIfEmpty);
    if (host64) {
        logEngineLine(fromCp1251(kUnregistering64.c_str()), false);
        for (const RemovalRow& row : k32BitViewRows)
            removeRegistryKey(QString::fromLatin1(row.parentPath), QString::fromLatin1(row.keyName),
                              row.onlyIfEmpty);
    }

    if (engineErrorLines != errorsBefore)
        logEngineLine(fromCp1251(kUninstalledWithErrors.c_str()), true);
    else
        logEngineLine(fromCp1251(kUninstalled.c_str()), false);
}
