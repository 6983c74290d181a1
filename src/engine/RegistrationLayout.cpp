#include "RegistrationLayout.h"

#include <QByteArray>
#include <QDir>

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

using Group = RegistrationLayout::Group;
using Data = RegistrationLayout::Data;

const QVector<RegistrationLayout::Row> kRows = {
    {"C1", Group::SmartCards, "Microsoft/Cryptography/Calais/SmartCards/VEXOR/ATR", Data::AtrVexor},
    {"C2", Group::SmartCards, "Microsoft/Cryptography/Calais/SmartCards/VEXOR/ATRMask",
     Data::AtrMaskVexor},
    {"C3", Group::SmartCards, "Microsoft/Cryptography/Calais/SmartCards/VEXOR/Crypto Provider",
     Data::ProviderName},
    {"C4", Group::SmartCards, "Microsoft/Cryptography/Calais/SmartCards/VEXOR_ESMART/ATR",
     Data::AtrEsmart},
    {"C5", Group::SmartCards, "Microsoft/Cryptography/Calais/SmartCards/VEXOR_ESMART/ATRMask",
     Data::AtrMaskEsmart},
    {"C6", Group::SmartCards,
     "Microsoft/Cryptography/Calais/SmartCards/VEXOR_ESMART/Crypto Provider", Data::ProviderName},

    {"K1", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/Default/Name",
     Data::CarrierNameDefault},
    {"K2", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/Default/ATR",
     Data::AtrVexor},
    {"K3", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/Default/Mask",
     Data::AtrMaskVexor},
    {"K4", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/1/Name",
     Data::CarrierName1},
    {"K5", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/1/ATR",
     Data::AtrEsmart},
    {"K6", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/1/Mask",
     Data::AtrMaskEsmart},
    {"K7", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/DLL",
     Data::ModuleFileName},
    {"A1", Group::Route32, "Crypto Pro/Cryptography/CurrentVersion/AppPath/vexor.dll/Default",
     Data::ModulePath},

    {"K8", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/Default/Name",
     Data::CarrierNameDefault},
    {"K9", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/Default/ATR",
     Data::AtrVexor},
    {"K10", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/Default/Mask",
     Data::AtrMaskVexor},
    {"K11", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/1/Name",
     Data::CarrierName1},
    {"K12", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/1/ATR", Data::AtrEsmart},
    {"K13", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/1/Mask",
     Data::AtrMaskEsmart},
    {"K14", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/KeyCarriers/VEXOR/DLL",
     Data::ModuleFileName},
    // The 32-bit view's module path names the 32-bit build, the native one the 64-bit build.
    {"A3", Group::Route64,
     "Wow6432Node/Crypto Pro/Cryptography/CurrentVersion/AppPath/vexor.dll/Default",
     Data::ModulePath},
    {"A2", Group::Route64, "Crypto Pro/Cryptography/CurrentVersion/AppPath/vexor.dll/Default",
     Data::ModulePath64},
    {"C7", Group::Route64, "Wow6432Node/Microsoft/Cryptography/Calais/SmartCards/VEXOR/ATR",
     Data::AtrVexor},
    {"C8", Group::Route64, "Wow6432Node/Microsoft/Cryptography/Calais/SmartCards/VEXOR/ATRMask",
     Data::AtrMaskVexor},
    {"C9", Group::Route64,
     "Wow6432Node/Microsoft/Cryptography/Calais/SmartCards/VEXOR/Crypto Provider",
     Data::ProviderName},
    {"C10", Group::Route64, "Wow6432Node/Microsoft/Cryptography/Calais/SmartCards/VEXOR_ESMART/ATR",
     Data::AtrEsmart},
    {"C11", Group::Route64,
     "Wow6432Node/Microsoft/Cryptography/Calais/SmartCards/VEXOR_ESMART/ATRMask",
     Data::AtrMaskEsmart},
    {"C12", Group::Route64,
     "Wow6432Node/Microsoft/Cryptography/Calais/SmartCards/VEXOR_ESMART/Crypto Provider",
     Data::ProviderName},
};
} // namespace

const QVector<RegistrationLayout::Row>& RegistrationLayout::rows()
{
    return kRows;
}

QString RegistrationLayout::modulePathIn(const QString& folder)
{
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + QLatin1String(kModuleFileName));
}

QVariant RegistrationLayout::dataOf(Data data, const QString& cspFolder, const QString& cspFolder64)
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
        return modulePathIn(cspFolder);
    case Data::ModulePath64:
        return modulePathIn(cspFolder64);
    }
    return QVariant();
}

void RegistrationLayout::writeGroup(WinRegistrySettings& store, Group group,
                                    const QString& cspFolder, const QString& cspFolder64)
{
    for (const Row& row : kRows) {
        if (row.group != group)
            continue;
        if ((row.data == Data::ModulePath && cspFolder.isEmpty()) ||
            (row.data == Data::ModulePath64 && cspFolder64.isEmpty()))
            continue;
        store.setValue(QString::fromLatin1(row.path), dataOf(row.data, cspFolder, cspFolder64));
    }
}

void RegistrationLayout::writeMarker(WinRegistrySettings& markerStore)
{
    markerStore.setValue(markerPath(), markerInstalled());
}
