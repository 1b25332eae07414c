// Contacts added to an existing address book in one transaction, ids by the program's rule.
#include <support/dbquery.h>
#include <support/testappfolder.h>

#include <core/interchange/contactimport.h>

#include <QTest>

namespace {

ImportedContact imported(const QString &id, const QString &last, const QStringList &extras = {})
{
    ImportedContact contact;
    contact.values = makeContact(id, last, QString());
    contact.extras = extras;
    return contact;
}

} // namespace

class TestContactImport : public QObject
{
    Q_OBJECT

private slots:
    void idsByTheProgramsRule_data();
    void idsByTheProgramsRule();
    void nothingWrittenOnDryRunOrFailure_data();
    void nothingWrittenOnDryRunOrFailure();
    void extrasToNotes();
};

void TestContactImport::idsByTheProgramsRule_data()
{
    QTest::addColumn<QStringList>("stored");   // ids already in the table
    QTest::addColumn<QStringList>("incoming"); // ids the imported contacts bring ("" for none)
    QTest::addColumn<QStringList>("expected"); // every id afterwards, in table order
    QTest::addColumn<QStringList>("renumbered");
    QTest::newRow("none brought: after the largest")
        << QStringList{"1", "7"} << QStringList{"", ""} << QStringList{"1", "7", "8", "9"}
        << QStringList{};
    QTest::newRow("count beats a small largest id")
        << QStringList{"1", "1", "1"} << QStringList{""} << QStringList{"1", "1", "1", "4"}
        << QStringList{};
    QTest::newRow("free ids kept, taken ones renumbered")
        << QStringList{"1", "2"} << QStringList{"5", "2", ""}
        << QStringList{"1", "2", "5", "6", "7"} << QStringList{"2->6"};
    QTest::newRow("an id brought twice")
        << QStringList{} << QStringList{"3", "3"} << QStringList{"3", "4"} << QStringList{"3->4"};
    // An id is kept only when it is a whole number from 1 to 2^31 - 1 that no contact has.
    QTest::newRow("text is no id") << QStringList{"A1"} << QStringList{"A1", "B2"}
                                   << QStringList{"A1", "2", "3"} << QStringList{"A1->2", "B2->3"};
    QTest::newRow("0 and -5 are no ids")
        << QStringList{"1"} << QStringList{"0", "-5"} << QStringList{"1", "2", "3"}
        << QStringList{"0->2", "-5->3"};
    QTest::newRow("2^31 - 1 kept, then the lowest free")
        << QStringList{"1", "2"} << QStringList{"2147483647", ""}
        << QStringList{"1", "2", "2147483647", "3"} << QStringList{};
    QTest::newRow("2^31 and 2^63 - 1 are no ids, and never wrap")
        << QStringList{"1"} << QStringList{"2147483648", "9223372036854775807", ""}
        << QStringList{"1", "2", "3", "4"}
        << QStringList{"2147483648->2", "9223372036854775807->3"};
    QTest::newRow("a database at 2^31 - 1: the lowest free, around brought ids")
        << QStringList{"2147483647", "1", "3"} << QStringList{"5", "", "", "2"}
        << QStringList{"2147483647", "1", "3", "5", "2", "4", "6"} << QStringList{"2->6"};
    QTest::newRow("zero, negative and huge ids stored: counted, never given")
        << QStringList{"0", "-5", "9223372036854775807"} << QStringList{"", "1"}
        << QStringList{"0", "-5", "9223372036854775807", "1", "2"} << QStringList{"1->2"};
}

void TestContactImport::idsByTheProgramsRule()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, incoming);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, renumbered);
    TestAppFolder folder;
    QList<ContactValues> rows;
    for (const QString &id : stored)
        rows << makeContact(id, QStringLiteral("Old"), QString());
    QVERIFY(folder.createDatabase(rows));
    QList<ImportedContact> contacts;
    for (const QString &id : incoming)
        contacts << imported(id, QStringLiteral("New"));
    const Result<interchange::ImportSummary> summary
        = interchange::importContacts(folder.databasePath(), contacts, {});
    QVERIFY2(summary, qPrintable(summary.error()));
    QCOMPARE(summary->imported, incoming.size());
    QStringList changed;
    for (const auto &[from, to] : summary->renumbered)
        changed << from + QStringLiteral("->") + to;
    QCOMPARE(changed, renumbered);
    QCOMPARE(queryColumn(folder.databasePath(), "select contactid from contactsdb order by rowid"),
             expected);
}

void TestContactImport::nothingWrittenOnDryRunOrFailure_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("dry run") << "dry run" << true;
    QTest::newRow("locked by another program") << "lock" << false;
    QTest::newRow("no such table") << "no table" << false;
    QTest::newRow("no database: never created") << "missing" << false;
}

void TestContactImport::nothingWrittenOnDryRunOrFailure()
{
    QFETCH(QString, fault);
    QFETCH(bool, succeeds);
    TestAppFolder folder;
    if (fault != "missing")
        QVERIFY(folder.createDatabase({makeContact("1", "Old", "")}));
    if (fault == "no table")
        QVERIFY(execOn(folder.databasePath(), "drop table contactsdb"));
    const QByteArray before = fileBytes(folder.databasePath());
    sqlite::Connection other;
    if (fault == "lock") {
        QVERIFY(other.open(folder.databasePath(), sqlite::Connection::Mode::ReadWrite));
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }
    interchange::ImportOptions options;
    options.dryRun = fault == "dry run";
    options.busyTimeoutMs = 100;
    const Result<interchange::ImportSummary> summary = interchange::importContacts(
        folder.databasePath(), {imported("", "A"), imported("", "B")}, options);
    QCOMPARE(summary.ok(), succeeds);
    if (!succeeds)
        QVERIFY2(summary.error().contains(folder.databasePath()), qPrintable(summary.error()));
    other.close();
    QCOMPARE(fileBytes(folder.databasePath()), before);
}

void TestContactImport::extrasToNotes()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({}));
    ImportedContact withNotes = imported("", "Lee", {"Birthday: 1990-01-02", "Title: Dr"});
    withNotes.values[fieldIndex(ContactField::Notes)] = QStringLiteral("Met in Oslo");
    interchange::ImportOptions options;
    options.extrasToNotes = true;
    QVERIFY(interchange::importContacts(folder.databasePath(),
                                        {withNotes, imported("", "Kim", {"Org: ACME"})}, options));
    QCOMPARE(queryColumn(folder.databasePath(), "select Notes from contactsdb order by rowid"),
             (QStringList{"Met in Oslo\r\n\r\nBirthday: 1990-01-02\r\nTitle: Dr", "Org: ACME"}));
}

QTEST_GUILESS_MAIN(TestContactImport)
#include "tst_contactimport.moc"
