#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

class VexorKCryptoProInstaller;

// What the engine reported: one entry per line, with its colour.
struct LogLine
{
    QString text;
    bool error = false;
    bool operator==(const LogLine& other) const
    {
        return text == other.text && error == other.error;
    }
};
using LogLines = QList<LogLine>;

inline LogLine normal(const char* utf8)
{
    return {QString::fromUtf8(utf8), false};
}
inline LogLine normal(const QString& text)
{
    return {text, false};
}
inline LogLine red(const char* utf8)
{
    return {QString::fromUtf8(utf8), true};
}
inline LogLine red(const QString& text)
{
    return {text, true};
}

char* toString(const LogLine& line);

class EngineLog
{
public:
    // The lines of the window's log pane; red ones are marked as errors.
    static LogLines pane(const VexorKCryptoProInstaller& window);
    // The lines of install.log in the program's folder, decoded from Windows-1251.
    static QStringList file();
    static QStringList texts(const LogLines& lines);
};

// Answers the next message box that becomes modal by pressing button (or,
// for NoButton, the Escape key), and keeps what it showed.
class ModalAnswer
{
public:
    explicit ModalAnswer(QMessageBox::StandardButton button);
    bool answered() const { return m_answered; }
    QString title() const { return m_title; }
    QString text() const { return m_text; }
    QMessageBox::Icon icon() const { return m_icon; }

private:
    void poll();

    QMessageBox::StandardButton m_button;
    bool m_answered = false;
    QString m_title;
    QString m_text;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    int m_polls = 0;
    // Owns the pending timers, so none fires after this object is gone.
    QObject m_context;
};
