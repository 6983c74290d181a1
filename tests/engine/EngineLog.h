#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

class VexorKCryptoProInstaller;

// One reported line and whether the pane shows it red.
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
Q_DECLARE_METATYPE(LogLines)

inline LogLine normal(const QString& text)
{
    return {text, false};
}
inline LogLine red(const QString& text)
{
    return {text, true};
}
char* toString(const LogLine& line);

// What the engine reported, in the pane and in install.log.
class EngineLog
{
public:
    static LogLines pane(const VexorKCryptoProInstaller& window);
    // install.log in the program's folder, decoded from Windows-1251.
    static QStringList file();
    static QStringList texts(const LogLines& lines);
};
