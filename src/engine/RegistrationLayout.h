#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

class WinRegistrySettings;

// Everything the installer puts into the registry, in one table. The install
// procedure writes it group by group; the removal works on the keys that the
// rows create.
class RegistrationLayout
{
public:
    // The registration store: every path below is relative to this key and
    // opened in the 64-bit view, so "Wow6432Node/" rows reach the 32-bit view.
    static QString registrationRoot() { return QStringLiteral("HKLM\\SOFTWARE"); }

    // The marker store: by organisation and application, 32-bit view.
    static QString markerOrganization() { return QStringLiteral("Quellon"); }
    static QString markerApplication() { return QStringLiteral("Vexor K Crypto Pro"); }
    static QString markerPath() { return QStringLiteral("Default"); }
    static QString markerInstalled() { return QStringLiteral("1"); }

    // When a row is written: in both routes before the route is chosen, or in
    // one route only.
    enum class Group
    {
        SmartCards,
        Route32,
        Route64
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

    struct Row
    {
        const char* name; // C1 ... A3, as the registration is documented
        Group group;
        const char* path;
        Data data;
    };

    // Every row but the marker, in the order the install procedure writes them.
    static const QVector<Row>& rows();

    // The data a row stores: bytes decoded from hex text, or text. Module
    // paths use the platform's native separators.
    static QVariant dataOf(Data data, const QString& cspFolder, const QString& cspFolder64);

    // Writes the rows of one group in table order. A module path whose folder
    // is unknown (empty) is not written: it would name a file that is nowhere.
    static void writeGroup(WinRegistrySettings& store, Group group, const QString& cspFolder,
                           const QString& cspFolder64);

    // Writes row M1, the installed marker.
    static void writeMarker(WinRegistrySettings& markerStore);

    static QString modulePathIn(const QString& folder);
};
