// The Jet import client against a stand-in reader that sends exactly the frames (or the
// garbage, crash or hang) a test writes: every fault of the reader process ends the read
// with a message naming the file and the reason, and nothing reaches the database.
#include <core/interchange/contactimport.h>
#include <core/interchange/jetconversion.h>
#include <core/interchange/jetimport.h>

#include <support/dbquery.h>
#include <support/jetframes.h>
#include <support/testappfolder.h>

#include <QDir>
#include <QTest>

#include <optional>

#include <unistd.h>

namespace {

interchange::ReadSink intoImporter(interchange::ContactImporter &importer)
{
    return {[&importer](ImportedContact &&contact) { return importer.add(contact); },
            [](SkippedEntry &&) {
            }};
}

const QList<QByteArray> threeColumns{"LastName", "contactid", "Hobby"};
const QByteArray twoRows
    = header(threeColumns) + row({"Dunn", "7", "chess"}) + row({"Ames", "8", std::nullopt});

} // namespace

class TestJetImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void rowsByName();
    void readerFaults_data();
    void readerFaults();
    void signature_data();
    void signature();
    void conversion_data();
    void conversion();
    void conversionKeepsFolderOnFailure_data();
    void conversionKeepsFolderOnFailure();

private:
    interchange::JetReadOptions m_quick{1500, 4000};
};

void TestJetImport::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(FAKEJETREADER_PATH)));
    interchange::setJetReaderPathForTesting(QStringLiteral(FAKEJETREADER_PATH));
}

void TestJetImport::cleanupTestCase()
{
    interchange::setJetReaderPathForTesting({});
}

void TestJetImport::rowsByName()
{
    TestAppFolder folder;
    const QByteArray stream
        = header({"Notes", "FIRSTNAME", "contactid", "Photo", "LastName"})
          + row({"x\r\n\xc3\xa9y", "Zo\xc3\xab", "12.0", std::nullopt, "Li\r\nBuilding B"})
          + row({std::nullopt, "", "13", "raw", std::nullopt}) + end(2);
    QVERIFY(folder.writeFile(QStringLiteral("old.mdb"), script("exit 0", stream)));
    ReadContacts read;
    const Result<interchange::JetReadReport> report = interchange::readJetFile(
        folder.file(QStringLiteral("old.mdb")), interchange::keepingIn(read), m_quick);
    const QList<ImportedContact> &got = read.contacts;
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->rows, 2);
    QCOMPARE(report->extraColumns, QStringList{"Photo"});
    QCOMPARE(report->missingFields.size(), contactFieldCount - 4);
    QVERIFY(report->missingFields.contains(QStringLiteral("Zip\\Postal Code")));
    QCOMPARE(got.size(), 2);
    const auto at = [&got](int row, ContactField field) {
        return got[row].values[fieldIndex(field)];
    };
    QCOMPARE(at(0, ContactField::ContactId), QStringLiteral("12"));
    QCOMPARE(at(0, ContactField::FirstName), QStringLiteral("Zoë"));
    // Notes keeps its lines; a one-line field gets one line.
    QCOMPARE(at(0, ContactField::Notes), QStringLiteral("x\r\néy"));
    QCOMPARE(at(0, ContactField::LastName), QStringLiteral("Li, Building B"));
    QCOMPARE(at(1, ContactField::ContactId), QStringLiteral("13"));
    QCOMPARE(at(1, ContactField::LastName), QString());
    QCOMPARE(at(1, ContactField::Notes), QString());
}

