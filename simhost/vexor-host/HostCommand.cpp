#include "HostCommand.h"
#include "HostSnapshot.h"

#include "HostArchitecture.h"
#include "RegCommand.h"
#include "SimulatedHost.h"
#include "SimulatedWinApi.h"

namespace {

// 0 on success, 1 for a failure of the host, 2 for a command line that makes
// no sense.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// The host must exist and answer before anything is reported from it; a
// missing host is not made behind the user's back.
bool hostIsUsable(QTextStream& err)
{
    const QString problem = SimulatedHost::problem();
    if (problem.isEmpty())
        return true;
    err << "vexor-host: " << problem << '\n';
    return false;
}

} // namespace

int HostCommand::run(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("reg"))
        return RegCommand::run(rest, out, err);
    if (command == QLatin1String("create"))
        return create(rest, out, err);
    if (command == QLatin1String("queue"))
        return queue(rest, out, err);
    if (command == QLatin1String("snapshot") || command == QLatin1String("diff")) {
        QStringList names = rest;
        const bool asReg = names.removeAll(QStringLiteral("--reg")) > 0;
        if (names.size() != 1 || (asReg && command == QLatin1String("snapshot"))) {
            err << "vexor-host: " << command << " takes a snapshot name"
                << (command == QLatin1String("diff") ? " and --reg" : "") << '\n';
            return exitUsage;
        }
        return command == QLatin1String("snapshot") ? HostSnapshot::take(names[0], out, err)
                                                    : HostSnapshot::diff(names[0], asReg, out, err);
    }
    if (!rest.isEmpty() &&
        (command == QLatin1String("info") || command == QLatin1String("pending") ||
         command == QLatin1String("restart"))) {
        err << "vexor-host: " << command << " takes no arguments\n";
        return exitUsage;
    }
    if (command == QLatin1String("info"))
        return info(out, err);
    if (command == QLatin1String("pending"))
        return pending(out, err);
    if (command == QLatin1String("restart"))
        return restart(out, err);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        usage(out);
        return exitSuccess;
    }
    if (command.isEmpty())
        err << "vexor-host: no command given\n";
    else
        err << "vexor-host: unknown command \"" << command << "\"\n";
    usage(err);
    return exitUsage;
}

void HostCommand::usage(QTextStream& stream)
{
    stream << "Usage: vexor-host <command>\n"
              "  create [--arch x86_64|arm64|i386] [--with-csp]\n"
              "                                              make the host in VEXOR_HOST_DIR\n"
              "  info                                        architecture, folders, environment\n"
              "  queue C:\\FILE [C:\\NEW_NAME] [--replace]     delete or rename FILE at restart\n"
              "  pending                                     file operations queued for restart\n"
              "  snapshot NAME                               record the registry and the files\n"
              "  diff NAME [--reg]                           what changed since; --reg as a .reg\n"
              "  restart                                     carry the queued operations out\n"
              "  reg query|add|delete|export|import ...      as Windows' reg.exe\n";
}

int HostCommand::create(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    SimulatedHost::CreateOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--with-csp")) {
            options.withCsp = true;
        } else if (argument == QLatin1String("--arch") && i + 1 < arguments.size()) {
            options.architecture = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--arch="))) {
            options.architecture = argument.mid(7);
        } else {
            err << "vexor-host create: unexpected argument \"" << argument << "\"\n";
            return exitUsage;
        }
        if (!HostArchitecture::isKnown(options.architecture)) {
            err << "vexor-host create: unknown architecture \"" << options.architecture
                << "\" (x86_64, arm64 or i386)\n";
            return exitUsage;
        }
    }
    const QString folder = SimulatedHost::folder();
    QString error;
    if (!SimulatedHost::create(folder, options, &error)) {
        err << "vexor-host create: " << error << '\n';
        return exitFailure;
    }
    out << "Host: " << folder << '\n';
    out << "Architecture: " << SimulatedHost::architecture() << '\n';
    if (options.withCsp) {
        out << "CSP folder: " << SimulatedHost::cspFolder() << '\n';
        if (!SimulatedHost::cspFolder64().isEmpty())
            out << "CSP folder (64-bit): " << SimulatedHost::cspFolder64() << '\n';
    }
    return exitSuccess;
}

