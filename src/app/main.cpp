#include "Cp1251.h"
#include "FrameworkTranslation.h"
#include "InstallerTexts.h"
#include "ModeSelection.h"
#include "Platform.h"
#include "VexorKCryptoProInstaller.h"

#include <clocale>
#include <cstdio>

#include <QApplication>
#include <QMessageBox>
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

// Every message of the program is kept in Windows-1251; a framework built
// without that codec could show none of them, so say so plainly and stop.
int refuseWithoutCp1251(int argc, char* argv[])
{
    const char message[] = "The installer cannot start: this build of Qt has no "
                           "\"Windows-1251\" text codec.";
    std::fprintf(stderr, "%s\n", message);
    QApplication application(argc, argv);
    QMessageBox::critical(nullptr, QStringLiteral("Quellon Vexor K"), QLatin1String(message));
    return 1;
}
} // namespace

int main(int argc, char* argv[])
{
    // Before anything asks the machine about itself: the window gathers the
    // host facts as it is made.
    Platform::initializeProcess();
    setRussianCRuntimeLocale();
    QTextCodec* cp1251 = cp1251Codec();
    if (!cp1251)
        return refuseWithoutCp1251(argc, argv);
    // The log file and every local 8-bit conversion use Windows-1251.
    QTextCodec::setCodecForLocale(cp1251);

    QApplication application(argc, argv);
    const QString translationFileName = FrameworkTranslation::fileName();
    FrameworkTranslation::install(&application, translationFileName);

    // Two installers at once would copy over each other and garble one log;
    // the second says so and leaves the log, the registry and the files alone.
    if (!Platform::claimSingleInstance()) {
        QMessageBox::warning(nullptr, fromCp1251(kInstallModeTitle.c_str()),
                             fromCp1251(kAlreadyRunning.c_str()));
        return 1;
    }

    // Declared last, so destroyed first: the log file closes before the
    // application object goes.
    VexorKCryptoProInstaller window;
    // An existing installation is offered for removal before anything else.
    if (const std::optional<int> exitCode = ModeSelection::run(window))
        return *exitCode;
    window.show();
    return application.exec();
}
