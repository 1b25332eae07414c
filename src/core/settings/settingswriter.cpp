#include <core/settings/settingswriter.h>

#include <core/files/filesync.h>
#include <core/settings/settingsfiles.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace settings {

namespace {

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

QString sortTypeWord(SortType type)
{
    switch (type) {
    case SortType::LastName:
        return QStringLiteral("lastname");
    case SortType::FirstName:
        return QStringLiteral("firstname");
    case SortType::ContactId:
        return QStringLiteral("contactid");
    }
    return QStringLiteral("lastname");
}

Result<void> writeSortType(const QString &path, SortType type)
{
    const QByteArray content = "[" + settingsSection.toUtf8() + "]\r\n" + sortTypeKey.toUtf8() + "="
                               + sortTypeWord(type).toUtf8() + "\r\n";

    if (QFileInfo(path).isDir())
        return Failure{failure(path, QStringLiteral("the path is a folder, not a file"))};

    // Never falls back to writing the file in place: a failure must leave the old file whole.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // Unbuffered, so a short write (a full disk, a file-size limit) is seen here with its
    // reason instead of as an unexplained failure of the final flush.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failure{failure(path, file.errorString())};

    qint64 written = 0;
    while (written < content.size()) {
        const qint64 n = file.write(content.constData() + written, content.size() - written);
        if (n <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return Failure{failure(path, reason)};
        }
        written += n;
    }

    // QSaveFile syncs before renaming but ignores the result; a delayed write error (a full
    // disk seen only at the flush) must stop the rename.
    if (::fsync(file.handle()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return Failure{failure(path, reason)};
    }

    if (!file.commit())
        return Failure{failure(path, file.errorString())};
    // Makes the rename itself durable. A failure here cannot be acted upon (the file already
    // holds the new content for this and every later run unless the machine loses power at
    // this very moment), so it is not reported.
    (void)files::syncFolder(QFileInfo(path).absolutePath());
    return {};
}

} // namespace settings
