#include "RegCommand.h"

#include "RegFileReader.h"
#include "RegFileWriter.h"
#include "RegKey.h"
#include "RegValueText.h"
#include "SimulatedHost.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>

#include <cstdio>

// What a command line holds after the fixed leading arguments: options by
// their lower-case name without the "/" or "-".
struct RegCommand::Options
{
    QMap<QString, QString> values;
    QStringList flags;

    bool has(const char* name) const
    {
        return flags.contains(QLatin1String(name)) || values.contains(QLatin1String(name));
    }
    QString value(const char* name) const { return values.value(QLatin1String(name)); }

    // false for an unknown option, one given twice or one missing its value.
    bool parse(const QStringList& arguments, const QStringList& withValue,
               const QStringList& knownFlags)
    {
        for (int i = 0; i < arguments.size(); ++i) {
            const QString& argument = arguments[i];
            if (argument.size() < 2 ||
                (argument[0] != QLatin1Char('/') && argument[0] != QLatin1Char('-')))
                return false;
            const QString name = argument.mid(1).toLower();
            if (has(name.toLatin1().constData()))
                return false;
            if (withValue.contains(name)) {
                if (i + 1 >= arguments.size())
                    return false;
                values.insert(name, arguments[++i]);
            } else if (knownFlags.contains(name)) {
                flags << name;
            } else {
                return false;
            }
        }
        return true;
    }

    // The registry view chosen by /reg:32 or /reg:64; both at once is an error.
    bool view(REGSAM* view) const
    {
        const bool view32 = has("reg:32");
        const bool view64 = has("reg:64");
        if (view32 && view64)
            return false;
        *view = view32 ? KEY_WOW64_32KEY : view64 ? KEY_WOW64_64KEY : 0;
        return true;
    }
};

namespace {

const char* const successText = "The operation completed successfully.";
const char* const notFoundText =
    "ERROR: The system was unable to find the specified registry key or value.";
const char* const cancelledText = "The operation was canceled by the user.";

// How reg.exe names a value in its lines and questions.
QString shownName(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("(Default)") : name;
}

bool isHelp(const QStringList& arguments)
{
    return arguments.size() == 1 &&
           (arguments[0] == QLatin1String("/?") || arguments[0] == QLatin1String("-?"));
}

QString usage(const QString& operation)
{
    if (operation == QLatin1String("QUERY"))
        return QStringLiteral("REG QUERY KeyName [/v [ValueName] | /ve] [/s] [/se Separator] "
                              "[/t Type] [/z] [/reg:32 | /reg:64]");
    if (operation == QLatin1String("ADD"))
        return QStringLiteral("REG ADD KeyName [{/v ValueName | /ve}] [/t Type] [/s Separator] "
                              "[/d Data] [/f] [/reg:32 | /reg:64]");
    if (operation == QLatin1String("DELETE"))
        return QStringLiteral("REG DELETE KeyName [{/v ValueName | /ve | /va}] [/f] "
                              "[/reg:32 | /reg:64]");
    if (operation == QLatin1String("EXPORT"))
        return QStringLiteral("REG EXPORT KeyName FileName [/y] [/reg:32 | /reg:64]");
    if (operation == QLatin1String("IMPORT"))
        return QStringLiteral("REG IMPORT FileName [/reg:32 | /reg:64]");
    return QStringLiteral("REG Operation [Parameter List]\n\n"
                          "  Operation  [ QUERY | ADD | DELETE | EXPORT | IMPORT ]");
}

} // namespace

RegCommand::RegCommand(QTextStream& in, QTextStream& out, QTextStream& err)
    : m_in(in), m_out(out), m_err(err)
{
}

int RegCommand::run(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QTextStream in(stdin);
    return run(arguments, in, out, err);
}

int RegCommand::run(const QStringList& arguments, QTextStream& in, QTextStream& out,
                    QTextStream& err)
{
    RegCommand command(in, out, err);
    const int code = command.dispatch(arguments);
    out.flush();
    err.flush();
    return code;
}

