#include "ScenarioTable.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Walks a table of vexor-host command lines (COMMAND_TABLE), as ScenarioTable
// reads it. Each scenario runs on a fresh empty host folder {host} and working
// folder {files}; its steps, one a line with the lines that follow it:
//   $ command line       vexor-host with these arguments (NAME=value first: an
//                        environment variable); "..." groups, "" inside is a quote
//   < text               a line of its input; the end of the input answers No
//   > text               its whole output, line by line (none: it prints nothing);
//                        blanks at the ends of lines do not count
//   ! text               the first lines of its error output (none: it prints none)
//   [n]                  its exit code, when not 0
//   + command line       set-up: exits 0, prints anything
//   ~ command line       a reg command line through Wine's reg.exe and through
//                        vexor-host ({side} is wine or host, {other} the other):
//                        both exit with the code of [n] and show the same key
//                        and value lines
//   write FILE CODING    the "| text" lines into FILE: utf-16 (with its byte-order
//   file FILE CODING     mark; utf-16-cut without its last byte), utf-8, each
//                        with CRLF, or utf-8-lf; file: FILE
//                        holds exactly those bytes
//   same FILE FILE       both exist and hold the same bytes
//   dir PATH, missing PATH   PATH is a folder, is not there
//   chmod MODE PATH      the permissions change
//   copy PATH PATH       cp -a
//   link TARGET NAME     NAME becomes a symbolic link to TARGET
// A command line starting with "unprivileged" runs without root's override
// of file permissions.
struct Step
{
    QString kind, text;
    int code = 0;
    QStringList input{}, out{}, err{}, lines{};
};

class TestCommandLines : public QObject
{
    Q_OBJECT

    struct Run
    {
        int code = -1;
        QString out, err;
    };

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_host, m_files;
    const QString m_tool = qEnvironmentVariable("VEXOR_HOST_TOOL");
    QProcessEnvironment m_hostEnvironment;
    QTemporaryDir m_winePrefix;
    QProcessEnvironment m_wine;
    QString m_wineProblem;

    QString expand(QString text) const
    {
        return text.replace("{host}", m_host).replace("{files}", m_files);
    }

    QString path(const QString& name) const { return QDir(m_files).filePath(name); }

    static QByteArray encoded(const QStringList& lines, const QString& coding)
    {
        const QString end = coding == "utf-8-lf" ? "\n" : "\r\n";
        const QString text = lines.isEmpty() ? QString() : lines.join(end) + end;
        if (!coding.startsWith("utf-16"))
            return text.toUtf8();
        // utf-16-cut: the last byte is missing.
        return "\xff\xfe" + QByteArray(reinterpret_cast<const char*>(text.utf16()),
                                       text.size() * 2 - (coding == "utf-16-cut"));
    }

