#pragma once

#include <QString>

class QCoreApplication;
class QTranslator;

// The framework's own catalogue for the system language, which turns the
// buttons of its dialogs (Yes, No, ...) into that language.
class FrameworkTranslation
{
public:
    // "qt_" followed by the system locale's name, e.g. "qt_ru_RU".
    static QString fileName();

    // Loads fileName from the framework's translations folder, or else the
    // Russian catalogue in the resources, into a translator owned by
    // application and installs it. When neither loads, nothing is installed
    // and nullptr comes back.
    static QTranslator* install(QCoreApplication* application, const QString& fileName);
};