void TestJetImport::readerFaults_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");
    const QByteArray rowFrame = row({"Cole", "9", "golf"});
    QTest::newRow("crash") << script("kill", twoRows) << "crashed";
    QTest::newRow("hang") << script("hang", twoRows) << "stopped answering";
    QTest::newRow("rows for ever")
        << script("endless " + QByteArray::number(rowFrame.size()), twoRows + rowFrame)
        << "had not finished";
    QTest::newRow("status after the end")
        << script("exit 3", twoRows + end(2)) << "ended with status 3";
    QTest::newRow("reader's own failure")
        << script("exit 1", frame('X', "The file has no table contactsdb."))
        << "no table contactsdb";
    QTest::newRow("no end frame") << script("exit 0", twoRows) << "before the end of the table";
    QTest::newRow("cut inside a frame")
        << script("exit 0", twoRows.chopped(3)) << "before the end of the table";
    QTest::newRow("garbage") << script("exit 0", "Unable to read page 4\n") << "unexpected frame";
    QTest::newRow("row before the header")
        << script("exit 0", rowFrame + end(1)) << "unexpected frame";
    QTest::newRow("second header")
        << script("exit 0", twoRows + header(threeColumns) + end(2)) << "unexpected frame";
    QTest::newRow("row of the wrong width")
        << script("exit 0", twoRows + row({"Cole", "9"}) + end(3)) << "malformed row";
    QTest::newRow("value past its frame") << script(
        "exit 0", header(threeColumns) + frame('R', u32(3) + u32(1) + "A" + u32(99) + "B") + end(1))
                                          << "malformed row";
    QTest::newRow("bytes left in a frame") << script(
        "exit 0", header(threeColumns) + frame('R', values({"a", "b", "c"}) + "!") + end(1))
                                           << "malformed row";
    QTest::newRow("not UTF-8") << script("exit 0",
                                         header(threeColumns) + row({"\xff", "1", "c"}) + end(1))
                               << "malformed row";
    QTest::newRow("end miscounts")
        << script("exit 0", twoRows + end(5)) << "counted 5 rows but sent 2";
    QTest::newRow("bytes after the end")
        << script("exit 0", twoRows + end(2) + "x") << "after its last frame";
    QTest::newRow("huge length") << script("exit 0", header(threeColumns) + 'R' + u32(0xFFFFFFF0))
                                 << "frame of 4294967280 bytes";
}

void TestJetImport::readerFaults()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Adams", "")}));
    const QString path = folder.file(QStringLiteral("old.mdb"));
    QVERIFY(folder.writeFile(QStringLiteral("old.mdb"), file));
    const QByteArray before = fileBytes(folder.databasePath());

    Result<std::unique_ptr<interchange::ContactImporter>> importer
        = interchange::ContactImporter::begin(folder.databasePath(), {});
    QVERIFY2(importer, qPrintable(importer.error()));
    const Result<interchange::JetReadReport> read
        = interchange::readJetFile(path, intoImporter(**importer), m_quick);
    QVERIFY(!read);
    QVERIFY2(read.error().contains(path) && read.error().contains(reason),
             qPrintable(read.error()));
    importer = Failure{}; // dropped unfinished: rolled back
    QCOMPARE(queryColumn(folder.databasePath(), QStringLiteral("select LastName from contactsdb")),
             QStringList{"Adams"});
    QCOMPARE(fileBytes(folder.databasePath()), before);
}

void TestJetImport::signature_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("jet");
    QTest::newRow("Jet") << QByteArray("\0\1\0\0Standard Jet DB\0\1", 21) << true;
    QTest::newRow("ACE") << QByteArray("\0\1\0\0Standard ACE DB\0\2", 21) << true;
    QTest::newRow("SQLite") << QByteArray("SQLite format 3\0", 16) << false;
    QTest::newRow("cut short") << QByteArray("\0\1\0\0Standard Jet D", 18) << false;
    QTest::newRow("one byte off") << QByteArray("\0\1\0Standard Jet DB\0", 20) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestJetImport::signature()
{
    QFETCH(QByteArray, start);
    QFETCH(bool, jet);
    TestAppFolder folder;
    QVERIFY(folder.writeFile(QStringLiteral("a.txt"), start));
    QCOMPARE(interchange::isJetFile(folder.file(QStringLiteral("a.txt"))), jet);
}

