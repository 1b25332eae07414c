#include <core/files/apppath.h>

#include <QCoreApplication>
#include <QDir>

namespace platform {

namespace {
QString &overriddenAppPath()
{
    static QString path;
    return path;
}
} // namespace

QString appPath()
{
    if (!overriddenAppPath().isEmpty())
        return overriddenAppPath();
    static const QString path = QDir::cleanPath(QCoreApplication::applicationDirPath());
    return path;
}

QString dataDir()
{
    return appFile(QStringLiteral("Program Data"));
}

QString appFile(const QString &relativePath)
{
    return appPath() + QLatin1Char('/') + relativePath;
}

void setAppPathForTesting(const QString &path)
{
    overriddenAppPath() = path.isEmpty() ? QString() : QDir::cleanPath(path);
}

} // namespace platform
