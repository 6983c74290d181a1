#pragma once

#include "SimulatedHost.h"

#include <QStringList>
#include <QTextStream>

// The vexor-host command line: create, info, queue, pending and restart on the
// host named by VEXOR_HOST_DIR, and "reg" handed to RegCommand.
class HostCommand
{
public:
    // arguments: everything after the program name. Returns the exit code.
    static int run(const QStringList& arguments, QTextStream& out, QTextStream& err);

private:
    static int create(const QStringList& arguments, QTextStream& out, QTextStream& err);
    static int info(QTextStream& out, QTextStream& err);
    static int queue(const QStringList& arguments, QTextStream& out, QTextStream& err);
    static int pending(QTextStream& out, QTextStream& err);
    static int restart(QTextStream& out, QTextStream& err);
    static void usage(QTextStream& stream);
    // One line for a queued operation, as queue and pending print it.
    static QString describe(const SimulatedHost::FileOperation& operation);
};
