#pragma once

#include <QString>

// The host's drive C:, the folder drive_c below the host folder. Every path
// the host gives its programs or acts on for them is translated here, and
// none may lead out of the drive: not by another drive letter, not by "..",
// not by a symbolic link.
class HostDrive
{
public:
    // origin: the folder the host was made in, when it has been moved or
    // copied since; paths the host recorded below it answer below folder.
    HostDrive(const QString& folder, const QString& origin);

    // folder/drive_c
    QString root() const { return m_root; }

    // The path on this machine that path names on the drive: a Windows path
    // ("C:\dir\file", either separator, the letter in either case) or an
    // absolute path below the drive (or below it where the host was made).
    // "." and ".." are resolved by name. Empty when path names no place on
    // the drive: another drive, a relative path, ".." above the drive root,
    // or a folder outside.
    QString hostPath(const QString& path) const;
    // "C:\dir\file" for what hostPath finds; empty when it finds nothing.
    QString windowsPath(const QString& path) const;
    // Whether a path that hostPath gave still lies on the drive with every
    // symbolic link on its way followed.
    bool staysOnDrive(const QString& hostPath) const;

private:
    QString m_folder;
    QString m_root;
    QString m_originRoot;
};
