#include "testappfolder.h"

#include <cntdbtool/demodata.h>
#include <core/contacts/contactdatabase.h>
#include <core/files/apppath.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

TestAppFolder::TestAppFolder()
{
    if (m_dir.isValid()) {
        QDir(m_dir.path()).mkdir(QStringLiteral("Program Data"));
        files::setAppPathForTesting(m_dir.path());
    }
}

TestAppFolder::~TestAppFolder()
{
    files::setAppPathForTesting(QString());
}

QString TestAppFolder::file(const QString &relativePath) const
{
    return m_dir.path() + QLatin1Char('/') + relativePath;
}

bool TestAppFolder::writeFile(const QString &relativePath, const QByteArray &bytes) const
{
    QFile f(file(relativePath));
    QDir().mkpath(QFileInfo(f).absolutePath());
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray TestAppFolder::readFile(const QString &relativePath) const
{
    QFile f(file(relativePath));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TestAppFolder::createDatabase(const QList<ContactValues> &contacts) const
{
    Result<void> made = cntdb::createDatabase(databasePath());
    if (made && !contacts.isEmpty())
        made = cntdb::insertContacts(databasePath(), contacts);
    if (!made)
        qWarning("%s", qPrintable(made.error()));
    return made.ok();
}

bool TestAppFolder::createDemoDatabase(int count, quint32 seed) const
{
    return createDatabase(cntdb::demoContacts(count, seed));
}

void TestAppFolder::openToEveryone() const
{
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0777);
    ::chmod(QFile::encodeName(dataDir()).constData(), 0777);
}

ContactValues makeContact(const QString &id, const QString &lastName, const QString &firstName)
{
    ContactValues values;
    values[fieldIndex(ContactField::ContactId)] = id;
    values[fieldIndex(ContactField::LastName)] = lastName;
    values[fieldIndex(ContactField::FirstName)] = firstName;
    return values;
}
