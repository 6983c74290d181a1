// A floor for the installer's start-up: the framework showing an empty
// window, or (with VEXOR_WITH_FORM) the installer's own form and nothing else.
#include <QApplication>
#include <QMainWindow>

#ifdef VEXOR_WITH_FORM
#include "ui_VexorKCryptoProInstaller.h"
#endif

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
#ifdef VEXOR_WITH_FORM
    Ui::VEXOR_K_CryptoProInstallerClass form;
    form.setupUi(&window);
#endif
    window.show();
    return application.exec();
}
