#include "FrameworkTranslation.h"
#include "ModeSelection.h"
#include "VexorKCryptoProInstaller.h"

#include <clocale>

#include <QApplication>
#include <QTextCodec>

namespace {
// Russian for the C runtime; nothing depends on the call succeeding.
void setRussianCRuntimeLocale()
{
#ifdef _WIN32
    std::setlocale(LC_ALL, "Rus");
#else
    // Debian knows Russian under several names; take the first it has.
    for (const char* name : {"ru_RU.UTF-8", "ru_RU.CP1251", "ru_RU"}) {
        if (std::setlocale(LC_ALL, name))
            break;
    }
#endif
}
} // namespace

int main(int argc, char* argv[])
{
    setRussianCRuntimeLocale();
    // The log file and every local 8-bit conversion use Windows-1251.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));

    QApplication application(argc, argv);
    const QString translationFileName = FrameworkTranslation::fileName();
    FrameworkTranslation::install(&application, translationFileName);

    // Declared last, so destroyed first: the log file closes before the
    // application object goes.
    VexorKCryptoProInstaller window;
    // An existing installation is offered for removal before anything else.
    if (const std::optional<int> exitCode = ModeSelection::run(window))
        return *exitCode;
    window.show();
    return application.exec();
}
