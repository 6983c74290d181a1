#include "ScenarioTable.h"

#include <QMap>
#include <QRegularExpression>
#include <QtTest>

void ScenarioTable::addRows(const QString& table)
{
    QTest::addColumn<QStringList>("steps");
    QMap<QString, QStringList> blocks;
    QString title;
    QStringList steps;
    const auto close = [&] {
        if (title.startsWith(QLatin1String("== ")))
            QTest::newRow(qPrintable(title.mid(3))) << steps;
        else if (!title.isEmpty())
            blocks[title.mid(3)] = steps;
        steps.clear();
    };
    for (const QString& row : table.split(QLatin1Char('\n'))) {
        const QString line = row.trimmed();
        const QStringList w = words(line);
        if (line.startsWith(QLatin1String("== ")) || line.startsWith(QLatin1String("-- "))) {
            close();
            title = line;
        } else if (w.value(0) == QLatin1String("use") && blocks.contains(w.value(1))) {
            for (const QString& item : w.size() > 2 ? w.mid(2) : QStringList(QStringLiteral("%")))
                steps << QStringList(blocks[w[1]]).replaceInStrings(QStringLiteral("%"), item);
        } else if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            steps << line;
        }
    }
    close();
}

QStringList ScenarioTable::words(const QString& line)
{
    static const QRegularExpression word(QStringLiteral("\"((?:[^\"]|\"\")*)\"|(\\S+)"));
    QStringList result;
    for (auto match = word.globalMatch(line); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        result << (next.capturedStart(1) >= 0
                       ? next.captured(1).replace(QLatin1String("\"\""), QLatin1String("\""))
                       : next.captured(2));
    }
    return result;
}
