#include "WarningCatcher.h"

QStringList WarningCatcher::s_warnings;
QtMessageHandler WarningCatcher::s_previous = nullptr;

WarningCatcher::WarningCatcher()
{
    s_warnings.clear();
    s_previous = qInstallMessageHandler(&WarningCatcher::handle);
}

WarningCatcher::~WarningCatcher()
{
    qInstallMessageHandler(s_previous);
    s_previous = nullptr;
}

QStringList WarningCatcher::warnings() const
{
    return s_warnings;
}

void WarningCatcher::clear()
{
    s_warnings.clear();
}

void WarningCatcher::handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg) {
        s_warnings.append(text);
        return;
    }
    if (s_previous)
        s_previous(type, context, text);
}
