#pragma once

#include <QMessageBox>
#include <QObject>

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
    void poll(int attempt);

    QMessageBox::StandardButton m_button;
    bool m_answered = false;
    QString m_title;
    QString m_text;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    // Owns the pending timers, so none fires after this object is gone.
    QObject m_context;
};
