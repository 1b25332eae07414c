#pragma once

#include <core/contacts/contactfields.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// A temporary application folder with an empty "Program Data" beside it; AppPath points
// at it for the fixture's lifetime.
class TestAppFolder
{
public:
    TestAppFolder();
    ~TestAppFolder();
    TestAppFolder(const TestAppFolder &) = delete;
    TestAppFolder &operator=(const TestAppFolder &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString dataDir() const { return file(QStringLiteral("Program Data")); }
    QString file(const QString &relativePath) const;
    QString databasePath() const { return file(QStringLiteral("cntdb.mdb")); }

    bool writeFile(const QString &relativePath, const QByteArray &bytes) const;
    QByteArray readFile(const QString &relativePath) const;

    // Creates cntdb.mdb with the table contactsdb and the given contacts.
    bool createDatabase(const QList<ContactValues> &contacts = {}) const;
    bool createDemoDatabase(int count, quint32 seed = 1) const;

    // Lets the unprivileged user of a dropped-privilege child reach the folder.
    void openToEveryone() const;

private:
    QTemporaryDir m_dir;
};

// A contact with the given id and names; the other fields empty.
ContactValues makeContact(const QString &id, const QString &lastName, const QString &firstName);