int RegCommand::dispatch(const QStringList& arguments)
{
    const QString operation = arguments.value(0).toUpper();
    const QStringList rest = arguments.mid(1);
    if (arguments.isEmpty() || isHelp(arguments)) {
        m_out << usage(QString()) << "\n";
        return arguments.isEmpty() ? 1 : 0;
    }
    const QStringList operations = {QStringLiteral("QUERY"), QStringLiteral("ADD"),
                                    QStringLiteral("DELETE"), QStringLiteral("EXPORT"),
                                    QStringLiteral("IMPORT")};
    if (!operations.contains(operation))
        return syntaxError(QString());
    if (isHelp(rest)) {
        m_out << usage(operation) << "\n";
        return 0;
    }
    const QString problem = SimulatedHost::problem();
    if (!problem.isEmpty()) {
        m_err << "ERROR: " << problem << "\n";
        return 1;
    }
    if (operation == QLatin1String("QUERY"))
        return query(rest);
    if (operation == QLatin1String("ADD"))
        return add(rest);
    if (operation == QLatin1String("DELETE"))
        return remove(rest);
    if (operation == QLatin1String("EXPORT"))
        return exportKey(rest);
    return importFile(rest);
}

int RegCommand::syntaxError(const QString& operation)
{
    m_err << "ERROR: Invalid syntax.\n";
    m_err << "Type \"REG " << (operation.isEmpty() ? QString() : operation + QLatin1Char(' '))
          << "/?\" for usage.\n";
    return 1;
}

int RegCommand::invalidKeyName(const QString& operation)
{
    m_err << "ERROR: Invalid key name.\n";
    m_err << "Type \"REG " << operation << " /?\" for usage.\n";
    return 1;
}

int RegCommand::registryError(LONG code)
{
    // A host that cannot be read or written (busy, read-only, damaged) says
    // why; the result code alone would only say that the registry failed.
    const QString problem = SimulatedHost::problem();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        m_err << notFoundText << "\n";
    else
        m_err << "ERROR: " << (problem.isEmpty() ? SimulatedHost::errorText(code) : problem)
              << "\n";
    return 1;
}

int RegCommand::success()
{
    m_out << successText << "\n";
    return 0;
}

int RegCommand::parseCommandLine(const QString& operation, const QStringList& arguments,
                                 int leading, const QStringList& withValue, QStringList flags,
                                 Options* options, RegKeyPath* key)
{
    if (arguments.size() < leading)
        return syntaxError(operation);
    if (key && !key->parse(arguments[0]))
        return invalidKeyName(operation);
    flags << QStringLiteral("reg:32") << QStringLiteral("reg:64");
    if (!options->parse(arguments.mid(leading), withValue, flags) || !options->view(&m_view))
        return syntaxError(operation);
    return -1;
}

bool RegCommand::confirmed(bool force, const QString& question)
{
    if (force || confirm(question))
        return true;
    m_out << cancelledText << "\n";
    return false;
}

bool RegCommand::confirm(const QString& question)
{
    for (;;) {
        m_out << question << " (Yes/No)? ";
        m_out.flush();
        const QString answer = m_in.readLine();
        if (answer.isNull()) {
            // No one to answer: keep the output on separate lines and decline.
            m_out << "\n";
            return false;
        }
        const QString word = answer.trimmed().toLower();
        if (word == QLatin1String("y") || word == QLatin1String("yes"))
            return true;
        if (word == QLatin1String("n") || word == QLatin1String("no"))
            return false;
    }
}

QString RegCommand::valueLine(const QString& name, DWORD type, const QByteArray& data) const
{
    QString typeText = RegValueText::typeName(type);
    if (m_verbose)
        typeText += QStringLiteral(" (%1)").arg(type);
    return QStringLiteral("    %1    %2    %3\n")
        .arg(shownName(name), typeText, RegValueText::displayData(type, data, m_separator));
}

