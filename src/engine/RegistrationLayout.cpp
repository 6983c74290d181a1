#include "RegistrationLayout.h"

#include <QByteArray>
#include <QDir>

#include "HostFacts.h"
#include "WinRegistrySettings.h"

namespace {
// Kept as hex text and decoded at every write, so each row carries exactly
// these bytes and nothing else.
constexpr char kAtrVexor[] = "3b9e00008031c0655a5100000072f7418107";
constexpr char kAtrMaskVexor[] = "ffff0000ffffffffffff300000ffffffffff";
constexpr char kAtrEsmart[] = "3B9796008073F7C1808105";
constexpr char kAtrMaskEsmart[] = "ffffffffffffffffffffff";
constexpr char kProviderName[] = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";
constexpr char kCarrierNameDefault[] = "VEXOR";
constexpr char kCarrierName1[] = "VEXOR ESMART";
constexpr char kModuleFileName[] = "vexor.dll";

constexpr char kWow64Node[] = "Wow6432Node";

using Group = RegistrationLayout::Group;
using View = RegistrationLayout::View;

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

// A key below SOFTWARE that belongs to the module alone: removing it removes
// every value written into it. parent is slash-separated.
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

// The parents belong to Windows and Crypto Pro: made when missing, never removed.
constexpr char kSmartCards[] = "Microsoft/Cryptography/Calais/SmartCards";
constexpr char kKeyCarriers[] = "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers";
constexpr char kAppPaths[] = "Crypto Pro/Cryptography/CurrentVersion/AppPath";

constexpr ModuleKey kCardVexor{kSmartCards, "VEXOR"};
constexpr ModuleKey kCardEsmart{kSmartCards, "VEXOR_ESMART"};
constexpr ModuleKey kKeyCarrier{kKeyCarriers, "VEXOR"};
constexpr ModuleKey kAppPath{kAppPaths, kModuleFileName};

// The smart-card types go into the native view on every host and into the
// 32-bit view on a 64-bit host; the key carrier only into the 32-bit
// programs' view; the native module path names the 64-bit build there.
// Every row but the marker, in the order the install procedure writes them.
const QVector<Row> kRows = {
    {Group::SmartCards, View::Native, &kCardVexor, "ATR", Data::AtrVexor},
    {Group::SmartCards, View::Native, &kCardVexor, "ATRMask", Data::AtrMaskVexor},
    {Group::SmartCards, View::Native, &kCardVexor, "Crypto Provider", Data::ProviderName},
    {Group::SmartCards, View::Native, &kCardEsmart, "ATR", Data::AtrEsmart},
    {Group::SmartCards, View::Native, &kCardEsmart, "ATRMask", Data::AtrMaskEsmart},
    {Group::SmartCards, View::Native, &kCardEsmart, "Crypto Provider", Data::ProviderName},

    {Group::Route32, View::Native, &kKeyCarrier, "Default/Name", Data::CarrierNameDefault},
    {Group::Route32, View::Native, &kKeyCarrier, "Default/ATR", Data::AtrVexor},
    {Group::Route32, View::Native, &kKeyCarrier, "Default/Mask", Data::AtrMaskVexor},
    {Group::Route32, View::Native, &kKeyCarrier, "1/Name", Data::CarrierName1},
    {Group::Route32, View::Native, &kKeyCarrier, "1/ATR", Data::AtrEsmart},
    {Group::Route32, View::Native, &kKeyCarrier, "1/Mask", Data::AtrMaskEsmart},
    {Group::Route32, View::Native, &kKeyCarrier, "DLL", Data::ModuleFileName},
    {Group::Route32, View::Native, &kAppPath, "Default", Data::ModulePath},

    {Group::Route64, View::Wow64, &kKeyCarrier, "Default/Name", Data::CarrierNameDefault},
    {Group::Route64, View::Wow64, &kKeyCarrier, "Default/ATR", Data::AtrVexor},
    {Group::Route64, View::Wow64, &kKeyCarrier, "Default/Mask", Data::AtrMaskVexor},
    {Group::Route64, View::Wow64, &kKeyCarrier, "1/Name", Data::CarrierName1},
    {Group::Route64, View::Wow64, &kKeyCarrier, "1/ATR", Data::AtrEsmart},
    {Group::Route64, View::Wow64, &kKeyCarrier, "1/Mask", Data::AtrMaskEsmart},
    {Group::Route64, View::Wow64, &kKeyCarrier, "DLL", Data::ModuleFileName},
    {Group::Route64, View::Wow64, &kAppPath, "Default", Data::ModulePath},
    {Group::Route64, View::Native, &kAppPath, "Default", Data::ModulePath64},
    {Group::Route64, View::Wow64, &kCardVexor, "ATR", Data::AtrVexor},
    {Group::Route64, View::Wow64, &kCardVexor, "ATRMask", Data::AtrMaskVexor},
    {Group::Route64, View::Wow64, &kCardVexor, "Crypto Provider", Data::ProviderName},
    {Group::Route64, View::Wow64, &kCardEsmart, "ATR", Data::AtrEsmart},
    {Group::Route64, View::Wow64, &kCardEsmart, "ATRMask", Data::AtrMaskEsmart},
    {Group::Route64, View::Wow64, &kCardEsmart, "Crypto Provider", Data::ProviderName},
};

// Below the registration root, in the registry's own backslash form, with
// a trailing backslash unless empty.
QString viewPrefix(View view)
{
    return view == View::Wow64 ? QLatin1String(kWow64Node) + QLatin1Char('\\') : QString();
}

QString backslashed(const char* slashPath)
{
    return QString::fromLatin1(slashPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// The row's path below the registration root, as setValue takes it.
QString pathOf(const Row& row)
{
    QString path =
        row.view == View::Wow64 ? QLatin1String(kWow64Node) + QLatin1Char('/') : QString();
    return path + QLatin1String(row.key->parent) + QLatin1Char('/') + QLatin1String(row.key->name) +
           QLatin1Char('/') + QLatin1String(row.value);
}

QString modulePathIn(const QString& folder)
{
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + QLatin1String(kModuleFileName));
}

// The data a row stores: bytes decoded from hex text, or text. Module paths
// use the platform's native separators.
QVariant dataOf(Data data, const HostFacts& host)
{
    switch (data) {
    case Data::AtrVexor:
        return QByteArray::fromHex(kAtrVexor);
    case Data::AtrMaskVexor:
        return QByteArray::fromHex(kAtrMaskVexor);
    case Data::AtrEsmart:
        return QByteArray::fromHex(kAtrEsmart);
    case Data::AtrMaskEsmart:
        return QByteArray::fromHex(kAtrMaskEsmart);
    case Data::ProviderName:
        return QString::fromLatin1(kProviderName);
    case Data::CarrierNameDefault:
        return QString::fromLatin1(kCarrierNameDefault);
    case Data::CarrierName1:
        return QString::fromLatin1(kCarrierName1);
    case Data::ModuleFileName:
        return QString::fromLatin1(kModuleFileName);
    case Data::ModulePath:
        return modulePathIn(host.cspFolder);
    case Data::ModulePath64:
        return modulePathIn(host.cspFolder64);
    }
    return QVariant();
}
} // namespace

QString RegistrationLayout::registrationRoot()
{
    return QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE");
}

QString RegistrationLayout::markerOrganization()
{
    return QStringLiteral("Quellon");
}

QString RegistrationLayout::markerApplication()
{
    return QStringLiteral("Vexor K Crypto Pro");
}

QString RegistrationLayout::markerPath()
{
    return QStringLiteral("Default");
}

QString RegistrationLayout::markerInstalled()
{
    return QStringLiteral("1");
}

void RegistrationLayout::writeGroup(WinRegistrySettings& store, Group group, const HostFacts& host)
{
    for (const Row& row : kRows) {
        if (row.group != group)
            continue;
        if ((row.data == Data::ModulePath && host.cspFolder.isEmpty()) ||
            (row.data == Data::ModulePath64 && host.cspFolder64.isEmpty()))
            continue;
        store.setValue(pathOf(row), dataOf(row.data, host));
    }
}

void RegistrationLayout::writeMarker(WinRegistrySettings& markerStore)
{
    markerStore.setValue(markerPath(), markerInstalled());
}

QVector<RegistrationLayout::RemovalRow> RegistrationLayout::removalRows(View view)
{
    const QString software = registrationRoot() + QLatin1Char('\\');
    QVector<RemovalRow> removal;
    QVector<const ModuleKey*> seen;
    for (const Row& row : kRows) {
        if (row.view != view || seen.contains(row.key))
            continue;
        seen << row.key;
        removal << RemovalRow{software + viewPrefix(view) + backslashed(row.key->parent),
                              QLatin1String(row.key->name), false};
    }
    // The marker store works in the 32-bit view, which is Wow6432Node on a
    // 64-bit host and the only view on a 32-bit one.
    const QString makerParent = software + viewPrefix(view);
    removal << RemovalRow{makerParent + markerOrganization(), markerApplication(), false}
            << RemovalRow{makerParent.chopped(1), markerOrganization(), true};
    return removal;
}
