// A file into the address book through the one gateway: the reader chosen by the contents,
// read ahead on a thread of its own within a bound in bytes, the report bounded per file.
#include <support/dbquery.h>
#include <support/testappfolder.h>

#include <core/interchange/contactimport.h>
#include <core/interchange/fileimport.h>
#include <core/interchange/readahead.h>

#include <QBuffer>
#include <QTest>

#include <atomic>

using interchange::FileFormat;

namespace {

ImportedContact imported(const QString &last, const QString &notes = {})
{
    ImportedContact contact;
    contact.values = makeContact(QString(), last, QString());
    contact.values[fieldIndex(ContactField::Notes)] = notes;
    return contact;
}

QByteArray card(int number, const QByteArray &more = {})
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Card" + QByteArray::number(number) + "\r\n" + more
           + "END:VCARD\r\n";
}

} // namespace

class TestFileImport : public QObject
{
    Q_OBJECT

private slots:
    void readAhead_data();
    void readAhead();
    void formatByContents_data();
    void formatByContents();
    void reportBoundedPerFile_data();
    void reportBoundedPerFile();
};

void TestFileImport::readAhead_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("notesChars"); // in each contact
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<int>("deliveryFailsAt"); // 0: never
    QTest::addColumn<int>("mostAhead");       // contacts read, not yet delivered; -1: any
    // Around the batch size the reader hands over, and many batches with the reader waiting.
    QTest::newRow("none") << 0 << 0 << false << 0 << -1;
    QTest::newRow("one batch and one more") << 257 << 0 << false << 0 << -1;
    QTest::newRow("many batches") << 5000 << 0 << false << 0 << -1;
    QTest::newRow("read fails after many") << 3000 << 0 << true << 0 << -1;
    // The reader stops at its next contact, long before the end.
    QTest::newRow("delivery fails") << 200000 << 0 << false << 10 << -1;
    // 16 MiB in flight. Few enough that they never filled a batch of the count the queue
    // once went by, which held them all.
    QTest::newRow("1 MiB contacts") << 200 << (512 << 10) << false << 0 << 16;
    QTest::newRow("larger than the bound, one at a time") << 3 << (10 << 20) << false << 0 << 1;
}

void TestFileImport::readAhead()
{
    QFETCH(int, entries);
    QFETCH(int, notesChars);
    QFETCH(bool, readFails);
    QFETCH(int, deliveryFailsAt);
    QFETCH(int, mostAhead);
    QBuffer input;
    input.setData(QByteArray(entries, 'x'));
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QString notes(notesChars, QLatin1Char('n'));
    QStringList delivered;
    qint64 lastPosition = -1;
    int read = 0;
    std::atomic<int> contactsRead = 0;
    int contactsDelivered = 0;
    int ahead = 0;
    const Result<void> result = interchange::readAhead(
        input,
        [&](const interchange::ReadSink &sink) -> Result<void> {
            for (int line = 1; line <= entries; ++line, ++read) {
                input.getChar(nullptr);
                if (line % 7 == 0) {
                    sink.skipped({line, QStringLiteral("unreadable")});
                    continue;
                }
                // Its own copy of the notes: shared text would cost the reader nothing.
                if (Result<void> taken = sink.contact(
                        imported(QString::number(line), QString(notes.data(), notes.size())));
                    !taken)
                    return taken;
                ++contactsRead;
            }
            if (readFails)
                return Failure::input(QStringLiteral("broken at the end"));
            return {};
        },
        {[&](ImportedContact &&contact) -> Result<void> {
             if (delivered.size() + 1 == deliveryFailsAt)
                 return Failure::database(QStringLiteral("disk full"));
             ahead = std::max(ahead, contactsRead - contactsDelivered++);
             delivered << contact.values[fieldIndex(ContactField::LastName)];
             return {};
         },
         [&](SkippedEntry &&skip) {
             delivered << QStringLiteral("skip %1").arg(skip.line);
         }},
        [&](qint64 position) {
            QVERIFY(position >= lastPosition);
            lastPosition = position;
        });
    if (deliveryFailsAt > 0) {
        QCOMPARE(result.failure().kind, Failure::Kind::Database);
        QCOMPARE(delivered.size(), deliveryFailsAt - 1);
        QVERIFY2(read < entries / 2, qPrintable(QString::number(read)));
        return;
    }
    QStringList expected;
    for (int line = 1; line <= entries; ++line)
        expected << (line % 7 == 0 ? QStringLiteral("skip %1").arg(line) : QString::number(line));
    QCOMPARE(delivered, expected);
    QCOMPARE(lastPosition, qint64(entries));
    QCOMPARE(result.ok(), !readFails);
    if (mostAhead >= 0)
        QVERIFY2(ahead <= mostAhead, qPrintable(QString::number(ahead)));
}

