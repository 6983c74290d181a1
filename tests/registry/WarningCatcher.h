#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects every warning the message logger receives while it lives, so that
// tests can compare the exact texts; other messages pass through.
class WarningCatcher
{
public:
    WarningCatcher();
    ~WarningCatcher();

    WarningCatcher(const WarningCatcher&) = delete;
    WarningCatcher& operator=(const WarningCatcher&) = delete;

    QStringList warnings() const;
    void clear();

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text);

    static QStringList s_warnings;
    static QtMessageHandler s_previous;
};
