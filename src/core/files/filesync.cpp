#include <core/files/filesync.h>

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace files {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

Result<void> syncPath(const QString &path, int openFlags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), openFlags | O_CLOEXEC);
    if (fd < 0)
        return Failure{
            QStringLiteral("%1 could not be opened to sync it: %2").arg(path, systemReason())};
    const bool synced = ::fsync(fd) == 0;
    const QString reason = synced ? QString() : systemReason();
    ::close(fd);
    if (!synced)
        return Failure{QStringLiteral("%1 could not be synced: %2").arg(path, reason)};
    return {};
}

} // namespace

Result<void> syncFile(const QString &path)
{
    return syncPath(path, O_RDWR);
}

Result<void> syncFolder(const QString &path)
{
    return syncPath(path, O_RDONLY | O_DIRECTORY);
}

} // namespace files
