// Starts like the installer (encodings, translator, window) and then does one
// thing named by its first argument:
//   log-then-exit <line>...  logs the lines and returns 0
//   log-then-wait <line>...  logs the lines, prints "logged" and runs the
//                            event loop until it is killed
//   buttons                  prints the texts of a question box's Yes and No
//                            buttons, one per line
#include "FrameworkTranslation.h"
#include "VexorKCryptoProInstaller.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTextCodec>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
    QApplication application(argc, argv);
    FrameworkTranslation::install(&application, FrameworkTranslation::fileName());

    // The local 8-bit codec is Windows-1251 now, so the framework would
    // misread UTF-8 arguments; decode them directly.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromUtf8(argv[i]);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    QTextStream out(stdout);
    out.setCodec("UTF-8");

    if (command == QLatin1String("buttons")) {
        QMessageBox box(QMessageBox::Question, QString(), QString(),
                        QMessageBox::Yes | QMessageBox::No);
        out << box.button(QMessageBox::Yes)->text() << '\n'
            << box.button(QMessageBox::No)->text() << '\n';
        return 0;
    }

    VexorKCryptoProInstaller window;
    for (const QString& line : arguments)
        window.addLogLine(line, 0);
    if (command == QLatin1String("log-then-exit"))
        return 0;
    if (command == QLatin1String("log-then-wait")) {
        out << "logged\n";
        out.flush();
        return application.exec();
    }
    return 2;
}
