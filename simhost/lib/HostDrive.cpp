#include "HostDrive.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <filesystem>
#include <system_error>

namespace {

// elements below root, with "." and ".." resolved; false when ".." climbs
// above it.
bool resolveElements(const QString& relative, QStringList* elements)
{
    const QStringList parts =
        QString(relative).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (elements->isEmpty())
                return false;
            elements->removeLast();
            continue;
        }
        elements->append(part);
    }
    return true;
}

// What follows root + "/" in path, or nothing when path is not below root.
bool below(const QString& path, const QString& root, QString* relative)
{
    if (root.isEmpty())
        return false;
    if (path == root) {
        relative->clear();
        return true;
    }
    if (!path.startsWith(root + QLatin1Char('/')))
        return false;
    *relative = path.mid(root.size() + 1);
    return true;
}

std::filesystem::path weaklyCanonical(const QString& path, bool* ok)
{
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(
        std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    *ok = !error;
    return resolved;
}

} // namespace

HostDrive::HostDrive(const QString& folder, const QString& origin)
    : m_folder(folder), m_root(folder + QStringLiteral("/drive_c")),
      m_originRoot(origin.isEmpty() || origin == folder ? QString()
                                                        : origin + QStringLiteral("/drive_c"))
{
}

QString HostDrive::hostPath(const QString& path) const
{
    QString relative;
    if (path.size() >= 2 && path[1] == QLatin1Char(':')) {
        // Only C: exists, and only an absolute path names a place on it.
        if (path[0].toUpper() != QLatin1Char('C') || path.size() < 3 ||
            (path[2] != QLatin1Char('\\') && path[2] != QLatin1Char('/')))
            return QString();
        relative = path.mid(3);
    } else if (!path.startsWith(QLatin1Char('/'))) {
        return QString();
    } else {
        // By name first, so that "drive_c/../.." cannot pass for the drive.
        const QString clean = QDir::cleanPath(path);
        if (!below(clean, m_root, &relative) && !below(clean, m_originRoot, &relative))
            return QString();
    }
    QStringList elements;
    if (!resolveElements(relative, &elements))
        return QString();
    return elements.isEmpty() ? m_root
                              : m_root + QLatin1Char('/') + elements.join(QLatin1Char('/'));
}

QString HostDrive::windowsPath(const QString& path) const
{
    const QString found = hostPath(path);
    if (found.isEmpty())
        return QString();
    return QStringLiteral("C:\\") +
           found.mid(m_root.size() + 1).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

bool HostDrive::staysOnDrive(const QString& hostPath) const
{
    bool pathOk = false, rootOk = false;
    const std::filesystem::path resolved = weaklyCanonical(hostPath, &pathOk);
    // The host folder may lie behind a link; drive_c itself may not.
    const std::filesystem::path root = weaklyCanonical(m_folder, &rootOk) / "drive_c";
    if (!pathOk || !rootOk)
        return false;
    // Element by element, so that drive_c2 is not taken for drive_c.
    const std::filesystem::path relative = resolved.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}
