// pelmora-contacts as a user runs it: exit statuses, messages and what lands in the file.
#include <support/dbquery.h>
#include <support/jetwriter.h>
#include <support/testappfolder.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

const QByteArray twoCards = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dunn;Al;;;\r\nFN:Al Dunn\r\n"
                            "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Ames;Bo;;;\r\n"
                            "FN:Bo Ames\r\nEND:VCARD\r\n";
// The second card has a CHARSET no platform knows: it is skipped, the first is read.
const QByteArray oneBadCard = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Dunn;Al\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=x-no-such-charset;"
                              "ENCODING=QUOTED-PRINTABLE:Ames;Bo\r\nEND:VCARD\r\n";

struct Run
{
    int exitCode = -1;
    QString output;
};

Run runTool(const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    // Under the sanitizers a crash of the Jet reader must still be a crash, as it is for users.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS"))
                           + QStringLiteral(":handle_segv=0"));
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(PELMORA_CONTACTS_PATH), arguments);
    if (!tool.waitForFinished(60000))
        return {};
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAll())};
}

} // namespace

class TestContactsTool : public QObject
{
    Q_OBJECT

private slots:
    void import_data();
    void import();
    void importReport_data();
    void importReport();
    void exportAndBack();
    void jetImport_data();
    void jetImport();
    void jetBadInput_data();
    void jetBadInput();
};

void TestContactsTool::import_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("database");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("stored");
    const QStringList before{"Adams"};
    QTest::newRow("all read") << twoCards << QStringList{} << true << 0 << "Imported 2"
                              << QStringList{"Adams", "Dunn", "Ames"};
    QTest::newRow("a card skipped") << oneBadCard << QStringList{} << true << 1
                                    << "cards.vcf:5: skipped:" << QStringList{"Adams", "Dunn"};
    QTest::newRow("strict: a skip stops it all")
        << oneBadCard << QStringList{"--strict"} << true << 2 << "nothing imported" << before;
    QTest::newRow("dry run") << twoCards << QStringList{"--dry-run"} << true << 0
                             << "Would import 2" << before;
    QTest::newRow("not a vCard file") << QByteArray("\x00\x01\x02garbage", 10) << QStringList{}
                                      << true << 2 << "cards.vcf" << before;
    QTest::newRow("no database: never created")
        << twoCards << QStringList{} << false << 3 << "not found" << QStringList{};
    QTest::newRow("bad usage") << twoCards << QStringList{"--format", "pdf"} << true << 2
                               << "--format" << before;
}

void TestContactsTool::import()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    QFETCH(bool, database);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QStringList, stored);
    TestAppFolder folder;
    if (database)
        QVERIFY(folder.createDatabase({makeContact("1", "Adams", "Ann")}));
    QVERIFY(folder.writeFile(QStringLiteral("cards.vcf"), content));
    const Run run = runTool(QStringList{"import", folder.file(QStringLiteral("cards.vcf")), "--db",
                                        folder.databasePath()}
                            + options);
    QVERIFY2(run.output.contains(says), qPrintable(run.output));
    QCOMPARE(run.exitCode, exitCode);
    if (database)
        QCOMPARE(
            queryColumn(folder.databasePath(), "select lastname from contactsdb order by rowid"),
            stored);
    else
        QVERIFY(!QFile::exists(folder.databasePath()));
}

void TestContactsTool::importReport_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<int>("reportLines"); // "FILE:LINE: not stored: ..." and "... skipped: ..."
    QTest::newRow("vCards named .txt: known by their contents")
        << "cards.txt" << twoCards << QStringList{"Imported 2"} << 0;
    const QByteArray hostile = "BEGIN:VCARD\r\nN:Red\r\nORG:\x1b[31mRed\x07\r\nEND:VCARD\r\n"
                               "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=x\x1b[2J;ENCODING="
                               "QUOTED-PRINTABLE:Ames\r\nEND:VCARD\r\n";
    QTest::newRow("control characters written out")
        << "cards.vcf" << hostile
        << QStringList{":1: not stored: Organisation: \\x1b[31mRed\\x07",
                       ":5: skipped: unknown character set \"x\\x1b[2J\" on line 7"}
        << 2;
    QByteArray many;
    for (int i = 0; i < 150; ++i)
        many += "BEGIN:VCARD\r\nN:Lee\r\nORG:Acme\r\nEND:VCARD\r\n";
    QTest::newRow("a hundred lines a file")
        << "cards.vcf" << many << QStringList{"cards.vcf: 50 more lines not shown.", "Imported 150"}
        << 100;
}

// What the tool says of a file: what it is known as by its contents, the values it could not
// store written so that no terminal acts on them, and no more than a hundred such lines.
void TestContactsTool::importReport()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, says);
    QFETCH(int, reportLines);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({}));
    QVERIFY(folder.writeFile(name, content));
    const QString path = folder.file(name);
    const Run run = runTool({"import", path, "--db", folder.databasePath()});
    for (const QString &text : says)
        QVERIFY2(run.output.contains(text), qPrintable(run.output));
    const QStringList lines = run.output.split(QLatin1Char('\n'));
    const QRegularExpression report(QRegularExpression::escape(path)
                                    + QStringLiteral(":\\d+: (not stored|skipped): "));
    QCOMPARE(lines.filter(report).size(), reportLines);
    QVERIFY(std::none_of(run.output.cbegin(), run.output.cend(),
                         [](QChar c) { return c == u'\x1b' || c == u'\x07'; }));
}

