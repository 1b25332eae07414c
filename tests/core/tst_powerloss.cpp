// Power failures, not only killed processes: what a disk keeps of unsynced writes is up to
// the disk. Every write of the store and of the imports goes through a recording file layer;
// afterwards the power fails, in simulation, at random points of the record, and the
// database must open whole, holding every commit that was acknowledged and nothing of one
// that was cut short.
#include <support/dbquery.h>
#include <support/powerlosshistory.h>
#include <support/powerlossvfs.h>
#include <support/testappfolder.h>

#include <core/contacts/contactstore.h>
#include <core/contacts/duplicates.h>
#include <core/contacts/recordsource.h>
#include <core/interchange/contactimport.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <random>

namespace {

// Enough losses per record that nearly every point of it is hit, with different random
// choices, and over a thousand per run.
constexpr int storeLosses = 600;
constexpr int interchangeLosses = 300;

// Texts of varied length: long ones span several sectors and overflow pages, so that torn
// writes land inside a row.
QString randomText(std::mt19937_64 &random)
{
    static const QString letters
        = QStringLiteral("abcdefghijklmnopqrstuvwxyzäöüßéABCXYZ 0123456789-");
    const int length = random() % 8 == 0 ? 300 + int(random() % 1500) : 1 + int(random() % 24);
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += letters[int(random() % quint64(letters.size()))];
    return text;
}

ContactField randomField(std::mt19937_64 &random)
{
    return fieldAt(1 + int(random() % (contactFieldCount - 1)));
}

const QStringList sortTypes
    = {QStringLiteral("lastname"), QStringLiteral("firstname"), QStringLiteral("contactid")};

bool setJournalMode(const QString &path, const QString &mode)
{
    return queryColumn(path, QStringLiteral("PRAGMA journal_mode")) == QStringList{mode}
           || (execOn(path, QStringLiteral("PRAGMA journal_mode=") + mode)
               && queryColumn(path, QStringLiteral("PRAGMA journal_mode")) == QStringList{mode});
}

// The rows, or the reason they cannot be read, for comparisons.
QStringList rowsOrError(const QString &path)
{
    const Result<QStringList> rows = support::contactRows(path);
    return rows ? *rows : QStringList{QStringLiteral("<%1>").arg(rows.error())};
}

ImportedContact importedContact(std::mt19937_64 &random)
{
    ImportedContact contact;
    for (int i = 1; i < contactFieldCount; ++i)
        contact.values[i] = randomText(random);
    return contact;
}

} // namespace

class TestPowerLoss : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void vfsLosesWhatWasNotSynced_data();
    void vfsLosesWhatWasNotSynced();
    void storeCommitsSurvive_data();
    void storeCommitsSurvive();
    void interchangeAllOrNothing_data();
    void interchangeAllOrNothing();

private:
    quint64 m_seed = 0;
    // Where the disks after the losses are written.
    std::unique_ptr<QTemporaryDir> m_losses;
};

void TestPowerLoss::initTestCase()
{
    m_seed = support::testSeed("PELMORA_POWERLOSS_SEED");
    // Reopening a disk after a loss rolls a journal back with real syncs, thousands of times
    // per run: in memory they cost nothing.
    const QFileInfo inMemory(QStringLiteral("/dev/shm"));
    if (inMemory.isDir() && inMemory.isWritable())
        m_losses = std::make_unique<QTemporaryDir>(inMemory.filePath()
                                                   + QStringLiteral("/pelmora-XXXXXX"));
    if (!m_losses || !m_losses->isValid())
        m_losses = std::make_unique<QTemporaryDir>();
    QVERIFY(m_losses->isValid());
}

// The layer itself, on writes made with its sync rules known: without it, a store test that
// passes proves nothing.
void TestPowerLoss::vfsLosesWhatWasNotSynced_data()
{
    QTest::addColumn<QString>("synchronous");
    QTest::addColumn<bool>("commitMayBeLost"); // the last acknowledged commit
    QTest::newRow("OFF: nothing synced") << QStringLiteral("OFF") << true;
    QTest::newRow("FULL: journal deleted without syncing its folder")
        << QStringLiteral("FULL") << true;
    QTest::newRow("EXTRA: folder synced after the deletion") << QStringLiteral("EXTRA") << false;
}

