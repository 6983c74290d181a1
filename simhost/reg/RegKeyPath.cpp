#include "RegKeyPath.h"

#include <QStringList>

#include "RegistryRoot.h"

bool RegKeyPath::parse(const QString& text)
{
    const int separator = text.indexOf(QLatin1Char('\\'));
    const QString rootText = separator < 0 ? text : text.left(separator);
    QString rest = separator < 0 ? QString() : text.mid(separator + 1);
    // reg.exe accepts one trailing backslash after the path.
    while (rest.endsWith(QLatin1Char('\\')))
        rest.chop(1);
    if (rest.startsWith(QLatin1Char('\\')))
        return false;
    m_root = RegistryRoot::find(rootText, Qt::CaseInsensitive, &m_rootName);
    if (!m_root)
        return false;
    m_subKey = rest;
    return true;
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