void TestJetImport::conversion_data()
{
    QTest::addColumn<bool>("link");
    QTest::addColumn<bool>("leftovers");
    QTest::newRow("hard link") << true << false;
    QTest::newRow("synced copy") << false << false;
    QTest::newRow("after a conversion cut short") << true << true;
}

void TestJetImport::conversion()
{
    QFETCH(bool, link);
    QFETCH(bool, leftovers);
    TestAppFolder folder;
    const QString path = folder.databasePath();
    // Repeated ids stay as they are: the address book is the same, in another format.
    const QByteArray original = script("exit 0", twoRows + row({"Cole", "7", "x"}) + end(3));
    QVERIFY(folder.writeFile(QStringLiteral("cntdb.mdb"), original));
    if (leftovers) {
        QCOMPARE(::link(QFile::encodeName(path).constData(),
                        QFile::encodeName(path + ".jet").constData()),
                 0);
        QVERIFY(folder.writeFile(QStringLiteral("cntdb.mdb.converting"), "half"));
    }
    interchange::JetConversionOptions options;
    options.read = m_quick;
    options.linkBackup = link;
    const Result<interchange::JetConversion> converted
        = interchange::convertJetDatabase(path, options);
    QVERIFY2(converted, qPrintable(converted.error()));
    QCOMPARE(queryColumn(path, QStringLiteral("select contactid || ' ' || LastName || ' ' || "
                                              "typeof(contactid) from contactsdb order by rowid")),
             (QStringList{"7 Dunn integer", "8 Ames integer", "7 Cole integer"}));
    QCOMPARE(fileBytes(converted->backupPath), original);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
             (QStringList{"cntdb.mdb", "cntdb.mdb.jet"}));
}

void TestJetImport::conversionKeepsFolderOnFailure_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("backup");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("symlink");
    const QByteArray whole = script("exit 0", twoRows + end(2));
    QTest::newRow("reader crashes")
        << script("kill", twoRows) << QByteArray() << "crashed" << false;
    QTest::newRow("malformed") << script("exit 0", twoRows + "zzzzzz") << QByteArray() << "frame"
                               << false;
    QTest::newRow("cut short") << script("exit 0", twoRows) << QByteArray() << "before the end"
                               << false;
    QTest::newRow("backup name taken")
        << whole << QByteArray("someone's file") << "never overwritten" << false;
    // A symbolic link would lead the backup name to the converted file.
    QTest::newRow("backup name links to the original")
        << whole << QByteArray() << "never overwritten" << true;
}

void TestJetImport::conversionKeepsFolderOnFailure()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, backup);
    QFETCH(QString, reason);
    TestAppFolder folder;
    QVERIFY(folder.writeFile(QStringLiteral("cntdb.mdb"), file));
    QFETCH(bool, symlink);
    if (!backup.isEmpty())
        QVERIFY(folder.writeFile(QStringLiteral("cntdb.mdb.jet"), backup));
    if (symlink)
        QVERIFY(
            QFile::link(QStringLiteral("cntdb.mdb"), folder.file(QStringLiteral("cntdb.mdb.jet"))));
    const QStringList before = QDir(folder.path()).entryList(QDir::Files);
    interchange::JetConversionOptions options;
    options.read = m_quick;
    const Result<interchange::JetConversion> converted
        = interchange::convertJetDatabase(folder.databasePath(), options);
    QVERIFY(!converted);
    QVERIFY2(converted.error().contains(folder.databasePath())
                 && converted.error().contains(reason),
             qPrintable(converted.error()));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), before);
    QCOMPARE(fileBytes(folder.databasePath()), file);
    if (!backup.isEmpty())
        QCOMPARE(fileBytes(folder.file(QStringLiteral("cntdb.mdb.jet"))), backup);
}

QTEST_GUILESS_MAIN(TestJetImport)
#include "tst_jetimport.moc"
