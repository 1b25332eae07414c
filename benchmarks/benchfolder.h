#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary application folder for one benchmark: the files of the built application
// folder (executable, report definitions, Program Data) with the benchmark's database as
// cntdb.mdb and the sort order by last name.
class BenchFolder
{
public:
    explicit BenchFolder(const QString &databasePath);
    BenchFolder(const BenchFolder &) = delete;
    BenchFolder &operator=(const BenchFolder &) = delete;

    // False when a file could not be copied; error() says which.
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString path() const { return m_dir.path(); }
    QString file(const QString &relativePath) const { return m_dir.filePath(relativePath); }
    QString databasePath() const { return file(QStringLiteral("cntdb.mdb")); }
    QString executable() const { return file(QStringLiteral("pelmora")); }

private:
    bool copy(const QString &from, const QString &to);

    QTemporaryDir m_dir;
    QString m_error;
};
