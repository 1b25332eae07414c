// The gateway to contactsdb as the sync and the merge use it over a connection they hold:
// rows by rowid, writes that leave the other fields alone, and no read left open.
#include <support/dbquery.h>
#include <support/testappfolder.h>

#include <core/contacts/contacttable.h>

#include <QDir>
#include <QFileInfo>
#include <QTest>

using contacts::ContactTable;

class TestContactTable : public QObject
{
    Q_OBJECT

private slots:
    void openFailures_data();
    void openFailures();
    void operations_data();
    void operations();
};

void TestContactTable::openFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing: never created") << "missing"
                                            << "The file was not found.";
    QTest::newRow("a folder") << "folder"
                              << "The path is a folder, not a database file.";
    QTest::newRow("no table") << "no table"
                              << "The database has no table \"contactsdb\".";
}

void TestContactTable::openFailures()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    TestAppFolder folder;
    if (fault == "folder")
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("cntdb.mdb")));
    if (fault == "no table") {
        sqlite::Connection other;
        QVERIFY(other.open(folder.databasePath(), sqlite::Connection::Mode::ReadWriteCreate));
        QVERIFY(other.exec(QStringLiteral("create table other (x)")));
    }
    sqlite::Connection db;
    const Result<void> opened
        = ContactTable::open(db, folder.databasePath(), ContactTable::Access::ReadWrite, 0);
    QVERIFY(!opened);
    QCOMPARE(opened.failure().kind, Failure::Kind::Database);
    QCOMPARE(opened.error(), fileProblem(QStringLiteral("The contact database could not be used."),
                                         folder.databasePath(), reason));
    QCOMPARE(QFileInfo::exists(folder.databasePath()), fault != "missing");
}

void TestContactTable::operations_data()
{
    // On rowids 1, 2, 3 holding ids 1, 7 and A1. The answer, then every row as
    // "rowid:contactid:lastname:Notes".
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("after");
    const QStringList unchanged{"1:1:Lee:", "2:7:Kim:", "3:A1:lee:"};
    QTest::newRow("walk in rowid order") << "walk"
                                         << "1:1 2:7 3:A1" << unchanged;
    QTest::newRow("walk where, case ignored") << "walk LEE"
                                              << "1:1 3:A1" << unchanged;
    QTest::newRow("read a row") << "read 2"
                                << "7 Kim" << unchanged;
    QTest::newRow("read a missing row") << "read 9"
                                        << "none" << unchanged;
    QTest::newRow("insert, a new id by the rule")
        << "insert"
        << "4:8" << (unchanged + QStringList{"4:8:New:n"});
    QTest::newRow("insert keeping a free id") << "insert 3"
                                              << "4:3" << (unchanged + QStringList{"4:3:New:n"});
    QTest::newRow("update all but the id")
        << "update 2"
        << "true" << QStringList{"1:1:Lee:", "2:7:New:n", "3:A1:lee:"};
    QTest::newRow("update a missing row") << "update 9"
                                          << "false" << unchanged;
    QTest::newRow("remove") << "remove 3"
                            << "true" << unchanged.mid(0, 2);
    QTest::newRow("remove a missing row") << "remove 9"
                                          << "false" << unchanged;
}

void TestContactTable::operations()
{
    QFETCH(QString, operation);
    QFETCH(QString, answer);
    QFETCH(QStringList, after);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Lee", "Ann"), makeContact("7", "Kim", "Bo"),
                                   makeContact("A1", "lee", "Cy")}));
    sqlite::Connection db;
    QVERIFY(ContactTable::open(db, folder.databasePath(), ContactTable::Access::ReadWrite, 0));
    ContactTable table(db);
    const QString verb = operation.section(QLatin1Char(' '), 0, 0);
    const QString argument = operation.section(QLatin1Char(' '), 1);
    ContactValues values = makeContact(argument, "New", "");
    values[fieldIndex(ContactField::Notes)] = QStringLiteral("n");

    QStringList answered;
    const auto note = [&answered](const contacts::StoredContact &contact) {
        answered << QStringLiteral("%1:%2").arg(contact.rowid).arg(contact.values[0]);
    };
    if (verb == "walk") {
        QVERIFY(argument.isEmpty() ? table.forEachRow(note)
                                   : table.forEachRowWhere(ContactField::LastName, argument, note));
    } else if (verb == "read") {
        const Result<std::optional<ContactValues>> row = table.row(argument.toLongLong());
        QVERIFY(row);
        answered << (*row ? (**row)[0] + " " + (**row)[1] : QStringLiteral("none"));
    } else if (verb == "insert") {
        Result<contacts::ContactIds> ids = table.readIds();
        QVERIFY(ids);
        contacts::ContactIds taken = std::move(ids).value();
        const Result<ContactTable::Inserted> inserted = table.insertWithId(values, taken);
        QVERIFY(inserted);
        answered << QStringLiteral("%1:%2").arg(inserted->rowid).arg(inserted->id);
    } else if (verb == "update" || verb == "remove") {
        const Result<bool> done = verb == "update" ? table.update(argument.toLongLong(), values,
                                                                  ContactTable::fieldsButId())
                                                   : table.remove(argument.toLongLong());
        QVERIFY(done);
        answered << (*done ? "true" : "false");
    }
    QCOMPARE(answered.join(QLatin1Char(' ')), answer);
    QCOMPARE(queryColumn(folder.databasePath(), "select rowid || ':' || contactid || ':' || "
                                                "lastname || ':' || Notes from contactsdb"),
             after);
    // Nothing of the call holds a lock: another program writes at once.
    QVERIFY(execOn(folder.databasePath(), "BEGIN EXCLUSIVE; COMMIT"));
}

QTEST_GUILESS_MAIN(TestContactTable)
#include "tst_contacttable.moc"
