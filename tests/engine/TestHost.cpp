#include "TestHost.h"

#include <algorithm>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include "HostCpuArchitecture.h"
#include "SimulatedHost.h"
#include "VexorKCryptoProInstaller.h"

namespace {
LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QString line(const QString& valuePath, DWORD type, const QByteArray& data)
{
    return QStringLiteral("%1 = %2 %3")
        .arg(valuePath.toLower())
        .arg(type)
        .arg(QString::fromLatin1(data.toHex()));
}

void collect(HKEY key, const QString& prefix, REGSAM view, bool withKeys, QStringList* lines)
{
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<WCHAR> name(std::max(longestName, longestSubkey) + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = DWORD(name.size()), size = DWORD(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            continue;
        const QString valueName =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()), int(nameLength));
        *lines << line(prefix + (valueName.isEmpty() ? QStringLiteral("@") : valueName), type,
                       QByteArray(reinterpret_cast<const char*>(data.data()), int(size)));
    }
    QStringList children;
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD nameLength = DWORD(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            children << QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()),
                                           int(nameLength));
    }
    for (const QString& child : children) {
        if (withKeys)
            *lines << (prefix + child).toLower() + QLatin1Char('\\');
        HKEY childKey = nullptr;
        if (RegOpenKeyExW(key, wide(child), 0, KEY_READ | view, &childKey) != ERROR_SUCCESS)
            continue;
        collect(childKey, prefix + child + QLatin1Char('\\'), view, withKeys, lines);
        RegCloseKey(childKey);
    }
}
QString lastAnsweredBox;
} // namespace

TestHost::TestHost(const QString& architecture, bool withCsp)
{
    // As at program start: install.log is written in Windows-1251.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
    SimulatedHost::CreateOptions options;
    options.architecture = architecture;
    options.withCsp = withCsp;
    if (!m_folder.isValid() || !SimulatedHost::create(m_folder.path(), options, &m_error) ||
        !SimulatedHost::use(m_folder.path(), &m_error))
        return;
    SimulatedHost::setElevated(true);
    hostCpuArchitecture = architecture;
    clearProgramW6432();
    const QMap<QString, QString> environment = SimulatedHost::environment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        if (it.key().compare(QLatin1String("ProgramW6432"), Qt::CaseInsensitive) == 0)
            qputenv(it.key().toLocal8Bit().constData(), it.value().toLocal8Bit());
    }
    m_ready = true;
}

TestHost::~TestHost()
{
    SimulatedHost::setElevated(true);
    clearProgramW6432();
    // Leave the process on a host that outlives this one.
    SimulatedHost::use(QDir::tempPath() + QStringLiteral("/vexor-idle-host"));
}

void TestHost::install()
{
    VexorKCryptoProInstaller window;
    installButton(window)->click();
}

QPushButton* TestHost::installButton(const VexorKCryptoProInstaller& window)
{
    return window.findChild<QPushButton*>(QStringLiteral("installButton"));
}

void TestHost::clearProgramW6432()
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString& name : names) {
        if (name.compare(QLatin1String("ProgramW6432"), Qt::CaseInsensitive) == 0)
            qunsetenv(name.toLocal8Bit().constData());
    }
}

QStringList TestHost::pane(const VexorKCryptoProInstaller& window)
{
    QStringList lines;
    const QTextDocument* document = window.findChild<QPlainTextEdit*>()->document();
    for (QTextBlock block = document->begin(); block.isValid() && !document->isEmpty();
         block = block.next()) {
        bool isRed = false;
        for (auto it = block.begin(); !it.atEnd(); ++it)
            isRed |= it.fragment().charFormat().foreground().color() == QColor(Qt::red);
        lines << (isRed ? red(block.text()) : block.text());
    }
    return lines;
}

QStringList TestHost::file()
{
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<install.log could not be read>")};
    return QTextCodec::codecForName("Windows-1251")
        ->toUnicode(file.readAll())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestHost::answerNextBox(QMessageBox::StandardButton button)
{
    lastAnsweredBox.clear();
    QTimer::singleShot(0, [button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        lastAnsweredBox =
            QStringLiteral("%1|%2|%3").arg(box->icon()).arg(box->windowTitle(), box->text());
        if (button == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(button)->click();
    });
}

QString TestHost::answeredBox()
{
    return lastAnsweredBox;
}

QStringList plain(QStringList lines)
{
    return lines.replaceInStrings(QRegularExpression(QStringLiteral("^\\[red\\] ")), QString());
}

QStringList TestHost::registry(const QString& path, REGSAM view, bool withKeys)
{
    QStringList lines;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return lines;
    collect(key, QString(), view, withKeys, &lines);
    RegCloseKey(key);
    lines.sort();
    return lines;
}

bool TestHost::writeText(const QString& path, const QString& name, const QString& text, REGSAM view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExW(key, wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.utf16()),
                       DWORD(text.size() + 1) * 2);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

QString TestHost::textLine(const QString& valuePath, const QString& text)
{
    // UTF-16 code units and the terminating NUL, as REG_SZ keeps them.
    return line(valuePath, REG_SZ,
                QByteArray(reinterpret_cast<const char*>(text.utf16()), (text.size() + 1) * 2));
}

QString TestHost::bytesLine(const QString& valuePath, const char* hex)
{
    return line(valuePath, REG_BINARY, QByteArray::fromHex(hex));
}
