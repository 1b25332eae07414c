// Report definitions and data sources that are not what they should be: the report engine
// refuses them with a message that names the file and the reason, and changes nothing.
#include <support/dbquery.h>

#include <report/report.h>
#include <sqlite/connection.h>
#include <support/testappfolder.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

using reportengine::Report;

namespace {

QByteArray shippedDefinition()
{
    QFile file(QStringLiteral(PELMORA_SOURCE_DIR "/data/phonelist.rpt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestReportFaults : public QObject
{
    Q_OBJECT

private slots:
    void refusedWithReason_data();
    void refusedWithReason();
    void hugeDefinitionStillLoads();
    void lockedDataSourceIsStillRead();
};

void TestReportFaults::refusedWithReason_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("file");   // "definition" or "database": which file is named
    QTest::addColumn<QString>("reason"); // a word of the reason
    QTest::newRow("definition is binary") << "binary definition"
                                          << "definition"
                                          << "JSON";
    QTest::newRow("definition is empty") << "empty definition"
                                         << "definition"
                                         << "JSON";
    QTest::newRow("definition is a folder") << "definition folder"
                                            << "definition"
                                            << "directory";
    QTest::newRow("data source is not a database") << "text database"
                                                   << "database"
                                                   << "not a database";
    QTest::newRow("data source is a folder") << "database folder"
                                             << "database"
                                             << "directory";
    QTest::newRow("data source has no contactsdb") << "no table"
                                                   << "database"
                                                   << "contactsdb";
}

void TestReportFaults::refusedWithReason()
{
    QFETCH(QString, fault);
    QFETCH(QString, file);
    QFETCH(QString, reason);
    TestAppFolder folder;
    const QByteArray definition = shippedDefinition();
    QVERIFY(!definition.isEmpty());
    const QString definitionPath = folder.file(QStringLiteral("phonelist.rpt"));
    if (fault == "binary definition")
        QVERIFY(folder.writeFile(QStringLiteral("phonelist.rpt"), randomBytes(4096, 7)));
    else if (fault == "empty definition")
        QVERIFY(folder.writeFile(QStringLiteral("phonelist.rpt"), QByteArray()));
    else if (fault == "definition folder")
        QVERIFY(QDir().mkpath(definitionPath));
    else
        QVERIFY(folder.writeFile(QStringLiteral("phonelist.rpt"), definition));

    if (fault == "text database") {
        QVERIFY(folder.writeFile(QStringLiteral("cntdb.mdb"), "name,phone\nAnn,555\n"));
    } else if (fault == "database folder") {
        QVERIFY(QDir().mkpath(folder.databasePath()));
    } else if (fault == "no table") {
        sqlite::Connection db;
        QVERIFY(db.open(folder.databasePath(), sqlite::Connection::Mode::ReadWriteCreate));
        QVERIFY(db.exec(QStringLiteral("create table other (x)")));
    } else {
        QVERIFY(folder.createDatabase({makeContact("1", "Adams", "Ann")}));
    }
    const QByteArray databaseBefore = fileBytes(folder.databasePath());
    const QByteArray definitionBefore = fileBytes(definitionPath);

    const Result<Report> report = Report::open(definitionPath, QDate(2026, 3, 14));
    QVERIFY(!report);
    const QString error = report.error();
    const QString named = file == "definition" ? definitionPath : folder.databasePath();
    QVERIFY2(error.contains(named), qPrintable(error));
    QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(fileBytes(folder.databasePath()), databaseBefore);
    QCOMPARE(fileBytes(definitionPath), definitionBefore);
    QVERIFY(QDir(folder.path()).entryList({QStringLiteral("cntdb.mdb-*")}).isEmpty());
}

void TestReportFaults::hugeDefinitionStillLoads()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Adams", "Ann")}));
    // 16 MB of blank lines before a valid definition: read whole, no limit of its own.
    QByteArray definition(16 * 1024 * 1024, '\n');
    definition += shippedDefinition();
    QVERIFY(folder.writeFile(QStringLiteral("phonelist.rpt"), definition));
    const auto report
        = Report::open(folder.file(QStringLiteral("phonelist.rpt")), QDate(2026, 3, 14));
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->rowCount(), 1);
}

void TestReportFaults::lockedDataSourceIsStillRead()
{
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Adams", "Ann")}));
    QVERIFY(folder.writeFile(QStringLiteral("phonelist.rpt"), shippedDefinition()));
    // The main window in the middle of a commit: it holds the write lock, readers may read.
    sqlite::Connection writer;
    QVERIFY(writer.open(folder.databasePath(), sqlite::Connection::Mode::ReadWrite));
    QVERIFY(writer.exec(QStringLiteral("BEGIN IMMEDIATE")));
    QVERIFY(writer.exec(QStringLiteral("UPDATE contactsdb SET lastname = 'Uncommitted'")));
    const auto report
        = Report::open(folder.file(QStringLiteral("phonelist.rpt")), QDate(2026, 3, 14));
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->cellText(0, 0).section(QLatin1Char(','), 0, 0), QStringLiteral("Adams"));
    QVERIFY(writer.exec(QStringLiteral("ROLLBACK")));
}

QTEST_MAIN(TestReportFaults)
#include "tst_reportfaults.moc"
