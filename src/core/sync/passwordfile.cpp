#include <core/sync/passwordfile.h>

#include <QFile>

#include <sys/stat.h>

namespace carddav {

Result<QString> readPasswordFile(const QString &path)
{
    const QString what = QStringLiteral("The password file cannot be used.");
    QFile file(path);
    if (!file.exists())
        return Failure{fileProblem(what, path, QStringLiteral("The file was not found."))};
    if (!file.open(QIODevice::ReadOnly))
        return Failure{fileProblem(what, path, file.errorString())};
    // Checked on the file opened, not by its name: the name could be pointed at another
    // file between a check and the open.
    struct stat status = {};
    if (::fstat(file.handle(), &status) != 0 || !S_ISREG(status.st_mode))
        return Failure{fileProblem(what, path, QStringLiteral("It is not a plain file."))};
    if (status.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH))
        return Failure{fileProblem(what, path,
                                   QStringLiteral("Others than its owner may read or change it; "
                                                  "make it private (chmod 600)."))};
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return Failure{fileProblem(what, path, QStringLiteral("Its first line is empty."))};
    return QString::fromUtf8(line);
}

} // namespace carddav