void TestPowerLoss::vfsLosesWhatWasNotSynced()
{
    QFETCH(QString, synchronous);
    QFETCH(bool, commitMayBeLost);
    TestAppFolder folder;
    QVERIFY(folder.createDatabase({makeContact("1", "Before", "Loss")}));
    const QString path = folder.databasePath();
    const QStringList before = rowsOrError(path);

    support::PowerLossVfs vfs;
    vfs.install();
    {
        sqlite::Connection db;
        QVERIFY(db.open(path, sqlite::Connection::Mode::ReadWrite));
        QVERIFY(db.exec(QStringLiteral("PRAGMA synchronous=") + synchronous));
        QVERIFY(db.exec(QStringLiteral("UPDATE contactsdb SET lastname = 'After'")));
    }
    vfs.uninstall();
    const QStringList after = rowsOrError(path);
    QVERIFY(before != after);

    // A loss after the last change: the commit was acknowledged.
    int lost = 0;
    const QString losses = m_losses->path();
    for (quint64 seed = 0; seed < 64; ++seed) {
        QVERIFY(support::writeDisk(vfs.diskAfterLoss(vfs.changeCount(), seed), losses));
        const QString recovered = losses + QStringLiteral("/cntdb.mdb");
        const Result<void> reopened = support::reopenWithStore(recovered);
        const Result<QStringList> rows = support::contactRows(recovered);
        if (!reopened || !rows || *rows != after)
            ++lost;
    }
    QCOMPARE(lost > 0, commitMayBeLost);

    // Before the first change nothing is lost, whatever the disk does.
    QVERIFY(support::writeDisk(vfs.diskAfterLoss(0, 1), losses));
    QCOMPARE(rowsOrError(losses + QStringLiteral("/cntdb.mdb")), before);
}

void TestPowerLoss::storeCommitsSurvive_data()
{
    QTest::addColumn<QString>("journalMode");
    QTest::newRow("rollback journal") << QStringLiteral("delete");
    QTest::newRow("write-ahead log") << QStringLiteral("wal");
}

void TestPowerLoss::storeCommitsSurvive()
{
    QFETCH(QString, journalMode);
    TestAppFolder folder;
    QVERIFY(folder.createDemoDatabase(12, 7));
    const QString path = folder.databasePath();
    QVERIFY(setJournalMode(path, journalMode));
    std::mt19937_64 random(m_seed);

    support::PowerLossVfs vfs;
    vfs.install();
    support::PowerLossHistory history(vfs, path, support::contactRows);
    QVERIFY(history.start());
    {
        ContactStore store;
        store.setDatabaseName(path);
        store.setRecordSource(recordSourceForSortType(sortTypes[0]));
        QVERIFY(history.run(QStringLiteral("open"), [&] { return store.open(); }));
        const auto someRow = [&] {
            return int(random() % quint64(store.recordCount()));
        };
        for (int step = 0; step < 24; ++step) {
            Result<void> done;
            switch (random() % 4) {
            case 0:
                done = history.run(QStringLiteral("edit %1").arg(step), [&]() -> Result<void> {
                    if (Result<void> moved = store.moveTo(someRow()); !moved)
                        return moved;
                    for (int fields = 1 + int(random() % 3); fields > 0; --fields)
                        store.setFieldText(randomField(random), randomText(random));
                    return store.commit();
                });
                break;
            case 1:
                done = history.run(
                    QStringLiteral("new contact %1").arg(step), [&]() -> Result<void> {
                        const Result<qint64> id = store.nextContactId();
                        if (!id)
                            return Failure{id.error()};
                        if (Result<void> added = store.addNew(); !added)
                            return added;
                        store.setFieldText(ContactField::ContactId, QString::number(*id));
                        for (int i = 1; i < contactFieldCount; ++i)
                            store.setFieldText(fieldAt(i), randomText(random));
                        return store.commit();
                    });
                break;
            case 2:
                if (store.recordCount() < 4)
                    continue;
                done = history.run(QStringLiteral("delete %1").arg(step), [&]() -> Result<void> {
                    if (Result<void> moved = store.moveTo(someRow()); !moved)
                        return moved;
                    return store.deleteCurrent();
                });
                break;
            default:
                // The order's re-read commits the edit in hand first.
                done = history.run(
                    QStringLiteral("edit and new order %1").arg(step), [&]() -> Result<void> {
                        if (Result<void> moved = store.moveTo(someRow()); !moved)
                            return moved;
                        store.setFieldText(randomField(random), randomText(random));
                        store.setRecordSource(
                            recordSourceForSortType(sortTypes[int(random() % sortTypes.size())]));
                        return store.refresh();
                    });
                break;
            }
            QVERIFY2(done, qPrintable(done.error()));
        }
        store.close();
    }
    vfs.uninstall();

    const Result<support::PowerLossHistory::Tally> tally
        = history.checkLosses(storeLosses, m_seed, m_losses->path(), support::reopenWithStore);
    QVERIFY2(tally, qPrintable(tally.error()));
    qInfo("%d losses over %lld recorded changes; %d cut an operation short, %d of them lost it",
          tally->losses, vfs.changeCount(), tally->duringOperation, tally->operationLost);
    // The layer really dropped writes: some losses undid the operation they cut short.
    QVERIFY(tally->operationLost > 0);
}