int RegCommand::query(const QStringList& arguments)
{
    const QString operation = QStringLiteral("QUERY");
    RegKeyPath path;
    Options options;
    const int failed = parseCommandLine(
        operation, arguments, 1, {QStringLiteral("v"), QStringLiteral("se"), QStringLiteral("t")},
        {QStringLiteral("ve"), QStringLiteral("s"), QStringLiteral("z")}, &options, &path);
    if (failed >= 0)
        return failed;
    if (options.has("v") && options.has("ve"))
        return syntaxError(operation);
    m_separator = options.has("se") ? options.value("se") : QStringLiteral("\\0");
    if (options.has("se") && m_separator.size() != 1)
        return syntaxError(operation);
    m_verbose = options.has("z");
    if (options.has("t")) {
        DWORD type = REG_NONE;
        if (!RegValueText::typeFromName(options.value("t"), &type))
            return syntaxError(operation);
        m_typeFilter = options.value("t");
    }
    const bool recursive = options.has("s");
    if (options.has("v") || options.has("ve"))
        return searchValue(path, options.has("v") ? options.value("v") : QString(), recursive);
    return queryValues(path, recursive);
}

int RegCommand::queryValues(const RegKeyPath& path, bool recursive)
{
    RegKey key;
    const LONG opened = key.open(path, KEY_READ | m_view);
    if (opened != ERROR_SUCCESS)
        return registryError(opened);
    key.close();
    m_out << "\n";
    int matches = 0;
    const LONG result = printKeyBlock(path, recursive, &matches);
    return result == ERROR_SUCCESS ? 0 : registryError(result);
}

LONG RegCommand::printKeyBlock(const RegKeyPath& path, bool recursive, int* matches)
{
    RegKey::Contents contents;
    LONG result = RegKey::readContents(path, m_view, &contents);
    if (result != ERROR_SUCCESS)
        return result;

    QString lines;
    for (const RegKey::Value& value : contents.values) {
        if (!m_typeFilter.isEmpty() &&
            RegValueText::typeName(value.type).compare(m_typeFilter, Qt::CaseInsensitive) != 0)
            continue;
        lines += valueLine(value.name, value.type, value.data);
        ++*matches;
    }
    if (recursive) {
        // Every key of the tree gets its heading, values or not.
        m_out << path.fullName() << "\n" << lines << "\n";
        for (const QString& child : contents.subKeyNames) {
            result = printKeyBlock(path.child(child), true, matches);
            if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
                return result;
        }
        return ERROR_SUCCESS;
    }
    // Without /s the heading comes only with values; subkeys follow as names.
    if (!lines.isEmpty())
        m_out << path.fullName() << "\n" << lines << "\n";
    for (const QString& child : contents.subKeyNames)
        m_out << path.child(child).fullName() << "\n";
    return ERROR_SUCCESS;
}

int RegCommand::searchValue(const RegKeyPath& path, const QString& name, bool recursive)
{
    RegKey key;
    LONG result = key.open(path, KEY_READ | m_view);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    if (!recursive) {
        RegKey::Value value;
        result = key.value(name, &value);
        if (result == ERROR_FILE_NOT_FOUND && name.isEmpty()) {
            // A key always shows its default value, set or not.
            m_out << "\n" << path.fullName() << "\n    (Default)    REG_SZ    (value not set)\n";
            return 0;
        }
        if (result != ERROR_SUCCESS)
            return registryError(result);
        m_out << "\n" << path.fullName() << "\n" << valueLine(name, value.type, value.data) << "\n";
        return 0;
    }
    key.close();
    int matches = 0;
    m_out << "\n";
    result = findValueBelow(path, name, &matches);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    m_out << "End of search: " << matches << " match(es) found.\n";
    return 0;
}

LONG RegCommand::findValueBelow(const RegKeyPath& path, const QString& name, int* matches)
{
    RegKey key;
    LONG result = key.open(path, KEY_READ | m_view);
    if (result != ERROR_SUCCESS)
        return result;
    RegKey::Value value;
    result = key.value(name, &value);
    if (result == ERROR_SUCCESS) {
        m_out << path.fullName() << "\n" << valueLine(name, value.type, value.data) << "\n";
        ++*matches;
    } else if (result != ERROR_FILE_NOT_FOUND) {
        return result;
    }
    QStringList children;
    result = key.subKeyNames(&children);
    if (result != ERROR_SUCCESS)
        return result;
    key.close();
    for (const QString& child : children) {
        result = findValueBelow(path.child(child), name, matches);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            return result;
    }
    return ERROR_SUCCESS;
}

