// Faults around the contact store that need another user, a full disk or a second program:
// the store must say what went wrong, keep what was typed and leave the file sound.
#include "integrity.h"

#include <support/commands.h>
#include <support/dbquery.h>

#include <core/contacts/contactstore.h>
#include <core/contacts/recordsource.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/childprocess.h>
#include <support/testappfolder.h>

#include <QLineEdit>
#include <QTest>

#include <sys/stat.h>

namespace {

struct OpenStore
{
    ContactStore store;
};

std::unique_ptr<OpenStore> openStore(const QString &path)
{
    auto open = std::make_unique<OpenStore>();
    open->store.setBusyTimeout(200);
    open->store.setDatabaseName(path);
    open->store.setRecordSource(recordSourceForSortType(QStringLiteral("contactid")));
    if (Result<void> opened = open->store.open(); !opened) {
        qWarning("open failed: %s", qPrintable(opened.error()));
        return nullptr;
    }
    return open;
}

void type(OpenStore &open, ContactField field, const QString &text)
{
    open.store.setFieldText(field, text);
}

bool chmodPath(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QList<ContactValues> threeContacts()
{
    return {makeContact("1", "Adams", "Ann"), makeContact("2", "Baker", "Bob"),
            makeContact("3", "Carter", "Cy")};
}

} // namespace

class TestStoreFaults : public QObject
{
    Q_OBJECT

private slots:
    void readOnlyFolder();
    void diskFullDuringCommit_data();
    void diskFullDuringCommit();
    void windowSaysWhichFileAndWhy_data();
    void windowSaysWhichFileAndWhy();
    void secondInstanceOpensAndReads();
    void secondInstanceCommitWhileFirstWrites();
    void editsOfDifferentFieldsBothSurvive();
    void twoWindowsOnOneFolder();
};

void TestStoreFaults::readOnlyFolder()
{
    if (!canDropPrivileges())
        QSKIP("needs root and setpriv to drop privileges");
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    // The file itself may be written by anyone; the folder, where SQLite must put its
    // journal beside the file, only by its owner (root).
    QVERIFY(chmodPath(folder.path(), 0755));
    QVERIFY(chmodPath(folder.databasePath(), 0666));
    const QByteArray before = fileBytes(folder.databasePath());
    const ChildResult child = runAsNobody(QStringLiteral(STORECHILD_PATH),
                                          {folder.databasePath(), QStringLiteral("typed")});
    QVERIFY2(child.started, "storechild did not start");
    QCOMPARE(child.exitCode, 0); // it opened and read the records
    QVERIFY2(child.output.startsWith("failed: "), child.output.constData());
    // The reason names the folder, not just "read-only database".
    QVERIFY2(child.output.contains("folder"), child.output.constData());
    QCOMPARE(fileBytes(folder.databasePath()), before);
    QVERIFY(QDir(folder.path()).entryList({QStringLiteral("cntdb.mdb-*")}, QDir::Files).isEmpty());
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
}

void TestStoreFaults::diskFullDuringCommit_data()
{
    QTest::addColumn<bool>("retrySmall");
    QTest::newRow("the failed commit leaves the file as it was") << false;
    QTest::newRow("a smaller commit afterwards is stored") << true;
}

void TestStoreFaults::diskFullDuringCommit()
{
    QFETCH(bool, retrySmall);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    const QByteArray before = fileBytes(folder.databasePath());
    // Room for the file as it is and a little more, far less than the 1 MB note.
    QStringList arguments{QStringLiteral("disk-full"), folder.databasePath(),
                          QString::number(before.size() + 64 * 1024)};
    if (retrySmall)
        arguments << QStringLiteral("retry-small");
    const ChildResult child = runChild(QStringLiteral(FAULTCHILD_PATH), arguments);
    QVERIFY2(child.started, "faultchild did not start");
    QVERIFY2(child.exitCode == 0, child.errors.constData());
    const QList<QByteArray> lines = child.output.trimmed().split('\n');
    QCOMPARE(lines.size(), retrySmall ? 2 : 1);
    // SQLite calls it a disk I/O error; the reason is the system's.
    QVERIFY2(lines[0].startsWith("failed: ") && lines[0].contains("File too large"),
             lines[0].constData());
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
    if (!retrySmall) {
        QVERIFY(fileBytes(folder.databasePath()) == before);
        return;
    }
    QCOMPARE(lines[1], QByteArray("after: ok"));
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select Notes from contactsdb order by contactid")),
             (QStringList{"small", "", ""}));
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select lastname from contactsdb order by contactid")),
             (QStringList{"Adams", "Baker", "Carter"}));
}

void TestStoreFaults::windowSaysWhichFileAndWhy_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only folder") << "read-only folder"
                                      << "does not allow changes";
    QTest::newRow("disk full") << "disk full"
                               << "File too large";
}

