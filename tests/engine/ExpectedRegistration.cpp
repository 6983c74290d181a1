#include "ExpectedRegistration.h"

#include <QDir>

namespace {
const char kAtrVexor[] = "3B9E00008031C0655A5100000072F7418107";
const char kMaskVexor[] = "FFFF0000FFFFFFFFFFFF300000FFFFFFFFFF";
const char kAtrEsmart[] = "3B9796008073F7C1808105";
const char kMaskEsmart[] = "FFFFFFFFFFFFFFFFFFFFFF";
const char kProvider[] = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";

void addSmartCards(RegistrySnapshot::Values* values, const QString& prefix)
{
    const QString cards = prefix + QStringLiteral("microsoft\\cryptography\\calais\\smartcards\\");
    values->insert(cards + QStringLiteral("vexor\\atr"), RegistrySnapshot::bytes(kAtrVexor));
    values->insert(cards + QStringLiteral("vexor\\atrmask"), RegistrySnapshot::bytes(kMaskVexor));
    values->insert(cards + QStringLiteral("vexor\\crypto provider"),
                   RegistrySnapshot::text(QString::fromLatin1(kProvider)));
    values->insert(cards + QStringLiteral("vexor_esmart\\atr"),
                   RegistrySnapshot::bytes(kAtrEsmart));
    values->insert(cards + QStringLiteral("vexor_esmart\\atrmask"),
                   RegistrySnapshot::bytes(kMaskEsmart));
    values->insert(cards + QStringLiteral("vexor_esmart\\crypto provider"),
                   RegistrySnapshot::text(QString::fromLatin1(kProvider)));
}

void addKeyCarrier(RegistrySnapshot::Values* values, const QString& prefix)
{
    const QString carrier =
        prefix + QStringLiteral("crypto pro\\cryptography\\currentversion\\keycarriers\\vexor\\");
    values->insert(carrier + QStringLiteral("default\\name"),
                   RegistrySnapshot::text(QStringLiteral("VEXOR")));
    values->insert(carrier + QStringLiteral("default\\atr"), RegistrySnapshot::bytes(kAtrVexor));
    values->insert(carrier + QStringLiteral("default\\mask"), RegistrySnapshot::bytes(kMaskVexor));
    values->insert(carrier + QStringLiteral("1\\name"),
                   RegistrySnapshot::text(QStringLiteral("VEXOR ESMART")));
    values->insert(carrier + QStringLiteral("1\\atr"), RegistrySnapshot::bytes(kAtrEsmart));
    values->insert(carrier + QStringLiteral("1\\mask"), RegistrySnapshot::bytes(kMaskEsmart));
    values->insert(carrier + QStringLiteral("dll"),
                   RegistrySnapshot::text(QStringLiteral("vexor.dll")));
}

QString appPath(const QString& prefix)
{
    return prefix +
           QStringLiteral("crypto pro\\cryptography\\currentversion\\apppath\\vexor.dll\\@");
}
} // namespace

QString ExpectedRegistration::modulePath(const QString& folder)
{
    return QDir::toNativeSeparators(folder + QStringLiteral("/vexor.dll"));
}

RegistrySnapshot::Values ExpectedRegistration::route32(const QString& cspFolder)
{
    RegistrySnapshot::Values values;
    addSmartCards(&values, QString());
    addKeyCarrier(&values, QString());
    values.insert(appPath(QString()), RegistrySnapshot::text(modulePath(cspFolder)));
    values.insert(QStringLiteral("quellon\\vexor k crypto pro\\@"),
                  RegistrySnapshot::text(QStringLiteral("1")));
    return values;
}

RegistrySnapshot::Values ExpectedRegistration::route64(const QString& cspFolder,
                                                       const QString& cspFolder64)
{
    const QString wow = QStringLiteral("wow6432node\\");
    RegistrySnapshot::Values values;
    addSmartCards(&values, QString());
    addSmartCards(&values, wow);
    addKeyCarrier(&values, wow);
    if (!cspFolder64.isEmpty())
        values.insert(appPath(QString()), RegistrySnapshot::text(modulePath(cspFolder64)));
    values.insert(appPath(wow), RegistrySnapshot::text(modulePath(cspFolder)));
    values.insert(wow + QStringLiteral("quellon\\vexor k crypto pro\\@"),
                  RegistrySnapshot::text(QStringLiteral("1")));
    return values;
}
