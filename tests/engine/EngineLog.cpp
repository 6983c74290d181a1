#include "EngineLog.h"

#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCodec>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

#include "VexorKCryptoProInstaller.h"

char* toString(const LogLine& line)
{
    return QTest::toString((line.error ? QStringLiteral("[red] ") : QString()) + line.text);
}

LogLines EngineLog::pane(const VexorKCryptoProInstaller& window)
{
    LogLines lines;
    const auto* pane = window.findChild<QPlainTextEdit*>(QStringLiteral("logTextEdit"));
    if (!pane)
        return lines;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
        bool isRed = false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.hasProperty(QTextFormat::ForegroundBrush) &&
                format.foreground().color() == QColor(Qt::red))
                isRed = true;
        }
        if (block.text().isEmpty() && lines.isEmpty() && !block.next().isValid())
            break; // an empty pane still has one empty block
        lines << LogLine{block.text(), isRed};
    }
    return lines;
}

QStringList EngineLog::file()
{
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QTextCodec::codecForName("Windows-1251")->toUnicode(file.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

QStringList EngineLog::texts(const LogLines& lines)
{
    QStringList result;
    for (const LogLine& line : lines)
        result << line.text;
    return result;
}

ModalAnswer::ModalAnswer(QMessageBox::StandardButton button) : m_button(button)
{
    QTimer::singleShot(0, &m_context, [this] { poll(); });
}

void ModalAnswer::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
        if (++m_polls < 1000)
            QTimer::singleShot(10, &m_context, [this] { poll(); });
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
