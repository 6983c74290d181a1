#include "RegCommand.h"

int RegCommand::run(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    Q_UNUSED(arguments);
    Q_UNUSED(out);
    err << "reg: not available yet\n";
    return 1;
}
