// Figures for the simulated host's registry: per-call median and 99th
// percentile of the calls the installer makes, on an empty host and on a
// large one, the whole install's value writes, and how a writer killed
// mid-way leaves the host.

#include "HostDatabase.h"
#include "RegistryName.h"
#include "RegistryStore.h"
#include "SimulatedHost.h"
#include "SimulatedWinApi.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

LPCWSTR w(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QByteArray sz(const QString& text)
{
    QByteArray data(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    data.append(2, '\0');
    return data;
}

const QString deepPath = QStringLiteral(
    "SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR\\Deep\\Leaf");

struct Figures
{
    std::vector<double> micros;
    void add(qint64 nanos) { micros.push_back(double(nanos) / 1000.0); }
    void print(const char* what, const char* host)
    {
        std::sort(micros.begin(), micros.end());
        const double median = micros[micros.size() / 2];
        const double p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        printf("%-34s %-16s median %9.1f us   p99 %9.1f us   (%zu calls)\n", what, host, median,
               p99, micros.size());
    }
};

// Fills the host directly, in one transaction, with keys of 1000 values
// each spread over a few levels.
bool populate(const QString& folder, int values)
{
    HostDatabase db;
    if (db.open(folder + QStringLiteral("/registry.db")) != ERROR_SUCCESS)
        return false;
    HostDatabase::Transaction transaction(db, true);
    RegistryStore store(db);
    RegistryStore::KeyRow machine;
    store.key(HostDatabase::localMachineId, &machine);
    const QByteArray data = sz(QStringLiteral("C:\\Program Files\\Vendor\\module.dll"));
    for (int k = 0; k * 1000 < values; ++k) {
        std::vector<QByteArray> path = {
            RegistryName::stored(QStringLiteral("SOFTWARE")),
            RegistryName::stored(QStringLiteral("Vendor%1").arg(k % 50)),
            RegistryName::stored(QStringLiteral("Product%1").arg(k))};
        RegistryStore::Walk walk;
        walk.create = true;
        RegistryStore::KeyRow key;
        if (store.resolve(machine, path, &walk, &key) != ERROR_SUCCESS)
            return false;
        for (int v = 0; v < 1000 && k * 1000 + v < values; ++v) {
            if (store.setValue(key.id, RegistryName::stored(QStringLiteral("Value%1").arg(v)),
                               REG_SZ, data) != ERROR_SUCCESS)
                return false;
        }
    }
    return transaction.commit() == ERROR_SUCCESS;
}

void measure(const char* host, int rounds)
{
    QElapsedTimer timer;
    Figures createSet, openQuery, enumerate, removeTree;
    const QByteArray data = sz(QStringLiteral("C:\\Program Files\\Crypto Pro\\CSP\\vexor.dll"));

    HKEY deep = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(deepPath), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deep,
                    nullptr);
    RegSetValueExW(deep, w(QStringLiteral("DLL")), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
    RegCloseKey(deep);

    for (int i = 0; i < rounds; ++i) {
        const QString path = QStringLiteral("SOFTWARE\\Bench\\Tree%1\\Key").arg(i);
        timer.start();
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(path), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        RegSetValueExW(key, w(QStringLiteral("Value")), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
        RegCloseKey(key);
        createSet.add(timer.nsecsElapsed());

        timer.start();
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(deepPath), 0, KEY_READ, &key);
        BYTE buffer[512];
        DWORD size = sizeof(buffer);
        RegQueryValueExW(key, w(QStringLiteral("DLL")), nullptr, nullptr, buffer, &size);
        RegCloseKey(key);
        openQuery.add(timer.nsecsElapsed());
    }

    // A listing as the settings store makes it: counts, then every name.
    HKEY listed = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(QStringLiteral("SOFTWARE\\Bench\\Listed")), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &listed, nullptr);
    for (int v = 0; v < 20; ++v)
        RegSetValueExW(listed, w(QStringLiteral("Value%1").arg(v)), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        DWORD values = 0, longest = 0;
        RegQueryInfoKeyW(listed, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         &longest, nullptr, nullptr, nullptr);
        std::vector<WCHAR> name(longest + 2);
        for (DWORD v = 0; v < values; ++v) {
            DWORD length = DWORD(name.size());
            RegEnumValueW(listed, v, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        }
        enumerate.add(timer.nsecsElapsed());
    }
    RegCloseKey(listed);

    // Removing Tree<i>: its one subkey with its value, then the key itself.
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        HKEY tree = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(QStringLiteral("SOFTWARE\\Bench\\Tree%1").arg(i)), 0,
                      KEY_ALL_ACCESS, &tree);
        WCHAR name[256];
        DWORD length = 256;
        while (RegEnumKeyExW(tree, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            RegDeleteKeyW(tree, name);
            length = 256;
        }
        RegCloseKey(tree);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, w(QStringLiteral("SOFTWARE\\Bench\\Tree%1").arg(i)));
        removeTree.add(timer.nsecsElapsed());
    }

    createSet.print("create+set+close", host);
    openQuery.print("open 8 levels+query+close", host);
    enumerate.print("enumerate 20 values", host);
    removeTree.print("recursive delete (2 keys)", host);
}