void TestContactsTool::exportAndBack()
{
    // Exported in the program's own CSV and vCard formats and imported into an empty address
    // book, every field comes back as it was.
    TestAppFolder from;
    ContactValues full = makeContact("7", "Ødegaard", "Åse");
    for (int i = 3; i < contactFieldCount; ++i)
        full[i] = QStringLiteral("%1, \"x\"; y\\\\z").arg(columnName(fieldAt(i)));
    full[fieldIndex(ContactField::Notes)] = QStringLiteral("line one\r\nline two");
    QVERIFY(from.createDatabase({full, makeContact("8", "Lee", "")}));
    for (const char *format : {"csv", "vcard3", "vcard4"}) {
        TestAppFolder to;
        QVERIFY(to.createDatabase({}));
        const QString file = from.file(QStringLiteral("out.") + (format[0] == 'c' ? "csv" : "vcf"));
        Run run = runTool({"export", file, "--db", from.databasePath(), "--format", format});
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        run = runTool({"import", file, "--db", to.databasePath()});
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        const QString all = QStringLiteral("select ") + [] {
            QStringList columns;
            for (int i = 0; i < contactFieldCount; ++i)
                columns << quotedColumnName(fieldAt(i));
            return columns.join(QStringLiteral(" || '|' || "));
        }() + QStringLiteral(" from contactsdb order by rowid");
        QCOMPARE(queryColumn(to.databasePath(), all), queryColumn(from.databasePath(), all));
    }
}

void TestContactsTool::jetImport_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<JetRow>>("rows");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("stored");
    const QList<JetRow> two{{"1", "Dunn"}, {"5", "Ames"}};
    QTest::newRow("Jet 4, a taken id renumbered")
        << 4 << "old.mdb" << two << "id 1 was taken: given 2"
        << QStringList{"1 Adams", "2 Dunn", "5 Ames"};
    // Known by its first bytes, whatever it is called.
    QTest::newRow("Jet 3 named .dat")
        << 3 << "old.dat" << two << "Imported 2" << QStringList{"1 Adams", "2 Dunn", "5 Ames"};
    QTest::newRow("no rows") << 4 << "old.mdb" << QList<JetRow>{}
                             << "old.mdb: the table contactsdb has no rows"
                             << QStringList{"1 Adams"};
}

void TestContactsTool::jetImport()
{
    QFETCH(int, version);
    QFETCH(QString, name);
    QFETCH(QList<JetRow>, rows);
    QFETCH(QString, says);
    QFETCH(QStringList, stored);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Adams", "Ann")}));
    JetWriteOptions options;
    options.version = version == 3 ? JetVersion::Jet3 : JetVersion::Jet4;
    options.columns = QStringList{"contactid", "LastName"};
    QVERIFY(writeJetFile(folder.file(name), options, rows));
    const Run run = runTool({"import", folder.file(name), "--db", folder.databasePath()});
    QVERIFY2(run.output.contains(says), qPrintable(run.output));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(queryColumn(folder.databasePath(),
                         "select contactid || ' ' || LastName from contactsdb order by rowid"),
             stored);
}

void TestContactsTool::jetBadInput_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    const QByteArray signature("\0\1\0\0Standard Jet DB\0", 20);
    QByteArray garbage = signature;
    QRandomGenerator random(16);
    while (garbage.size() < 8192)
        garbage += char(random.bounded(256));
    QTest::newRow("SQLite file named .mdb")
        << QByteArray("SQLite format 3\0", 16) << "not an Access (Jet) file";
    QTest::newRow("zero-filled") << QByteArray(8192, '\0') << "not an Access (Jet) file";
    QTest::newRow("Jet signature, then garbage") << garbage << "could not be read";
    QTest::newRow("truncated") << garbage.left(100) << "could not be read";
    // Found by the fuzz target: libmdb reads through a null pointer on this file.
    const auto data = [](const char *name) {
        QFile file(QStringLiteral(PELMORA_SOURCE_DIR "/tests/data/jet/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTest::newRow("libmdb crashes")
        << data("libmdb-null-usage-map.mdb") << "The reader crashed (signal 11)";
}

// The real reader process on files that are no address book: a message naming the file and
// the reason, and nothing written.
void TestContactsTool::jetBadInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Adams", "Ann")}));
    const QByteArray before = fileBytes(folder.databasePath());
    const QString path = folder.file(QStringLiteral("old.mdb"));
    QVERIFY(folder.writeFile(QStringLiteral("old.mdb"), content));
    const Run run = runTool({"import", path, "--db", folder.databasePath()});
    QVERIFY2(run.output.contains(path) && run.output.contains(reason), qPrintable(run.output));
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(fileBytes(folder.databasePath()), before);
}

QTEST_GUILESS_MAIN(TestContactsTool)
#include "tst_contactstool.moc"
