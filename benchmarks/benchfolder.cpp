#include "benchfolder.h"

#include <QDir>
#include <QFile>

BenchFolder::BenchFolder(const QString &database)
    : m_dir(QDir::tempPath() + QStringLiteral("/pelmora-bench-XXXXXX"))
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder: ") + m_dir.errorString();
        return;
    }
    const QDir app(QStringLiteral(PELMORA_APP_DIR));
    for (const QString &name : app.entryList(QDir::Files)) {
        if (name != QLatin1String("cntdb.mdb") && !copy(app.filePath(name), file(name)))
            return;
    }
    if (!QDir(m_dir.path()).mkdir(QStringLiteral("Program Data"))) {
        m_error = QStringLiteral("cannot create Program Data in ") + m_dir.path();
        return;
    }
    const QDir data(app.filePath(QStringLiteral("Program Data")));
    for (const QString &name : data.entryList(QDir::Files)) {
        if (!copy(data.filePath(name), file(QStringLiteral("Program Data/") + name)))
            return;
    }
    // The order every figure is measured in, whatever the build's folder holds.
    QFile settings(file(QStringLiteral("Program Data/settings.ini")));
    if (!settings.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || settings.write("[settings]\r\nsorttype=lastname\r\n") < 0) {
        m_error = settings.fileName() + QStringLiteral(": ") + settings.errorString();
        return;
    }
    copy(database, databasePath());
}

bool BenchFolder::copy(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.copy(to)) {
        m_error = QStringLiteral("cannot copy %1 to %2: %3").arg(from, to, source.errorString());
        return false;
    }
    QFile::setPermissions(to, source.permissions() | QFileDevice::WriteOwner);
    return true;
}
