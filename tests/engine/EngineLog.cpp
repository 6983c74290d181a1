#include "EngineLog.h"

#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCodec>
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
    if (!pane || pane->document()->isEmpty())
        return lines;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
        bool isRed = false;
        for (auto it = block.begin(); !it.atEnd(); ++it)
            isRed |= it.fragment().charFormat().foreground().color() == QColor(Qt::red);
        lines << LogLine{block.text(), isRed};
    }
    return lines;
}

QStringList EngineLog::file()
{
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<install.log could not be read>")};
    const QString text = QTextCodec::codecForName("Windows-1251")->toUnicode(file.readAll());
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList EngineLog::texts(const LogLines& lines)
{
    QStringList result;
    for (const LogLine& line : lines)
        result << line.text;
    return result;
}
