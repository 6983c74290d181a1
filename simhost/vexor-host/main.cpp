#include "HostCommand.h"
#include "SimulatedHost.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    // As Windows' own reg.exe, the host tool is a 64-bit program.
    SimulatedHost::setProcessBits(64);
    SimulatedHost::use();
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    const int code = HostCommand::run(application.arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return code;
}