int RegCommand::add(const QStringList& arguments)
{
    const QString operation = QStringLiteral("ADD");
    RegKeyPath path;
    Options options;
    const int failed = parseCommandLine(
        operation, arguments, 1,
        {QStringLiteral("v"), QStringLiteral("t"), QStringLiteral("s"), QStringLiteral("d")},
        {QStringLiteral("ve"), QStringLiteral("f")}, &options, &path);
    if (failed >= 0)
        return failed;
    if (options.has("v") && options.has("ve"))
        return syntaxError(operation);
    DWORD type = REG_SZ;
    if (options.has("t") && !RegValueText::typeFromName(options.value("t"), &type)) {
        m_err << "ERROR: Invalid type specified: " << options.value("t") << "\n";
        return 1;
    }
    const QString separator = options.has("s") ? options.value("s") : QStringLiteral("\\0");
    if (options.has("s") && (separator.size() != 1 || type != REG_MULTI_SZ))
        return syntaxError(operation);
    QByteArray data;
    QString error;
    if (!RegValueText::dataFromText(type, options.has("d"), options.value("d"), separator, &data,
                                    &error)) {
        m_err << error << "\n";
        return 1;
    }

    RegKey key;
    LONG result = key.create(path, KEY_READ | KEY_WRITE | m_view);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    // A bare "reg add key" only makes the key; /t or /d alone set its default.
    const bool setsValue =
        options.has("v") || options.has("ve") || options.has("t") || options.has("d");
    if (!setsValue)
        return success();
    const QString name = options.value("v");
    RegKey::Value existing;
    if (!options.has("f") && key.value(name, &existing) == ERROR_SUCCESS &&
        !confirmed(false, QStringLiteral("Value %1 exists, overwrite").arg(shownName(name))))
        return 1;
    result = key.setValue(name, type, data);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    return success();
}

int RegCommand::remove(const QStringList& arguments)
{
    const QString operation = QStringLiteral("DELETE");
    RegKeyPath path;
    Options options;
    const int failed = parseCommandLine(
        operation, arguments, 1, {QStringLiteral("v")},
        {QStringLiteral("ve"), QStringLiteral("va"), QStringLiteral("f")}, &options, &path);
    if (failed >= 0)
        return failed;
    const int valueOptions =
        int(options.has("v")) + int(options.has("ve")) + int(options.has("va"));
    if (valueOptions > 1)
        return syntaxError(operation);
    const bool force = options.has("f");

    if (valueOptions == 0) {
        // The roots themselves cannot be deleted.
        if (path.subKey().isEmpty())
            return invalidKeyName(operation);
        RegKey target;
        const LONG opened = target.open(path, KEY_READ | m_view);
        if (opened != ERROR_SUCCESS)
            return registryError(opened);
        target.close();
        if (!confirmed(
                force,
                QStringLiteral("Permanently delete the registry key %1").arg(path.fullName())))
            return 1;
        const LONG result = deleteKey(path);
        return result == ERROR_SUCCESS ? success() : registryError(result);
    }

    RegKey key;
    LONG result = key.open(path, KEY_READ | KEY_SET_VALUE | m_view);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    if (options.has("va")) {
        QList<RegKey::Value> values;
        result = key.values(&values);
        if (result != ERROR_SUCCESS)
            return registryError(result);
        if (!confirmed(
                force,
                QStringLiteral("Delete all values under the registry key %1").arg(path.fullName())))
            return 1;
        for (const RegKey::Value& value : values) {
            result = key.deleteValue(value.name);
            if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
                return registryError(result);
        }
        return success();
    }
    const QString name = options.value("v");
    RegKey::Value existing;
    result = key.value(name, &existing);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    if (!confirmed(force, QStringLiteral("Delete the registry value %1").arg(shownName(name))))
        return 1;
    result = key.deleteValue(name);
    return result == ERROR_SUCCESS ? success() : registryError(result);
}

