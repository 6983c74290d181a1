#include "FuzzHost.h"
#include "RawRegistry.h"
#include "WinRegistrySettings.h"

#include <QtEndian>

#include <cstdlib>

// Any key and any value through the settings store, on a simulated host. The
// first byte picks the value's type, the second the key's length. A value the
// registry takes reads back as written, when written plainly; any value read,
// raw data of every type and length among them, is read back the same after
// being written again.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzHost::use();
    // Keys the registry refuses are reported as warnings: expected here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 2)
        return 0;
    const auto text = [](const char* data, size_t length) {
        return QString::fromUtf8(data, int(length));
    };
    const size_t keyLength = std::min<size_t>(bytes[1], size - 2);
    const char* rest = reinterpret_cast<const char*>(bytes) + 2 + keyLength;
    const size_t restSize = size - 2 - keyLength;
    QString key = text(reinterpret_cast<const char*>(bytes) + 2, keyLength);
    QVariant value;
    bool plain = true;
    switch (bytes[0] % 6) {
    case 0:
        value = text(rest, restSize);
        plain = !value.toString().contains(QChar(0));
        break;
    case 1:
        value = QByteArray(rest, int(restSize));
        break;
    case 2:
        value = text(rest, restSize).split(QLatin1Char(','));
        for (const QString& item : value.toStringList())
            plain &= !item.isEmpty() && !item.contains(QChar(0));
        break;
    case 3:
        value = restSize >= 4 ? qFromLittleEndian<qint32>(rest) : 0;
        break;
    case 4:
        value = qlonglong(restSize >= 8 ? qFromLittleEndian<qint64>(rest) : -1);
        break;
    default: // raw data of any type, as another program may have left it
        key = QStringLiteral("raw");
        RawRegistry::setValue(HKEY_CURRENT_USER, QStringLiteral("Software\\Fuzz"), key,
                              bytes[1] % 13, QByteArray(rest, int(restSize)));
        plain = false;
    }
    WinRegistrySettings store(QStringLiteral("HKEY_CURRENT_USER\\Software\\Fuzz"),
                              WinRegistrySettings::Registry64Format);
    if (key != QLatin1String("raw"))
        store.setValue(key, value);
    const QVariant first = store.value(key);
    if (first.isValid()) {
        if (plain && first != value)
            std::abort();
        store.setValue(key, first);
        if (store.value(key) != first)
            std::abort();
    }
    store.remove(QString());
    return 0;
}
