#pragma once

#include <QStringList>

// A table of scenarios as the table-driven suites keep them. "== what it
// shows" opens a scenario, and the lines up to the next are its steps,
// trimmed; blank lines and lines starting with # are left out. "-- NAME"
// opens a block instead, which "use NAME [WORDS]" puts into what follows it,
// once per word with % replaced by the word, or as it is without words.
class ScenarioTable
{
public:
    // For a _data function: a "steps" column and a row per scenario.
    static void addRows(const QString& table);
    // The words of a line: double quotes group, and "" inside them stands
    // for a quote.
    static QStringList words(const QString& line);
};
