#include <support/dbquery.h>

#include <core/contacts/contactstore.h>
#include <core/contacts/recordsource.h>
#include <support/childprocess.h>
#include <support/testappfolder.h>

#include <QScopeGuard>
#include <QTest>

#include <sys/stat.h>

namespace {

ContactValues contact(const QString &id, const QString &last, const QString &first)
{
    return makeContact(id, last, first);
}

QStringList lastNamesInStoreOrder(const ContactStore &store)
{
    QStringList names;
    for (int row = 0; row < store.recordCount(); ++row)
        names << store.value(row, ContactField::LastName);
    return names;
}

} // namespace

class TestContactStore : public QObject
{
    Q_OBJECT

private:
    // An open store over the folder's database, its fields kept in memory.
    struct OpenStore
    {
        ContactStore store;
    };
    std::unique_ptr<OpenStore> openStore(const TestAppFolder &folder,
                                         const QString &sortType = QStringLiteral("lastname"))
    {
        auto open = std::make_unique<OpenStore>();
        open->store.setBusyTimeout(200);
        open->store.setDatabaseName(folder.databasePath());
        open->store.setRecordSource(recordSourceForSortType(sortType));
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

private slots:
    void recordOrder_data();
    void recordOrder();
    void emptyTable();
    void movesToBothEnds();
    void commitWhenLeaving_data();
    void commitWhenLeaving();
    void unchangedValuesAreNotWritten();
    void pendingNewRecordInsertedWithAllFields();
    void valuesStoredExactly_data();
    void valuesStoredExactly();
    void editedNotesKeepLineBreakStyle();
    void onlyChangedFieldsAreWritten();
    void openFailures_data();
    void openFailures();
    void commitFailureKeepsTypedText_data();
    void commitFailureKeepsTypedText();
    void commitRefusedOnReadOnlyFile();
    void nextContactId_data();
    void nextContactId();
    void fieldsReadOnlyWithoutRecord();
    void namesInTheLocaleOrder_data();
    void namesInTheLocaleOrder();
};

void TestContactStore::recordOrder_data()
{
    QTest::addColumn<QString>("sortType");
    QTest::addColumn<QStringList>("expected");
    const QStringList byLast{"adams", "Baker", "Carter", "Dunn"};
    QTest::newRow("lastname") << "lastname" << byLast;
    QTest::newRow("firstname") << "firstname" << QStringList{"Dunn", "Carter", "adams", "Baker"};
    QTest::newRow("contactid, as numbers")
        << "contactid" << QStringList{"Carter", "Baker", "Dunn", "adams"};
    QTest::newRow("capitals fall back") << "LastName" << byLast;
    QTest::newRow("trailing blank falls back") << "lastname " << byLast;
    QTest::newRow("FIRSTNAME falls back") << "FIRSTNAME" << byLast;
    QTest::newRow("empty falls back") << "" << byLast;
}

void TestContactStore::recordOrder()
{
    QFETCH(QString, sortType);
    QFETCH(QStringList, expected);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("10", "Dunn", "Al"), contact("2", "Baker", "Zoe"),
                                   contact("1", "Carter", "Bo"), contact("100", "adams", "Xena")}));
    auto open = openStore(folder, sortType);
    QVERIFY(open);
    QCOMPARE(lastNamesInStoreOrder(open->store), expected);
    QCOMPARE(open->store.currentRow(), 0);
    QCOMPARE(open->store.fieldText(ContactField::LastName), expected.first());
}

void TestContactStore::emptyTable()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase());
    auto open = openStore(folder);
    QVERIFY(open);
    QCOMPARE(open->store.recordCount(), 0);
    QVERIFY(open->store.isBOF());
    QVERIFY(open->store.isEOF());
    QVERIFY(!open->store.hasCurrentRecord());
    QCOMPARE(open->store.nextContactId().valueOr(-1), 1);
}

void TestContactStore::movesToBothEnds()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(
        {contact("1", "A", "a"), contact("2", "B", "b"), contact("3", "C", "c")}));
    auto open = openStore(folder);
    QVERIFY(open);
    ContactStore &store = open->store;
    QVERIFY(!store.isBOF() && !store.isEOF());
    QVERIFY(store.moveNext() && store.moveNext());
    QCOMPARE(open->store.fieldText(ContactField::LastName), QStringLiteral("C"));
    QVERIFY(store.moveNext());
    QVERIFY(store.isEOF());
    QVERIFY(!store.hasCurrentRecord());
    QCOMPARE(open->store.fieldText(ContactField::LastName), QString());
    QVERIFY(store.movePrevious());
    QCOMPARE(store.currentRow(), 2);
    QCOMPARE(open->store.fieldText(ContactField::LastName), QStringLiteral("C"));
    QVERIFY(store.moveTo(0) && store.movePrevious());
    QVERIFY(store.isBOF());
    QVERIFY(!store.isEOF());
    QVERIFY(store.moveNext());
    QCOMPARE(store.currentRow(), 0);
}

