#include <core/sync/passwordfile.h>

#include <QFile>

namespace carddav {

bool onlyOwnerCanRead(QFileDevice::Permissions permissions)
{
    return !(permissions
             & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup
                | QFileDevice::WriteOther));
}

Result<QString> readPasswordFile(const QString &path)
{
    const QString what = QStringLiteral("The password file cannot be used.");
    QFile file(path);
    if (!file.exists())
        return Failure{fileProblem(what, path, QStringLiteral("The file was not found."))};
    if (!onlyOwnerCanRead(file.permissions()))
        return Failure{fileProblem(what, path,
                                   QStringLiteral("Others than its owner may read or change it; "
                                                  "make it private (chmod 600)."))};
    if (!file.open(QIODevice::ReadOnly))
        return Failure{fileProblem(what, path, file.errorString())};
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return Failure{fileProblem(what, path, QStringLiteral("Its first line is empty."))};
    return QString::fromUtf8(line);
}

} // namespace carddav