void TestPowerLoss::interchangeAllOrNothing_data()
{
    QTest::addColumn<QString>("journalMode");
    QTest::addColumn<int>("contactsPerImport");
    QTest::newRow("rollback journal, a few contacts") << QStringLiteral("delete") << 4;
    QTest::newRow("rollback journal, many pages") << QStringLiteral("delete") << 60;
    QTest::newRow("write-ahead log, many pages") << QStringLiteral("wal") << 60;
}

// An import is one transaction, and so is a merge of duplicates: cut anywhere, the database
// is as before it or as after it.
void TestPowerLoss::interchangeAllOrNothing()
{
    QFETCH(QString, journalMode);
    QFETCH(int, contactsPerImport);
    TestAppFolder folder;
    QVERIFY(folder.createDemoDatabase(8, 3));
    const QString path = folder.databasePath();
    QVERIFY(setJournalMode(path, journalMode));
    std::mt19937_64 random(m_seed);

    support::PowerLossVfs vfs;
    vfs.install();
    support::PowerLossHistory history(vfs, path, support::contactRows);
    QVERIFY(history.start());
    for (int import = 1; import <= 2; ++import) {
        const Result<void> done
            = history.run(QStringLiteral("import %1").arg(import), [&]() -> Result<void> {
                  Result<std::unique_ptr<interchange::ContactImporter>> importer
                      = interchange::ContactImporter::begin(path, {});
                  if (!importer)
                      return Failure{importer.error()};
                  for (int i = 0; i < contactsPerImport; ++i) {
                      if (Result<void> added = (*importer)->add(importedContact(random)); !added)
                          return added;
                  }
                  const Result<interchange::ImportSummary> summary = (*importer)->finish();
                  if (!summary)
                      return Failure{summary.error()};
                  return {};
              });
        QVERIFY2(done, qPrintable(done.error()));
    }
    const Result<void> merged = history.run(QStringLiteral("merge"), [&]() -> Result<void> {
        const Result<contacts::MergeOutcome> outcome = contacts::mergeContacts(path, 1, 9, false);
        if (!outcome)
            return Failure{outcome.error()};
        return {};
    });
    QVERIFY2(merged, qPrintable(merged.error()));
    vfs.uninstall();

    const Result<support::PowerLossHistory::Tally> tally = history.checkLosses(
        interchangeLosses, m_seed, m_losses->path(), support::reopenWithStore);
    QVERIFY2(tally, qPrintable(tally.error()));
    qInfo("%d losses over %lld recorded changes; %d cut an operation short, %d of them lost it",
          tally->losses, vfs.changeCount(), tally->duringOperation, tally->operationLost);
    QVERIFY(tally->operationLost > 0);
}

QTEST_GUILESS_MAIN(TestPowerLoss)
#include "tst_powerloss.moc"