void TestContactStore::commitWhenLeaving_data()
{
    QTest::addColumn<QString>("way");
    for (const char *way : {"next", "previous", "grid", "refresh", "addnew", "commit"})
        QTest::newRow(way) << QString::fromLatin1(way);
}

void TestContactStore::commitWhenLeaving()
{
    QFETCH(QString, way);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(
        {contact("1", "A", "a"), contact("2", "B", "b"), contact("3", "C", "c")}));
    auto open = openStore(folder);
    QVERIFY(open);
    ContactStore &store = open->store;
    QVERIFY(store.moveTo(1));
    type(*open, ContactField::FirstName, QStringLiteral("edited"));
    Result<void> done = Failure{QStringLiteral("no such way")};
    if (way == "next")
        done = store.moveNext();
    else if (way == "previous")
        done = store.movePrevious();
    else if (way == "grid")
        done = store.moveTo(2);
    else if (way == "refresh")
        done = store.refresh();
    else if (way == "addnew")
        done = store.addNew();
    else
        done = store.commit();
    QVERIFY2(done, qPrintable(done.error()));
    QCOMPARE(
        queryColumn(folder.databasePath(), "select firstname from contactsdb where contactid = 2"),
        QStringList{"edited"});
    QCOMPARE(store.value(1, ContactField::FirstName), QStringLiteral("edited"));
}

void TestContactStore::unchangedValuesAreNotWritten()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a"), contact("2", "B", "b")}));
    auto open = openStore(folder);
    QVERIFY(open);
    // Showing records is no edit: stepping through them and reading them again writes nothing.
    const QByteArray before = fileBytes(folder.databasePath());
    QVERIFY(open->store.moveNext() && open->store.moveNext() && open->store.refresh());
    QCOMPARE(fileBytes(folder.databasePath()), before);
}

void TestContactStore::pendingNewRecordInsertedWithAllFields()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a")}));
    auto open = openStore(folder);
    QVERIFY(open);
    QVERIFY(open->store.addNew());
    QVERIFY(open->store.hasPendingNew());
    QCOMPARE(open->store.fieldText(ContactField::LastName), QString());
    QVERIFY(open->store.isEditable());
    for (int i = 0; i < contactFieldCount; ++i)
        type(*open, fieldAt(i), i == 0 ? QStringLiteral("2") : QStringLiteral("value %1").arg(i));
    QVERIFY(open->store.moveNext());
    QVERIFY(!open->store.hasPendingNew());
    QCOMPARE(open->store.recordCount(), 2);
    for (int i = 1; i < contactFieldCount; ++i) {
        const QStringList stored = queryColumn(
            folder.databasePath(), QStringLiteral("select %1 from contactsdb where contactid = 2")
                                       .arg(quotedColumnName(fieldAt(i))));
        QCOMPARE(stored, QStringList{QStringLiteral("value %1").arg(i)});
    }
}

void TestContactStore::valuesStoredExactly_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("quotes") << fieldIndex(ContactField::LastName) << "O'Brien \"Bud\" ''";
    QTest::newRow("backslashes") << fieldIndex(ContactField::Zip) << "C:\\new\\table\\";
    QTest::newRow("sql text") << fieldIndex(ContactField::FirstName)
                              << "x'); DROP TABLE contactsdb; --";
    QTest::newRow("100 KB address")
        << fieldIndex(ContactField::Address) << QString(100 * 1024, QLatin1Char('a'));
    QTest::newRow("crlf notes") << fieldIndex(ContactField::Notes) << "one\r\ntwo\r\n\r\n";
    QTest::newRow("non-latin") << fieldIndex(ContactField::City)
                               << QString::fromUtf8("Καλαμάτα 東京 القاهرة 😀");
    QTest::newRow("leading and trailing blanks")
        << fieldIndex(ContactField::NickName) << "  spaced  ";
}