// The same faults seen by the user: the main window's message names the database file and
// the reason, and what was typed stays in the field.
void TestStoreFaults::windowSaysWhichFileAndWhy()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    const bool asNobody = fault == "read-only folder";
    if (asNobody && !canDropPrivileges())
        QSKIP("needs root and setpriv to drop privileges");
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    const QByteArray settings("[settings]\r\nsorttype=contactid\r\n");
    QVERIFY(folder.writeFile(QStringLiteral("Program Data/settings.ini"), settings));
    const QByteArray before = fileBytes(folder.databasePath());
    QStringList arguments{QStringLiteral("window-edit"), folder.path()};
    ChildResult child;
    if (asNobody) {
        folder.openToEveryone();
        QVERIFY(chmodPath(folder.path(), 0755));
        QVERIFY(chmodPath(folder.databasePath(), 0666));
        arguments << QStringLiteral("10");
        child = runAsNobody(QStringLiteral(FAULTCHILD_PATH), arguments);
    } else {
        arguments << QString::number(1024 * 1024) << QString::number(before.size() + 64 * 1024);
        child = runChild(QStringLiteral(FAULTCHILD_PATH), arguments);
    }
    QVERIFY2(child.started, "faultchild did not start");
    QVERIFY2(child.exitCode == 0, child.output.constData());
    const QList<QByteArray> lines = child.output.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QByteArray("kept: yes"));
    const QString box = QString::fromLocal8Bit(lines[1]);
    QVERIFY2(box.startsWith(QLatin1String("box: ")), qPrintable(box));
    QVERIFY2(box.contains(folder.databasePath()), qPrintable(box));
    QVERIFY2(box.contains(reason), qPrintable(box));
    QVERIFY(fileBytes(folder.databasePath()) == before);
    QCOMPARE(folder.readFile(QStringLiteral("Program Data/settings.ini")), settings);
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
}

void TestStoreFaults::secondInstanceOpensAndReads()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    auto first = openStore(folder.databasePath());
    QVERIFY(first);
    type(*first, ContactField::City, QStringLiteral("Lyon"));
    QVERIFY(first->store.moveNext());

    auto second = openStore(folder.databasePath());
    QVERIFY(second);
    QCOMPARE(second->store.recordCount(), 3);
    QCOMPARE(second->store.fieldText(ContactField::City), QStringLiteral("Lyon"));

    // A contact added by the second is seen by the first when it reads again.
    QVERIFY(second->store.addNew());
    type(*second, ContactField::ContactId, QStringLiteral("4"));
    type(*second, ContactField::LastName, QStringLiteral("Dunn"));
    QVERIFY(second->store.commit());
    QVERIFY(first->store.refresh());
    QCOMPARE(first->store.recordCount(), 4);
    QCOMPARE(first->store.value(3, ContactField::LastName), QStringLiteral("Dunn"));
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
}

void TestStoreFaults::secondInstanceCommitWhileFirstWrites()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    auto first = openStore(folder.databasePath());
    auto second = openStore(folder.databasePath());
    QVERIFY(first && second);
    // The first holds the write lock, as it does in the middle of a commit.
    QVERIFY(first->store.isOpen());
    sqlite::Connection firstWriter;
    QVERIFY(firstWriter.open(folder.databasePath(), sqlite::Connection::Mode::ReadWrite));
    QVERIFY(firstWriter.exec(QStringLiteral("BEGIN IMMEDIATE")));
    type(*second, ContactField::Fax, QStringLiteral("555"));
    const Result<void> refused = second->store.commit();
    QVERIFY(!refused);
    QVERIFY2(refused.error().contains(QLatin1String("locked")), qPrintable(refused.error()));
    QCOMPARE(second->store.fieldText(ContactField::Fax), QStringLiteral("555"));
    // Once the lock is gone the same commit goes through.
    QVERIFY(firstWriter.exec(QStringLiteral("COMMIT")));
    const Result<void> committed = second->store.commit();
    QVERIFY2(committed, qPrintable(committed.error()));
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select Fax from contactsdb where contactid = 1")),
             QStringList{"555"});
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
}

void TestStoreFaults::editsOfDifferentFieldsBothSurvive()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    auto first = openStore(folder.databasePath());
    auto second = openStore(folder.databasePath());
    QVERIFY(first && second);
    QVERIFY(first->store.moveTo(1) && second->store.moveTo(1));
    type(*first, ContactField::HomePhone, QStringLiteral("111"));
    type(*second, ContactField::WorkPhone, QStringLiteral("222"));
    type(*first, ContactField::Email1, QStringLiteral("bob@example.org"));
    QVERIFY(first->store.moveNext());
    QVERIFY(second->store.moveNext());
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select \"Home Phone\" || '/' || \"Work Phone\" || '/' || "
                                        "\"Email Address 1\" || '/' || lastname from contactsdb "
                                        "where contactid = 2")),
             QStringList{"111/222/bob@example.org/Baker"});
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
}

void TestStoreFaults::twoWindowsOnOneFolder()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(threeContacts()));
    platform::ScriptedMessageBoxes boxes;
    MainWindow first;
    MainWindow second;
    QVERIFY(first.load());
    QVERIFY(second.load());
    first.show();
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    auto *firstMiddle = qobject_cast<QLineEdit *>(first.fieldWidget(ContactField::Middle));
    auto *secondCountry = qobject_cast<QLineEdit *>(second.fieldWidget(ContactField::Country));
    QTest::keyClicks(firstMiddle, "M.");
    QTest::keyClicks(secondCountry, "France");
    runCommand(first, QStringLiteral("Next"));
    QVERIFY(second.close());
    QVERIFY(first.close());
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(queryColumn(folder.databasePath(),
                         QStringLiteral("select lastname || '/' || Middle || '/' || Country "
                                        "from contactsdb order by contactid")),
             (QStringList{"Adams/M./France", "Baker//", "Carter//"}));
    QCOMPARE(integrity(folder.databasePath()), QStringLiteral("ok"));
}

QTEST_MAIN(TestStoreFaults)
#include "tst_storefaults.moc"
