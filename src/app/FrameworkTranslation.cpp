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
    if (!translator->load(fileName, QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}
