// Files that must not hurt, imported as a user imports them: with the tool, and dropped on
// the window. Each runs in a child process whose address space is capped, so a reader or an
// import that held a file's contacts ends there instead of passing the bound.
#include <support/childprocess.h>
#include <support/dbquery.h>
#include <support/testappfolder.h>

#include <QTest>

namespace {

constexpr qint64 mib = 1024 * 1024;

// A webmail export whose phone cells are lists of 170,000 numbers (a million characters, the
// most a row may have): each row reads as one contact of that many values not stored.
QByteArray webmailLists(int rows)
{
    QByteArray list = "1";
    for (int i = 1; i < 170000; ++i)
        list += " ::: 1";
    QByteArray file = "Given Name,Phone 1 - Type,Phone 1 - Value\r\n";
    for (int row = 0; row < rows; ++row)
        file += "Row" + QByteArray::number(row) + ",,\"" + list + "\"\r\n";
    return file;
}

// One card of many lines, then one good card.
QByteArray longCard(const QByteArray &line, int count)
{
    return "BEGIN:VCARD\r\nN:Long\r\n" + line.repeated(count)
           + "END:VCARD\r\nBEGIN:VCARD\r\nN:Good\r\nEND:VCARD\r\n";
}

QByteArray tinyCards(int count)
{
    QByteArray file;
    for (int i = 0; i < count; ++i)
        file += "BEGIN:VCARD\r\nN:" + QByteArray::number(i) + "\r\nEND:VCARD\r\n";
    return file;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void boundedMemory_data();
    void boundedMemory();
};

void TestHostileFiles::boundedMemory_data()
{
    QTest::addColumn<bool>("window"); // dropped on the window, else the tool's import
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<int>("exitCode");
    // Read ahead by count, these sixteen rows (16 MB) were all held at once: past 250 MiB.
    QTest::newRow("webmail lists, tool")
        << false << "webmail.csv" << webmailLists(16)
        << QStringList{"webmail.csv:2: not stored: Phone: 1", "more lines not shown",
                       "Imported 16 contacts"}
        << 0;
    // Empty lines counted nothing against the card's cap: 1.2 GB, then an abort.
    const QStringList longSkipped{"long.vcf:1: skipped: the card has more than 100000 lines",
                                  "Imported 1 contacts"};
    QTest::newRow("a card of 30 million empty lines, tool")
        << false << "long.vcf" << longCard("\r\n", 30'000'000) << longSkipped << 1;
    // Each of these was a value not stored, and a line of the report: 1.8 GB.
    QTest::newRow("a card of 4 million X: lines, tool")
        << false << "long.vcf" << longCard("X:\r\n", 4'000'000) << longSkipped << 1;
    // Held whole before the question, these (7 MB) took 265 MiB beyond the window; streamed,
    // 120 MiB, most of it the list the window shows afterwards.
    const QString count = QString::number(250000);
    QTest::newRow("tiny cards, dropped on the window")
        << true << "tiny.vcf" << tinyCards(250000)
        << QStringList{"box: Import " + count + " contacts from", "records: " + count} << 0;
}

void TestHostileFiles::boundedMemory()
{
    QFETCH(bool, window);
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, says);
    QFETCH(int, exitCode);
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves address space that a capped child cannot have");
#endif
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({}));
    QVERIFY(folder.writeFile(name, content));
    content.clear();
    const QString path = folder.file(name);
    // The tool whole, within 200 MiB; the window, 200 MiB beyond what it holds once shown.
    const ChildResult child
        = window ? runChild(
              QStringLiteral(FAULTCHILD_PATH),
              {QStringLiteral("window-import"), folder.path(), path, QStringLiteral("200")}, 240000)
                 : runChildCapped(QStringLiteral(PELMORA_CONTACTS_PATH),
                                  {QStringLiteral("import"), path, QStringLiteral("--db"),
                                   folder.databasePath()},
                                  200 * mib, 240000);
    const QString output = QString::fromUtf8(child.output + child.errors);
    QVERIFY2(child.exitCode == exitCode, qPrintable(output.right(2000)));
    for (const QString &text : says)
        QVERIFY2(output.contains(text),
                 qPrintable(text + QStringLiteral(" not in: ") + output.right(2000)));
}

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