    static QByteArray read(const QString& name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The bytes shown as text, with the ones outside printable ASCII as \xNN.
    static QString shown(const QByteArray& bytes)
    {
        QString text;
        for (const char c : bytes)
            text += c >= 32 && c < 127 ? QString(QChar(c)) : QString::asprintf("\\x%02x", uchar(c));
        return text;
    }

    static QString differs(const QString& what, const QString& expected, const QString& actual)
    {
        return expected == actual
                   ? QString()
                   : QString("%1 should be:\n%2\nbut is:\n%3\n").arg(what, expected, actual);
    }

    // Blanks at line ends are not compared: the table cannot keep them.
    static QString joined(const QStringList& lines, bool closed)
    {
        return lines.join('\n').remove(QRegularExpression("[ \\t]+(?=\\n|$)")) +
               (closed && !lines.isEmpty() ? "\n" : "");
    }

    Run execute(QString program, QStringList arguments, QProcessEnvironment environment,
                const QStringList& input = {})
    {
        // Without the override of file permissions root has, as a user would run it.
        if (arguments.value(0) == "unprivileged") {
            arguments[0] = program;
            arguments = QStringList{"--bounding-set", "-dac_override,-dac_read_search"} + arguments;
            program = "setpriv";
        }
        while (!arguments.isEmpty() &&
               QRegularExpression("^[A-Z_]+=").match(arguments[0]).hasMatch()) {
            const QString assignment = arguments.takeFirst();
            environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        }
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_files);
        process.start(program, arguments);
        process.write(joined(input, true).toUtf8());
        process.closeWriteChannel();
        Run run;
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
            run.code = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError()) +
                  (run.code < 0 ? program + ": " + process.errorString() : QString());
        return run;
    }

    // One wineserver and prefix serve the whole table; the first command
    // builds the prefix.
    QString startWine()
    {
        if (!m_wine.isEmpty())
            return m_wineProblem;
        m_wine = QProcessEnvironment::systemEnvironment();
        m_wine.insert("WINEPREFIX", m_winePrefix.path());
        m_wine.insert("WINEDEBUG", "-all");
        m_wine.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
        m_wine.remove("DISPLAY");
        const Run server = execute("wineserver", {"-p"}, m_wine);
        const Run first = execute("wine", {"reg", "query", "HKCU"}, m_wine);
        if (server.code != 0 || first.code != 0)
            m_wineProblem =
                "Wine cannot start (tools/install-deps.sh installs it): " + server.err + first.err;
        return m_wineProblem;
    }

    // Status lines word differently on the two sides and are left out, and
    // a failure shows no key or value lines, where Wine leaves a blank line.
    // Wine 8.0's reg.exe prints a REG_QWORD as "(null)", its printf lacking
    // the conversion, so the data of those lines is not compared.
    static QString keyAndValueLines(const Run& run)
    {
        static const QRegularExpression status("^(reg: |The operation completed successfully\\.|"
                                               "End of search: |Search complete\\. |ERROR: )");
        static const QRegularExpression qword("(    REG_QWORD    ).*");
        QStringList kept;
        for (const QString& line : QString(run.out).remove('\r').split('\n')) {
            if (!status.match(line).hasMatch())
                kept << QString(line).replace(qword, "\\1");
        }
        return run.code == 0 ? kept.join('\n') : kept.join('\n').trimmed();
    }

    QString compareWithWine(const QString& line, int code)
    {
        if (!startWine().isEmpty())
            return m_wineProblem;
        auto side = [&](const char* name, const char* other) {
            return ScenarioTable::words(
                QString(line).replace("{side}", name).replace("{other}", other));
        };
        const Run wine = execute("wine", side("wine", "host"), m_wine);
        const Run ours = execute(m_tool, side("host", "wine"), m_hostEnvironment);
        return differs("Wine's exit code", QString::number(code), QString::number(wine.code)) +
               differs("the exit code", QString::number(code), QString::number(ours.code)) +
               differs("the key and value lines", keyAndValueLines(wine), keyAndValueLines(ours));
    }

    // What is wrong after the step; nothing when it did as the table says.
    QString perform(const Step& step)
    {
        const QStringList arguments = ScenarioTable::words(expand(step.text));
        if (step.kind == "$" || step.kind == "+") {
            const Run run = execute(m_tool, arguments, m_hostEnvironment, step.input);
            if (step.kind == "+")
                return run.code == 0 ? QString() : "it fails: " + run.err;
            const QString err = expand(joined(step.err, true)),
                          actualErr = joined({run.err}, false);
            return differs("the exit code", QString::number(step.code), QString::number(run.code)) +
                   differs("the output", expand(joined(step.out, true)), joined({run.out}, false)) +
                   differs("the error output", err,
                           step.err.isEmpty() ? actualErr : actualErr.left(err.size()));
        }
        if (step.kind == "~")
            return compareWithWine(step.text, step.code);
        const QString file = path(arguments.value(0));
        const QByteArray bytes = encoded(step.lines, arguments.value(1));
        if (step.kind == "write") {
            QFile out(file);
            return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size()
                       ? QString()
                       : "cannot write " + file;
        }
        if (step.kind == "file")
            return differs(file, shown(bytes), QFile::exists(file) ? shown(read(file)) : "missing");
        if (step.kind == "same")
            return QFile::exists(file) && read(file) == read(path(arguments.value(1)))
                       ? QString()
                       : "they differ";
        if (step.kind == "dir")
            return QFileInfo(file).isDir() ? QString() : "not a folder";
        if (step.kind == "missing")
            return QFileInfo::exists(file) ? "it is there" : QString();
        if (step.kind == "copy")
            return QProcess::execute("cp", {"-a", file, path(arguments.value(1))}) == 0
                       ? QString()
                       : "cp failed";
        if (step.kind == "link")
            return QFile::link(file, path(arguments.value(1))) ? QString() : "ln -s failed";
        if (step.kind == "chmod")
            return QProcess::execute("chmod", {arguments.value(0), path(arguments.value(1))}) == 0
                       ? QString()
                       : "chmod failed";
        return "unknown step";
    }

private slots:
    void cleanupTestCase()
    {
        if (!m_wine.isEmpty() && m_wineProblem.isEmpty())
            execute("wineserver", {"-k"}, m_wine);
    }

    void scenarios_data()
    {
        QFile table(COMMAND_TABLE);
        QVERIFY2(table.open(QIODevice::ReadOnly | QIODevice::Text), COMMAND_TABLE);
        ScenarioTable::addRows(QString::fromUtf8(table.readAll()));
    }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        m_scratch = std::make_unique<QTemporaryDir>();
        m_host = m_scratch->filePath("host");
        m_files = m_scratch->filePath("files");
        m_hostEnvironment = QProcessEnvironment::systemEnvironment();
        m_hostEnvironment.insert("VEXOR_HOST_DIR", m_host);
        QVERIFY(QDir().mkpath(m_host) && QDir().mkpath(m_files));
        // A step's input, output, error, exit code and file lines follow it.
        const QMap<QChar, QStringList Step::*> parts{
            {'<', &Step::input}, {'>', &Step::out}, {'!', &Step::err}, {'|', &Step::lines}};
        QVector<Step> scenario;
        for (const QString& row : steps) {
            if (!parts.contains(row[0]) && !row.startsWith('['))
                scenario << Step{row.section(' ', 0, 0), row.section(' ', 1)};
            else if (scenario.isEmpty())
                QFAIL(qPrintable("a misplaced line: " + row));
            else if (row.startsWith('['))
                scenario.last().code = row.mid(1, row.size() - 2).toInt();
            else
                (scenario.last().*parts[row[0]]) << row.section(' ', 1);
        }
        for (const Step& step : scenario) {
            const QString problem = perform(step);
            // QFAIL, unlike QVERIFY2, does not cut a long message short.
            if (!problem.isEmpty())
                QFAIL(qPrintable(QString("%1 %2\n%3").arg(step.kind, step.text, problem)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