// The install writes 22 values, each opening (creating) its key below a
// base key and closing it again.
void installWrites(const char* host)
{
    QElapsedTimer timer;
    timer.start();
    HKEY base = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(QStringLiteral("SOFTWARE")), 0, nullptr, 0,
                    KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, nullptr, &base, nullptr);
    for (int i = 0; i < 22; ++i) {
        const QString path =
            QStringLiteral("Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR%1\\").arg(i % 4);
        HKEY key = nullptr;
        RegCreateKeyExW(base, w(path), 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr);
        const QByteArray data = sz(QStringLiteral("Crypto-Pro GOST R 34.10-2012 KC1 CSP"));
        RegSetValueExW(key, w(QStringLiteral("Value%1").arg(i)), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
        RegCloseKey(key);
    }
    RegCloseKey(base);
    printf("%-34s %-16s total %10.1f us\n", "22 install value writes", host,
           double(timer.nsecsElapsed()) / 1000.0);
}

int childWriter(const QString& folder)
{
    if (!SimulatedHost::use(folder))
        return 3;
    for (int i = 0;; ++i) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Crash")), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return 4;
        const QByteArray data = sz(QString::number(i).repeated(40));
        if (RegSetValueExW(key, w(QString::number(i)), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data.data()),
                           DWORD(data.size())) != ERROR_SUCCESS)
            return 5;
        RegCloseKey(key);
        printf("%d\n", i);
        fflush(stdout);
    }
}

// Kills a writer at random moments and counts acknowledged writes that are
// missing or torn afterwards.
void crashSafety(int kills)
{
    int lost = 0, torn = 0, acknowledgedTotal = 0, unreadable = 0;
    for (int round = 0; round < kills; ++round) {
        QTemporaryDir dir;
        SimulatedHost::create(dir.path(), SimulatedHost::CreateOptions(), nullptr);
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {"--child-writer", dir.path()});
        writer.waitForStarted();
        QThread::msleep(20 + QRandomGenerator::global()->bounded(200));
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished();
        const QList<QByteArray> lines = writer.readAllStandardOutput().split('\n');
        const int acknowledged = lines.size() >= 2 ? lines[lines.size() - 2].toInt() + 1 : 0;
        acknowledgedTotal += acknowledged;
        if (!SimulatedHost::use(dir.path())) {
            ++unreadable;
            continue;
        }
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Crash")), 0, KEY_READ, &key);
        for (int i = 0; i < acknowledged; ++i) {
            BYTE buffer[1024];
            DWORD size = sizeof(buffer);
            if (RegQueryValueExW(key, w(QString::number(i)), nullptr, nullptr, buffer, &size) !=
                ERROR_SUCCESS)
                ++lost;
            else if (QByteArray(reinterpret_cast<char*>(buffer), int(size)) !=
                     sz(QString::number(i).repeated(40)))
                ++torn;
        }
        if (key)
            RegCloseKey(key);
    }
    printf("crash safety: %d writers killed, %d writes acknowledged, %d lost, %d torn, %d hosts "
           "unreadable\n",
           kills, acknowledgedTotal, lost, torn, unreadable);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.value(1) == QLatin1String("--child-writer"))
        return childWriter(arguments.value(2));
    int values = 1000000;
    if (arguments.value(1) == QLatin1String("--values"))
        values = arguments.value(2).toInt();

    QTemporaryDir emptyHost;
    SimulatedHost::create(emptyHost.path(), SimulatedHost::CreateOptions(), nullptr);
    SimulatedHost::use(emptyHost.path());
    measure("empty host", 2000);
    installWrites("empty host");

    QTemporaryDir largeHost;
    SimulatedHost::create(largeHost.path(), SimulatedHost::CreateOptions(), nullptr);
    QElapsedTimer timer;
    timer.start();
    if (!populate(largeHost.path(), values)) {
        fprintf(stderr, "could not fill the large host\n");
        return 1;
    }
    printf("filled a host with %d values in %.1f s\n", values, timer.elapsed() / 1000.0);
    SimulatedHost::use(largeHost.path());
    const QByteArray label = QStringLiteral("%1 values").arg(values).toLatin1();
    measure(label.constData(), 2000);
    installWrites(label.constData());

    crashSafety(20);
    return 0;
}
