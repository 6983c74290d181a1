#pragma once

#include <QString>
#include <QVariant>
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

    enum class Data
    {
        AtrVexor,
        AtrMaskVexor,
        AtrEsmart,
        AtrMaskEsmart,
        ProviderName,
        CarrierNameDefault,
        CarrierName1,
        ModuleFileName,
        ModulePath,  // the module in the CSP folder
        ModulePath64 // the module in the 64-bit CSP folder
    };

    // A key below SOFTWARE that belongs to the module alone: removing it
    // removes every value written into it. parent is slash-separated.
    struct ModuleKey
    {
        const char* parent;
        const char* name;
    };

    struct Row
    {
        Group group;
        View view;
        const ModuleKey* key;
        const char* value; // below the key; a last element "Default" is the default value
        Data data;
    };

    struct RemovalRow
    {
        QString parentPath; // backslash-separated, beginning with the root's full name
        QString keyName;
        bool onlyIfEmpty;
    };

    // Every row but the marker, in the order the install procedure writes them.
    static const QVector<Row>& rows();
    // The row's path below the registration root, as setValue takes it.
    static QString pathOf(const Row& row);
    // The data a row stores: bytes decoded from hex text, or text. Module
    // paths use the platform's native separators.
    static QVariant dataOf(Data data, const HostFacts& host);
    static QString modulePathIn(const QString& folder);

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
