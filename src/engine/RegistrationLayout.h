#pragma once

#include <QString>
#include <QVector>

class HostFacts;
class WinRegistrySettings;

// Everything the installer puts into the registry, in one table, and the
// removal derived from it: the install writes the rows group by group, and
// the removal takes away every key of the module that a row writes into,
// then the marker.
class RegistrationLayout
{
public:
    // The registration store's root, opened in the 64-bit view; the removal's
    // parent paths begin with it too.
    static QString registrationRoot();

    // The marker store: by organisation and application, 32-bit view.
    static QString markerOrganization();
    static QString markerApplication();
    static QString markerPath();
    static QString markerInstalled();

    // When a row is written: in both routes before the route is chosen, or in
    // one route only.
    enum class Group
    {
        SmartCards,
        Route32,
        Route64
    };

    // The registration store works in the 64-bit view; on a 64-bit host the
    // 32-bit programs' part of SOFTWARE is reached through Wow6432Node.
    enum class View
    {
        Native,
        Wow64
    };

    struct RemovalRow
    {
        QString parentPath; // backslash-separated, beginning with the root's full name
        QString keyName;
        bool onlyIfEmpty;
    };

    // Writes the rows of one group in table order. A module path whose folder
    // is unknown (empty) is not written: it would name a file that is nowhere.
    static void writeGroup(WinRegistrySettings& store, Group group, const HostFacts& host);
    // Writes the installed marker.
    static void writeMarker(WinRegistrySettings& markerStore);

    // The keys to remove from one view: each module key that a row of that
    // view writes into, in the order first written, then the marker's key and
    // the maker's key, which goes only when nothing is left in it.
    static QVector<RemovalRow> removalRows(View view);
};
