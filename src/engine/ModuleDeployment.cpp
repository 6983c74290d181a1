#include <QDir>
#include <QFile>

#include "Cp1251.h"
#include "VexorKCryptoProInstaller.h"

namespace {
constexpr auto kFileCopied = cp1251("Файл %1 успешно скопирован!");
constexpr auto kFileNotCopied = cp1251("Файл %1 не получилось скопировать! %2");
} // namespace

void VexorKCryptoProInstaller::copyModuleFiles(const QString& payloadRoot,
                                               const QString& targetFolder,
                                               const QString& payloadFolder)
{
    const QChar separator = QDir::separator();
    QDir payload(payloadRoot + separator + payloadFolder);
    payload.setFilter(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);

    for (const QString& name : payload.entryList()) {
        const QString target = targetFolder + separator + name;
        QFile source(payload.absoluteFilePath(name));
        // QFile::copy never replaces an existing file: a module already in
        // place is left as it is and reported.
        if (source.copy(QDir::fromNativeSeparators(target)))
            logEngineLine(fromCp1251(kFileCopied.c_str()).arg(name), false);
        else
            logEngineLine(fromCp1251(kFileNotCopied.c_str()).arg(name).arg(source.errorString()),
                          true);
    }
}
