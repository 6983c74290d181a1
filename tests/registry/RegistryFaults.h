#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include "WinApi.h"

// Sits between the code under test and the registry (the test links with
// the linker's symbol wrapping): records which calls are made with which
// rights, tracks the handles they open, and makes chosen calls fail.
class RegistryFaults
{
public:
    struct Call
    {
        QString function;
        QString subject; // subkey, value name, index or call number, by function
        REGSAM rights = 0;
    };

    // Forgets calls, handles and faults; recording starts switched off.
    static void reset();
    static void setRecording(bool on);

    // The next call of `function` whose subject equals `subject` answers `code`
    // without reaching the registry. Subjects: RegOpenKeyExW, RegCreateKeyExW,
    // RegDeleteKeyW: the subkey; RegSetValueExW, RegDeleteValueW: the value
    // name; RegEnumValueW, RegEnumKeyExW: the index; RegQueryInfoKeyW,
    // RegQueryValueExW: "call N", counting that function's calls from 1.
    static void failOnce(const QString& function, const QString& subject, LONG code);

    static QVector<Call> calls();
    static int openHandles();
    static int badCloses();

    // Used by the wrappers.
    static bool shouldFail(const QString& function, const QString& subject, LONG* code);
    static QString nextCallNumber(const QString& function);
    static void record(const QString& function, const QString& subject, REGSAM rights);
    static void opened(HKEY handle);
    static void closing(HKEY handle);

private:
    struct Fault
    {
        QString function;
        QString subject;
        LONG code;
    };

    static bool s_recording;
    static QVector<Call> s_calls;
    static QVector<Fault> s_faults;
    static QSet<HKEY> s_handles;
    static int s_badCloses;
    static QHash<QString, int> s_callNumbers;
};