void TestContactStore::valuesStoredExactly()
{
    QFETCH(int, field);
    QFETCH(QString, value);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a")}));
    auto open = openStore(folder);
    QVERIFY(open);
    type(*open, fieldAt(field), value);
    QVERIFY(open->store.commit());
    QCOMPARE(queryColumn(
                 folder.databasePath(),
                 QStringLiteral("select %1 from contactsdb").arg(quotedColumnName(fieldAt(field)))),
             QStringList{value});
    // And it comes back the same when read again.
    QVERIFY(open->store.refresh());
    QCOMPARE(open->store.fieldText(fieldAt(field)), value);
}

void TestContactStore::editedNotesKeepLineBreakStyle()
{
    TestAppFolder folder;
    ContactValues crlf = contact("1", "A", "a");
    crlf[fieldIndex(ContactField::Notes)] = QStringLiteral("first\r\nsecond");
    QVERIFY(folder.createDatabase({crlf}));
    auto open = openStore(folder);
    QVERIFY(open);
    // A text box hands back lone line feeds.
    type(*open, ContactField::Notes, QStringLiteral("first\nsecond\nthird"));
    QVERIFY(open->store.commit());
    QCOMPARE(queryColumn(folder.databasePath(), "select Notes from contactsdb"),
             QStringList{"first\r\nsecond\r\nthird"});
}

void TestContactStore::onlyChangedFieldsAreWritten()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a")}));
    auto open = openStore(folder);
    QVERIFY(open);
    // Another program changes the first name after the store read the record.
    QVERIFY(execOn(folder.databasePath(), "update contactsdb set firstname = 'theirs'"));
    type(*open, ContactField::LastName, QStringLiteral("mine"));
    QVERIFY(open->store.commit());
    QCOMPARE(
        queryColumn(folder.databasePath(), "select lastname || '/' || firstname from contactsdb"),
        QStringList{"mine/theirs"});
}

void TestContactStore::openFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("setupSql");
    QTest::addColumn<QString>("reason");
    QByteArray jet("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    jet.append(QByteArray(2048, '\x5a'));
    QTest::newRow("missing") << QByteArray() << QString() << "not found";
    QTest::newRow("empty file") << QByteArray("") << QString() << "no table \"contactsdb\"";
    QTest::newRow("jet database") << jet << QString() << "not a database";
    QTest::newRow("text file") << QByteArray("hello, this is not a database\n") << QString()
                               << "not a database";
    QTest::newRow("table missing") << QByteArray() << "create table other (x)"
                                   << "no table \"contactsdb\"";
    QTest::newRow("field missing")
        << QByteArray() << "create table contactsdb (contactid, lastname, firstname)"
        << "no field \"Middle\"";
}

void TestContactStore::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, setupSql);
    QFETCH(QString, reason);
    TestAppFolder folder;
    const QString path = folder.databasePath();
    if (!setupSql.isEmpty()) {
        sqlite::Connection db;
        QVERIFY(db.open(path, sqlite::Connection::Mode::ReadWriteCreate));
        QVERIFY(db.exec(setupSql));
    } else if (!content.isNull()) {
        QVERIFY(folder.writeFile(QStringLiteral("cntdb.mdb"), content));
    }
    const bool existed = QFile::exists(path);
    const QByteArray before = fileBytes(path);

    ContactStore store;
    store.setDatabaseName(path);
    store.setRecordSource(recordSourceForSortType(QStringLiteral("lastname")));
    const Result<void> opened = store.open();
    QVERIFY(!opened);
    QVERIFY2(opened.error().contains(reason, Qt::CaseInsensitive), qPrintable(opened.error()));
    QCOMPARE(QFile::exists(path), existed); // never created
    QCOMPARE(fileBytes(path), before);
}

void TestContactStore::commitFailureKeepsTypedText_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("locked by another program") << "lock"
                                               << "locked";
    QTest::newRow("deleted by another program") << "delete"
                                                << "no longer in the database";
}

void TestContactStore::commitFailureKeepsTypedText()
{
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a"), contact("2", "B", "b")}));
    auto open = openStore(folder);
    QVERIFY(open);
    sqlite::Connection other;
    QVERIFY(other.open(folder.databasePath(), sqlite::Connection::Mode::ReadWrite));
    if (cause == "lock")
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    else
        QVERIFY(other.exec(QStringLiteral("DELETE FROM contactsdb WHERE contactid = 1")));

    type(*open, ContactField::LastName, QStringLiteral("typed"));
    const Result<void> moved = open->store.moveNext();
    QVERIFY(!moved);
    QVERIFY2(moved.error().contains(reason, Qt::CaseInsensitive), qPrintable(moved.error()));
    // Nothing moved and nothing typed was lost.
    QCOMPARE(open->store.currentRow(), 0);
    QCOMPARE(open->store.fieldText(ContactField::LastName), QStringLiteral("typed"));
    QVERIFY(open->store.hasChanges());
    if (cause == "lock") {
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        QVERIFY(open->store.moveNext());
        QCOMPARE(queryColumn(folder.databasePath(),
                             "select lastname from contactsdb where contactid = 1"),
                 QStringList{"typed"});
    }
}