int HostCommand::info(QTextStream& out, QTextStream& err)
{
    if (!hostIsUsable(err))
        return exitFailure;
    out << "Host: " << SimulatedHost::folder() << '\n';
    out << "Architecture: " << SimulatedHost::architecture() << '\n';
    out << "Database: " << SimulatedHost::databasePath() << '\n';
    const QString csp = SimulatedHost::cspFolder();
    out << "CSP folder: " << (csp.isEmpty() ? QStringLiteral("(none)") : csp) << '\n';
    if (HostArchitecture::hasWow64(SimulatedHost::architecture())) {
        const QString csp64 = SimulatedHost::cspFolder64();
        out << "CSP folder (64-bit): " << (csp64.isEmpty() ? QStringLiteral("(none)") : csp64)
            << '\n';
    }
    out << "Elevated: " << (SimulatedHost::isElevated() ? "yes" : "no") << '\n';
    out << "Environment:\n";
    const QMap<QString, QString> environment = SimulatedHost::environment();
    for (auto entry = environment.cbegin(); entry != environment.cend(); ++entry)
        out << "  " << entry.key() << '=' << entry.value() << '\n';
    return exitSuccess;
}

int HostCommand::pending(QTextStream& out, QTextStream& err)
{
    if (!hostIsUsable(err))
        return exitFailure;
    const QList<SimulatedHost::FileOperation> operations = SimulatedHost::pendingFileOperations();
    for (const SimulatedHost::FileOperation& operation : operations)
        out << describe(operation) << '\n';
    if (operations.isEmpty())
        out << "nothing queued\n";
    return exitSuccess;
}

// As a program queues with MoveFileExW: the file on the host's drive
// (C:\...) is deleted, or renamed, at the next restart.
int HostCommand::queue(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QStringList paths = arguments;
    const bool replace = paths.removeAll(QStringLiteral("--replace")) > 0;
    if (paths.isEmpty() || paths.size() > 2) {
        err << "vexor-host queue: name the file, and its new name for a rename\n";
        return exitUsage;
    }
    if (!hostIsUsable(err))
        return exitFailure;
    const QString target = paths.value(1);
    const DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(reinterpret_cast<LPCWSTR>(paths[0].utf16()),
                     target.isEmpty() ? nullptr : reinterpret_cast<LPCWSTR>(target.utf16()),
                     flags)) {
        const DWORD code = GetLastError();
        for (const QString& path : qAsConst(paths)) {
            if (code == ERROR_PATH_NOT_FOUND && SimulatedHost::windowsPath(path).isEmpty()) {
                err << "vexor-host queue: " << path
                    << " is not a file on the host's drive (C:\\...)\n";
                return exitFailure;
            }
        }
        err << "vexor-host queue: " << SimulatedHost::errorText(long(code)) << '\n';
        return exitFailure;
    }
    const SimulatedHost::FileOperation operation{SimulatedHost::windowsPath(paths[0]),
                                                 SimulatedHost::windowsPath(target),
                                                 replace && !target.isEmpty()};
    out << describe(operation) << '\n';
    return exitSuccess;
}

int HostCommand::restart(QTextStream& out, QTextStream& err)
{
    if (!hostIsUsable(err))
        return exitFailure;
    const int count = SimulatedHost::pendingFileOperations().size();
    QList<SimulatedHost::FileOperation> refused;
    QString error;
    if (!SimulatedHost::restart(&refused, &error)) {
        err << "vexor-host restart: " << error << '\n';
        return exitFailure;
    }
    for (const SimulatedHost::FileOperation& operation : qAsConst(refused))
        err << "vexor-host restart: refused, it leads out of the host's drive: "
            << describe(operation) << '\n';
    out << "Restarted; " << count - refused.size() << " pending file operation(s) carried out";
    if (!refused.isEmpty())
        out << ", " << refused.size() << " refused";
    out << ".\n";
    return refused.isEmpty() ? exitSuccess : exitFailure;
}

QString HostCommand::describe(const SimulatedHost::FileOperation& operation)
{
    if (operation.target.isEmpty())
        return QStringLiteral("delete ") + operation.source;
    return QStringLiteral("rename %1 -> %2%3")
        .arg(operation.source, operation.target,
             operation.replaces ? QStringLiteral(" (replacing the file there)") : QString());
}
