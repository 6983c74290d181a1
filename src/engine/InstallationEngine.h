#pragma once

#include <functional>

#include <QString>

#include "HostFacts.h"
#include "ProcedureOutcome.h"

// Receives every line a procedure reports, in order; isError marks the
// lines that tell of a failure.
using LogSink = std::function<void(const QString& message, bool isError)>;

// The install and removal of the module on one host. Every step reports one
// line through the sink; a failed step is reported and the next one runs.
class InstallationEngine
{
public:
    InstallationEngine(HostFacts host, LogSink sink);

    // Copies the builds into the CSP folders and writes the registration and
    // the installed marker. Cancelled, with nothing done, without a CSP folder.
    ProcedureOutcome install();
    // Removes the module files, every key of the registration and the marker.
    ProcedureOutcome uninstall();

private:
    // The steps; each returns false when it logged an error line.
    // Copies every file of payloadRoot\payloadFolder into targetFolder,
    // never replacing a file already there.
    bool copyModuleFiles(const QString& payloadRoot, const QString& targetFolder,
                         const QString& payloadFolder);
    // Removes the key tree parentPath\keyName (64-bit view); with onlyIfEmpty,
    // only when no value is left anywhere in it.
    bool removeRegistryKey(const QString& parentPath, const QString& keyName, bool onlyIfEmpty);
    // Deletes from targetFolder every file that payloadFolder lists, or
    // schedules it for deletion at the next restart.
    bool removeModuleFiles(const QString& payloadFolder, const QString& targetFolder);

    void log(const QString& message, bool isError);
    // Logs the closing line and says how the procedure ended.
    ProcedureOutcome finish(bool failed, const QString& success, const QString& withErrors);
    // An install stopped before it began: closingLine in red, nothing done.
    ProcedureOutcome cancel(const QString& closingLine);

    HostFacts m_host;
    LogSink m_sink;
};