void TestContactStore::commitRefusedOnReadOnlyFile()
{
    if (!canDropPrivileges())
        QSKIP("needs root and setpriv to drop privileges");
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a")}));
    folder.openToEveryone();
    // Readable by everyone, writable by its owner (root) alone.
    QVERIFY(::chmod(QFile::encodeName(folder.databasePath()).constData(), 0644) == 0);
    const QByteArray before = fileBytes(folder.databasePath());
    const ChildResult child = runAsNobody(QStringLiteral(STORECHILD_PATH),
                                          {folder.databasePath(), QStringLiteral("typed")});
    QVERIFY2(child.started, "storechild did not start");
    QCOMPARE(child.exitCode, 0);
    QVERIFY2(child.output.startsWith("failed: ") && child.output.contains("readonly"),
             child.output.constData());
    QCOMPARE(fileBytes(folder.databasePath()), before);
}

void TestContactStore::nextContactId_data()
{
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("action");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("ids 1..3") << QStringList{"1", "2", "3"} << "" << qint64(4);
    QTest::newRow("after deleting id 2") << QStringList{"1", "2", "3"} << "delete 2" << qint64(4);
    QTest::newRow("a text id is ignored") << QStringList{"1", "abc", "2"} << "" << qint64(4);
    QTest::newRow("large id") << QStringList{"1", "500"} << "" << qint64(501);
    QTest::newRow("second add while one pending")
        << QStringList{"1", "2"} << "pending" << qint64(4);
    QTest::newRow("last free id") << QStringList{"2147483646"} << "" << qint64(2147483647);
    // Past 2^31 - 1 the rule takes the lowest free id instead of refusing.
    QTest::newRow("at 2^31 - 1: the lowest free")
        << QStringList{"1", "2147483647", "3"} << "" << qint64(2);
    QTest::newRow("at 2^31 - 1: the lowest free, not the pending one")
        << QStringList{"2147483647"} << "pending 1" << qint64(2);
    QTest::newRow("2^63 - 1 stored: the lowest free, no wrap")
        << QStringList{"9223372036854775807", "2"} << "" << qint64(1);
    QTest::newRow("zero and negative ids stored") << QStringList{"0", "-5"} << "" << qint64(3);
}

void TestContactStore::nextContactId()
{
    QFETCH(QStringList, ids);
    QFETCH(QString, action);
    QFETCH(qint64, expected);
    TestAppFolder folder;
    QList<ContactValues> contacts;
    for (const QString &id : ids)
        contacts << contact(id, QStringLiteral("N") + id, QString());
    QVERIFY(folder.createDatabase(contacts));
    if (action == "delete 2")
        QVERIFY(execOn(folder.databasePath(), "delete from contactsdb where contactid = 2"));
    auto open = openStore(folder, QStringLiteral("contactid"));
    QVERIFY(open);
    if (action.startsWith("pending")) {
        QVERIFY(open->store.addNew());
        const QString typed = action.section(QLatin1Char(' '), 1);
        type(*open, ContactField::ContactId,
             typed.isEmpty() ? QString::number(open->store.recordCount() + 1) : typed);
    }
    QCOMPARE(open->store.nextContactId().valueOr(-1), expected);
}

void TestContactStore::fieldsReadOnlyWithoutRecord()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({contact("1", "A", "a")}));
    auto open = openStore(folder);
    QVERIFY(open);
    QVERIFY(open->store.isEditable());
    QVERIFY(open->store.moveNext());
    QVERIFY(open->store.isEOF());
    QVERIFY(!open->store.isEditable());
    QVERIFY(open->store.addNew());
    QVERIFY(open->store.isEditable());
}

