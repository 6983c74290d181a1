// Prints where the installer's form puts its install button (its centre, in
// window coordinates) and the window's size, laid out on the platform the
// caller names: "X Y WIDTH HEIGHT".
#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTextStream>

#include "ui_VexorKCryptoProInstaller.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    Ui::VEXOR_K_CryptoProInstallerClass form;
    form.setupUi(&window);
    window.show();
    QApplication::processEvents();
    const QPoint centre = form.installButton->mapTo(&window, form.installButton->rect().center());
    QTextStream(stdout) << centre.x() << ' ' << centre.y() << ' ' << window.width() << ' '
                        << window.height() << '\n';
    return 0;
}