// Deletes through the parent opened in the chosen view, so that the key
// removed is the one the view shows.
LONG RegCommand::deleteKey(const RegKeyPath& path)
{
    // A hive root (a key right below HKLM or HKU) stays, as on Windows, and
    // nothing below it is deleted on the way to finding that out.
    const int split = path.subKey().lastIndexOf(QLatin1Char('\\'));
    if (split < 0 && (path.root() == HKEY_LOCAL_MACHINE || path.root() == HKEY_USERS))
        return ERROR_ACCESS_DENIED;
    RegKey parent;
    LONG result = parent.open(path.root(), split < 0 ? QString() : path.subKey().left(split),
                              KEY_READ | m_view);
    if (result == ERROR_SUCCESS)
        result = deleteTree(parent.handle(), path.subKey().mid(split + 1));
    return result;
}

LONG RegCommand::deleteTree(HKEY parent, const QString& name)
{
    RegKey key;
    LONG result = key.open(parent, name, KEY_READ | DELETE | m_view);
    if (result != ERROR_SUCCESS)
        return result;
    QStringList children;
    result = key.subKeyNames(&children);
    if (result != ERROR_SUCCESS)
        return result;
    for (const QString& child : children) {
        result = deleteTree(key.handle(), child);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            return result;
    }
    key.close();
    return RegDeleteKeyW(parent, RegKey::wide(name));
}

int RegCommand::exportKey(const QStringList& arguments)
{
    RegKeyPath path;
    Options options;
    const int failed = parseCommandLine(QStringLiteral("EXPORT"), arguments, 2, {},
                                        {QStringLiteral("y")}, &options, &path);
    if (failed >= 0)
        return failed;
    const QString fileName = arguments[1];

    RegKey key;
    LONG result = key.open(path, KEY_READ | m_view);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    key.close();
    QString text = RegFileWriter::header();
    result = RegFileWriter::appendTree(path, m_view, &text);
    if (result != ERROR_SUCCESS)
        return registryError(result);
    text += QStringLiteral("\r\n");

    if (QFileInfo::exists(fileName) &&
        !confirmed(options.has("y"),
                   QStringLiteral("File %1 already exists. Overwrite").arg(fileName)))
        return 1;
    // Written aside and renamed, so an existing file is never left half-replaced.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(RegFileWriter::encode(text)) < 0 ||
        !file.commit()) {
        m_err << "ERROR: Cannot write the file " << fileName << ": " << file.errorString() << "\n";
        return 1;
    }
    return success();
}

int RegCommand::importFile(const QStringList& arguments)
{
    Options options;
    const int failed =
        parseCommandLine(QStringLiteral("IMPORT"), arguments, 1, {}, {}, &options, nullptr);
    if (failed >= 0)
        return failed;
    const QString fileName = arguments[0];

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_err << "ERROR: Cannot open the file " << fileName << ": " << file.errorString() << "\n";
        return 1;
    }
    QList<RegFileReader::Change> changes;
    QString error;
    if (!RegFileReader::parse(file.readAll(), &changes, &error)) {
        m_err << "ERROR: " << fileName << ", " << error << "\n";
        return 1;
    }
    for (const RegFileReader::Change& change : changes) {
        LONG result = ERROR_SUCCESS;
        RegKey key;
        switch (change.kind) {
        case RegFileReader::Change::CreateKey:
            result = key.create(change.key, KEY_WRITE | m_view);
            break;
        case RegFileReader::Change::DeleteKey:
            result = deleteKey(change.key);
            // Removing a key that is already gone is what the file asked for.
            if (result == ERROR_FILE_NOT_FOUND)
                result = ERROR_SUCCESS;
            break;
        case RegFileReader::Change::SetValue:
            result = key.create(change.key, KEY_WRITE | m_view);
            if (result == ERROR_SUCCESS)
                result = key.setValue(change.valueName, change.type, change.data);
            break;
        case RegFileReader::Change::DeleteValue:
            result = key.open(change.key, KEY_SET_VALUE | m_view);
            if (result == ERROR_SUCCESS)
                result = key.deleteValue(change.valueName);
            if (result == ERROR_FILE_NOT_FOUND)
                result = ERROR_SUCCESS;
            break;
        }
        if (result != ERROR_SUCCESS) {
            m_err << "ERROR: Error accessing the registry: " << change.key.fullName() << ": "
                  << SimulatedHost::errorText(result) << "\n";
            return 1;
        }
    }
    return success();
}