void TestContactStore::namesInTheLocaleOrder_data()
{
    // Each row: the locale, last names as stored (contact ids 1, 2, ...) and the order the
    // locale's alphabet gives them, written from the alphabets.
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("expected");
    const QStringList mixed{"Yılmaz", "Ødegaard", "Ćosić", "Łukasik", "Šťastný", "Zed", "Adams"};
    const QStringList accentsWithLetters{"Adams",   "Ćosić",  "Łukasik", "Ødegaard",
                                         "Šťastný", "Yılmaz", "Zed"};
    QTest::newRow("English: accents with their letters")
        << QByteArray("en_GB.UTF-8") << mixed << accentsWithLetters;
    QTest::newRow("C: the root order") << QByteArray("C") << mixed << accentsWithLetters;
    QTest::newRow("unknown locale: the root order")
        << QByteArray("xx_YY.UTF-8") << mixed << accentsWithLetters;
    QTest::newRow("English: case ignored, equal names keep their order")
        << QByteArray("en_US.UTF-8") << QStringList{"Brown", "brown", "Ängel", "BROWN"}
        << QStringList{"Ängel", "Brown", "brown", "BROWN"};
    QTest::newRow("German: Ö with O")
        << QByteArray("de_DE.UTF-8") << QStringList{"Zander", "Ortiz", "Oberst", "Öberg", "Abel"}
        << QStringList{"Abel", "Öberg", "Oberst", "Ortiz", "Zander"};
    QTest::newRow("Swedish: Å, Ä, Ö after Z")
        << QByteArray("sv_SE.UTF-8")
        << QStringList{"Öberg", "Ortiz", "Zander", "Ärlig", "Åberg", "Abel", "Ødegaard"}
        << QStringList{"Abel", "Ortiz", "Zander", "Åberg", "Ärlig", "Öberg", "Ødegaard"};
    QTest::newRow("Polish: Ć after C, Ł after L")
        << QByteArray("pl_PL.UTF-8")
        << QStringList{"Łukasik", "Mazur", "Lis", "Ćwik", "Dudek", "Cyran", "Lubicz"}
        << QStringList{"Cyran", "Ćwik", "Dudek", "Lis", "Lubicz", "Łukasik", "Mazur"};
    QTest::newRow("Czech: CH after H, Š after S")
        << QByteArray("cs_CZ.UTF-8")
        << QStringList{"Chmiel", "Tichý", "Hruby", "Šťastný", "Cibulka", "Sova", "Ivan"}
        << QStringList{"Cibulka", "Hruby", "Chmiel", "Ivan", "Sova", "Šťastný", "Tichý"};
    QTest::newRow("Spanish: Ñ after N")
        << QByteArray("es_ES.UTF-8") << QStringList{"Olmo", "Ñandú", "Nuñez", "Nunez", "Nava"}
        << QStringList{"Nava", "Nunez", "Nuñez", "Ñandú", "Olmo"};
    QTest::newRow("Turkish: dotless ı before dotted i")
        << QByteArray("tr_TR.UTF-8") << QStringList{"Jale", "İnce", "Işık", "ılgın", "Hakan"}
        << QStringList{"Hakan", "ılgın", "Işık", "İnce", "Jale"};
    QTest::newRow("Japanese: Latin, then kana in the order of the syllabary")
        << QByteArray("ja_JP.UTF-8") << QStringList{"たなか", "さとう", "Smith", "いとう", "あべ"}
        << QStringList{"Smith", "あべ", "いとう", "さとう", "たなか"};
}

void TestContactStore::namesInTheLocaleOrder()
{
    QFETCH(QByteArray, locale);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, expected);
    const QByteArray before = qgetenv("LC_ALL");
    qputenv("LC_ALL", locale);
    const auto restore = qScopeGuard([&before] { qputenv("LC_ALL", before); });
    TestAppFolder folder;
    QList<ContactValues> contacts;
    for (int i = 0; i < stored.size(); ++i)
        contacts << contact(QString::number(i + 1), stored.at(i), QString());
    QVERIFY(folder.createDatabase(contacts));
    for (const char *sortType : {"lastname", "firstname"}) {
        if (QByteArray(sortType) == "firstname") {
            QVERIFY(execOn(folder.databasePath(), "update contactsdb set firstname = lastname"));
        }
        auto open = openStore(folder, QString::fromLatin1(sortType));
        QVERIFY(open);
        QCOMPARE(lastNamesInStoreOrder(open->store), expected);
    }
    // Contact ids stay in numeric order whatever the names.
    auto byId = openStore(folder, QStringLiteral("contactid"));
    QVERIFY(byId);
    QCOMPARE(lastNamesInStoreOrder(byId->store), stored);
}

QTEST_GUILESS_MAIN(TestContactStore)
#include "tst_contactstore.moc"
