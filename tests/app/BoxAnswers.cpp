// Preloaded into the installer by the process tests. It stands in for the
// framework's static message boxes: each box is described on standard error
// as "box|title|text|button texts" and answered with VEXOR_ANSWER ("yes";
// anything else is No). With VEXOR_NO_CP1251 set, the "Windows-1251" codec is
// missing.
#include <dlfcn.h>

#include <cstdio>

#include <QMessageBox>
#include <QPushButton>
#include <QTextCodec>

namespace {
void describe(QMessageBox::Icon icon, const QString& title, const QString& text,
              QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, text, buttons);
    QStringList line{QStringLiteral("box"), title, text};
    for (QAbstractButton* button : box.buttons())
        line << button->text();
    std::fprintf(stderr, "%s\n", line.join(QLatin1Char('|')).toUtf8().constData());
    std::fflush(stderr);
}
} // namespace

QMessageBox::StandardButton QMessageBox::question(QWidget*, const QString& title,
                                                  const QString& text, StandardButtons buttons,
                                                  StandardButton)
{
    describe(Question, title, text, buttons);
    return qgetenv("VEXOR_ANSWER") == "yes" ? Yes : No;
}

QMessageBox::StandardButton QMessageBox::critical(QWidget*, const QString& title,
                                                  const QString& text, StandardButtons buttons,
                                                  StandardButton)
{
    describe(Critical, title, text, buttons);
    return Ok;
}

QTextCodec* QTextCodec::codecForName(const QByteArray& name)
{
    using Real = QTextCodec* (*)(const QByteArray&);
    static const auto real =
        reinterpret_cast<Real>(dlsym(RTLD_NEXT, "_ZN10QTextCodec12codecForNameERK10QByteArray"));
    if (qEnvironmentVariableIsSet("VEXOR_NO_CP1251") && name == "Windows-1251")
        return nullptr;
    return real(name);
}
