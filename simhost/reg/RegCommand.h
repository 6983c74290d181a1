#pragma once

#include "RegKeyPath.h"

#include <QStringList>
#include <QTextStream>

// The "reg" command of vexor-host: Windows' reg.exe command lines (query,
// add, delete, export, import) over the registry API, with its output,
// messages and exit codes (0 success, 1 failure).
class RegCommand
{
public:
    // arguments: everything after "reg". Questions are answered from stdin.
    static int run(const QStringList& arguments, QTextStream& out, QTextStream& err);
    // The same, answering the Yes/No questions from in (end of input is No).
    static int run(const QStringList& arguments, QTextStream& in, QTextStream& out,
                   QTextStream& err);

private:
    struct Options;

    RegCommand(QTextStream& in, QTextStream& out, QTextStream& err);

    int dispatch(const QStringList& arguments);
    int query(const QStringList& arguments);
    int add(const QStringList& arguments);
    int remove(const QStringList& arguments);
    int exportKey(const QStringList& arguments);
    int importFile(const QStringList& arguments);

    int queryValues(const RegKeyPath& path, bool recursive);
    int searchValue(const RegKeyPath& path, const QString& name, bool recursive);
    LONG printKeyBlock(const RegKeyPath& path, bool recursive, int* matches);
    LONG findValueBelow(const RegKeyPath& path, const QString& name, int* matches);
    LONG deleteKey(const RegKeyPath& path);
    LONG deleteTree(HKEY parent, const QString& name);
    QString valueLine(const QString& name, DWORD type, const QByteArray& data) const;

    // The leading arguments (the key first, when key is given), then the
    // options; /reg:32 and /reg:64 are always allowed and set the view.
    // -1 for a sound line, else the exit code of the error already reported.
    int parseCommandLine(const QString& operation, const QStringList& arguments, int leading,
                         const QStringList& withValue, QStringList flags, Options* options,
                         RegKeyPath* key);
    // true when forced or answered Yes; a No is reported as a cancellation.
    bool confirmed(bool force, const QString& question);
    bool confirm(const QString& question);
    int syntaxError(const QString& operation);
    int invalidKeyName(const QString& operation);
    int registryError(LONG code);
    int success();

    QTextStream& m_in;
    QTextStream& m_out;
    QTextStream& m_err;
    REGSAM m_view = 0;
    QString m_separator;
    bool m_verbose = false;
    QString m_typeFilter;
};
