#include "RegKeyPath.h"

#include <QStringList>

namespace {

struct RootName
{
    const char* shortName;
    const char* fullName;
    HKEY root;
};

} // namespace

bool RegKeyPath::parse(const QString& text)
{
    const RootName roots[] = {
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKU", "HKEY_USERS", HKEY_USERS},
    };
    const int separator = text.indexOf(QLatin1Char('\\'));
    const QString rootText = separator < 0 ? text : text.left(separator);
    QString rest = separator < 0 ? QString() : text.mid(separator + 1);
    // reg.exe accepts one trailing backslash after the path.
    while (rest.endsWith(QLatin1Char('\\')))
        rest.chop(1);
    if (rest.startsWith(QLatin1Char('\\')))
        return false;
    for (const RootName& candidate : roots) {
        if (rootText.compare(QLatin1String(candidate.shortName), Qt::CaseInsensitive) == 0 ||
            rootText.compare(QLatin1String(candidate.fullName), Qt::CaseInsensitive) == 0) {
            m_root = candidate.root;
            m_rootName = QLatin1String(candidate.fullName);
            m_subKey = rest;
            return true;
        }
    }
    return false;
}

QString RegKeyPath::fullName() const
{
    return m_subKey.isEmpty() ? m_rootName : m_rootName + QLatin1Char('\\') + m_subKey;
}

RegKeyPath RegKeyPath::child(const QString& name) const
{
    RegKeyPath path = *this;
    path.m_subKey = m_subKey.isEmpty() ? name : m_subKey + QLatin1Char('\\') + name;
    return path;
}
