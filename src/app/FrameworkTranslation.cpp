#include "FrameworkTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QString FrameworkTranslation::fileName()
{
    return QStringLiteral("qt_") + QLocale::system().name();
}

QTranslator* FrameworkTranslation::install(QCoreApplication* application, const QString& fileName)
{
    auto* translator = new QTranslator(application);
    // The program speaks Russian, so without a catalogue for the system
    // locale the framework's buttons take the Russian one it carries; that
    // one is read only when the system has none.
    if (!translator->load(fileName, QLibraryInfo::location(QLibraryInfo::TranslationsPath)) &&
        !translator->load(QStringLiteral(":/VEXOR_K_CryptoProInstaller/qtbase_ru"))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}
