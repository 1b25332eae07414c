#pragma once

#include <QFile>
#include <QString>

#include <sys/stat.h>

// A file's permission bits in octal, as ls and chmod write them ("600").
inline QString fileMode(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("<missing>");
    return QString::number(info.st_mode & 07777, 8);
}