void TestFileImport::formatByContents_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("format"); // FileFormat, -1 for none
    const QByteArray jet("\0\1\0\0Standard Jet DB\0", 20);
    const QByteArray csv = "Last Name,First Name\r\nDunn,Al\r\n";
    QTest::newRow("vCard named .txt") << "cards.txt" << card(1) << int(FileFormat::VCard);
    QTest::newRow("vCard without a name's suffix") << "cards" << card(1) << int(FileFormat::VCard);
    QTest::newRow("byte-order mark, blank lines, lower case")
        << "a.dat" << QByteArray("\xEF\xBB\xBF\r\n\r\n  begin:vcard\r\nEND:VCARD\r\n")
        << int(FileFormat::VCard);
    QTest::newRow("lines ending CR CR LF")
        << "a.dat" << QByteArray("BEGIN:VCARD\r\r\n") << int(FileFormat::VCard);
    QTest::newRow("BEGIN:VCARDS is no card") << "a.dat" << QByteArray("BEGIN:VCARDS\r\n") << -1;
    QTest::newRow("CSV named .vcf: its reader says why")
        << "a.vcf" << csv << int(FileFormat::VCard);
    QTest::newRow("CSV named .csv") << "a.csv" << csv << int(FileFormat::Csv);
    QTest::newRow("CSV named .txt") << "a.txt" << csv << int(FileFormat::Csv);
    QTest::newRow("CSV of no known name") << "a.dat" << csv << -1;
    QTest::newRow("Jet named .csv") << "a.csv" << jet << int(FileFormat::Jet);
    QTest::newRow(".mdb that is no Jet file") << "a.mdb" << csv << -1;
}

void TestFileImport::formatByContents()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, format);
    TestAppFolder folder;
    QVERIFY(folder.writeFile(name, content));
    const std::optional<FileFormat> found = interchange::fileFormatOf(folder.file(name));
    QCOMPARE(found ? int(*found) : -1, format);
}

void TestFileImport::reportBoundedPerFile_data()
{
    QTest::addColumn<bool>("notStored");
    QTest::addColumn<int>("told");
    QTest::addColumn<int>("leftOut");
    // 60 cards with two values each that fit no field, and 5 cards skipped among them.
    QTest::newRow("values not stored and skips") << true << 100 << 25;
    QTest::newRow("skips only: the values go to Notes") << false << 5 << 0;
}

void TestFileImport::reportBoundedPerFile()
{
    QFETCH(bool, notStored);
    QFETCH(int, told);
    QFETCH(int, leftOut);
    QByteArray content;
    for (int i = 1; i <= 60; ++i) {
        content += card(i, "ORG:Org " + QByteArray::number(i) + "\r\nTITLE:Boss\r\n");
        if (i % 12 == 0)
            content += "BEGIN:VCARD\r\nN:Broken\r\n";
    }
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({}));
    QVERIFY(folder.writeFile(QStringLiteral("cards.txt"), content));
    const QString path = folder.file(QStringLiteral("cards.txt"));
    QList<interchange::ReportLine> lines;
    interchange::FileReadOptions options;
    options.reportNotStored = notStored;
    options.report = [&lines](const interchange::ReportLine &line) {
        lines << line;
    };

    const Result<interchange::FileReadSummary> counted = interchange::countContacts(path, options);
    QVERIFY2(counted, qPrintable(counted.error()));
    const QList<interchange::ReportLine> countedLines = std::exchange(lines, {});
    Result<std::unique_ptr<interchange::ContactImporter>> importer
        = interchange::ContactImporter::begin(folder.databasePath(), {});
    QVERIFY(importer);
    const Result<interchange::FileReadSummary> read
        = interchange::importFile(path, **importer, options);
    QVERIFY2(read, qPrintable(read.error()));
    QVERIFY((*importer)->finish());

    for (const Result<interchange::FileReadSummary> &summary : {counted, read}) {
        QCOMPARE(summary->format, FileFormat::VCard);
        QCOMPARE(summary->contacts, 60);
        QCOMPARE(summary->skipped, 5);
        QCOMPARE(summary->linesLeftOut, leftOut);
    }
    QCOMPARE(lines.size(), told);
    QCOMPARE(countedLines.size(), told);
    const interchange::ReportLine &first = lines.first();
    QCOMPARE(first.kind, notStored ? interchange::ReportLine::Kind::NotStored
                                   : interchange::ReportLine::Kind::Skipped);
    QCOMPARE(first.text, notStored ? QStringLiteral("Organisation: Org 1")
                                   : QStringLiteral("no END:VCARD before line 75"));
    QCOMPARE(queryColumn(folder.databasePath(), "select count(*) from contactsdb"),
             QStringList{"60"});
}

QTEST_GUILESS_MAIN(TestFileImport)
#include "tst_fileimport.moc"
