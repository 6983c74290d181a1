#include "ModalAnswer.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

ModalAnswer::ModalAnswer(QMessageBox::StandardButton button) : m_button(button)
{
    QTimer::singleShot(0, &m_context, [this] { poll(0); });
}

void ModalAnswer::poll(int attempt)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
        if (attempt < 1000)
            QTimer::singleShot(10, &m_context, [this, attempt] { poll(attempt + 1); });
        return;
    }
    m_title = box->windowTitle();
    m_text = box->text();
    m_icon = box->icon();
    m_answered = true;
    if (m_button == QMessageBox::NoButton)
        QTest::keyClick(box, Qt::Key_Escape);
    else if (QAbstractButton* button = box->button(m_button))
        button->click();
}
