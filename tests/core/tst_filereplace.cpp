// Files the program replaces outside SQLite, checked for the order that survives a power
// loss: the new content written, synced, renamed over the old file, the folder synced. The
// program runs under strace; the order is read from its system calls.
#include <support/jetwriter.h>
#include <support/syscalltrace.h>
#include <support/testappfolder.h>

#include <QFileInfo>
#include <QTest>

class TestFileReplace : public QObject
{
    Q_OBJECT

private slots:
    void checkerFindsMissingSteps_data();
    void checkerFindsMissingSteps();
    void settingsIniReplacedDurably_data();
    void settingsIniReplacedDurably();
    void jetConversionReplacesDurably();
};

namespace {

// A replacement through a named temporary file, one step a line; the rows below leave out
// or change steps.
const QStringList namedTemporary = {
    "100 openat(AT_FDCWD</w>, \"/d/settings.ini.tmp\", O_WRONLY|O_CREAT|O_TRUNC, 0666) = "
    "3</d/settings.ini.tmp>",
    "100 write(3</d/settings.ini.tmp>, \"[settings]\\r\\nsorttype=lastname\\r\\n\", 30) = 30",
    "100 fsync(3</d/settings.ini.tmp>) = 0",
    "100 close(3</d/settings.ini.tmp>) = 0",
    "100 rename(\"/d/settings.ini.tmp\", \"/d/settings.ini\") = 0",
    "100 openat(AT_FDCWD</w>, \"/d\", O_RDONLY|O_DIRECTORY) = 3</d>",
    "100 fsync(3</d>) = 0",
    "100 close(3</d>) = 0",
};

QStringList replaced(QStringList lines, int index, const QString &line)
{
    lines[index] = line;
    return lines;
}

QStringList without(QStringList lines, int index)
{
    lines.removeAt(index);
    return lines;
}

} // namespace

void TestFileReplace::checkerFindsMissingSteps_data()
{
    QTest::addColumn<QStringList>("trace");
    QTest::addColumn<QString>("failure"); // a part of the failure, empty for none

    const QString notSynced = QStringLiteral("was not synced between its last write");
    const QString folderNotSynced = QStringLiteral("/d was not synced after the rename");

    QTest::newRow("named temporary file, every step") << namedTemporary << QString();
    QTest::newRow("unnamed file linked, then renamed") << QStringList{
        "7 openat(AT_FDCWD</w>, \"/d\", O_RDWR|O_CLOEXEC|O_TMPFILE, 0600) = "
        "3</d/#1101>(deleted)",
        "7 write(3</d/#1101>(deleted), \"[settings]\\r\\n\", 12) = 12",
        "7 fdatasync(3</d/#1101>(deleted)) = 0",
        "7 linkat(AT_FDCWD</w>, \"/proc/self/fd/3\", AT_FDCWD</w>, \"/d/settings.ini\", "
        "AT_SYMLINK_FOLLOW) = -1 EEXIST (File exists)",
        "7 linkat(AT_FDCWD</w>, \"/proc/self/fd/3\", AT_FDCWD</w>, \"/d/settings.ini.x1\", "
        "AT_SYMLINK_FOLLOW) = 0",
        "7 close(3</d/#1101>(deleted)) = 0",
        "7 rename(\"/d/settings.ini.x1\", \"/d/settings.ini\") = 0",
        "7 openat(AT_FDCWD</w>, \"/d\", O_RDONLY|O_DIRECTORY) = 3</d>",
        "7 fsync(3</d>) = 0"} << QString();
    QTest::newRow("relative names, renameat2") << QStringList{
        "5 openat(AT_FDCWD</d>, \"new.ini\", O_WRONLY|O_CREAT, 0644) = 4</d/new.ini>",
        "5 pwrite64(4</d/new.ini>, \"x\", 1, 0) = 1",
        "5 fdatasync(4</d/new.ini>) = 0",
        "5 renameat2(AT_FDCWD</d>, \"new.ini\", AT_FDCWD</d>, \"settings.ini\", 0) = 0",
        "5 openat(AT_FDCWD</d>, \".\", O_RDONLY) = 6</d>",
        "5 fsync(6</d>) = 0"} << QString();
    QTest::newRow("a call split by another process")
        << QStringList{namedTemporary[0],
                       namedTemporary[1],
                       "100 fsync(3</d/settings.ini.tmp> <unfinished ...>",
                       "101 write(1</dev/pts/0>, \"x\", 1) = 1",
                       "100 <... fsync resumed>) = 0",
                       namedTemporary[4],
                       namedTemporary[5],
                       namedTemporary[6]}
        << QString();

    QTest::newRow("folder not synced") << without(namedTemporary, 6) << folderNotSynced;
    QTest::newRow("folder synced before the rename only")
        << QStringList{namedTemporary[0], namedTemporary[1], namedTemporary[2],
                       namedTemporary[5], namedTemporary[6], namedTemporary[4]}
        << folderNotSynced;
    QTest::newRow("folder sync failed")
        << replaced(namedTemporary, 6, "100 fsync(3</d>) = -1 EIO (Input/output error)")
        << folderNotSynced;
    QTest::newRow("another folder synced")
        << replaced(replaced(namedTemporary, 5,
                             "100 openat(AT_FDCWD</w>, \"/e\", O_RDONLY|O_DIRECTORY) = 3</e>"),
                    6, "100 fsync(3</e>) = 0")
        << folderNotSynced;
    QTest::newRow("file not synced") << without(namedTemporary, 2) << notSynced;
    QTest::newRow("written again after the sync")
        << replaced(namedTemporary, 3, namedTemporary[1]) << notSynced;
    QTest::newRow("the old file synced instead")
        << replaced(namedTemporary, 2, "100 fsync(4</d/settings.ini>) = 0") << notSynced;
    QTest::newRow("written in place")
        << QStringList{"9 openat(AT_FDCWD</w>, \"/d/settings.ini\", O_WRONLY|O_TRUNC) = "
                       "3</d/settings.ini>",
                       "9 write(3</d/settings.ini>, \"[settings]\", 10) = 10",
                       "9 fsync(3</d/settings.ini>) = 0", namedTemporary[5], namedTemporary[6]}
        << QStringLiteral("was not replaced by a rename");
    QTest::newRow("renamed over another file")
        << replaced(namedTemporary, 4, "100 rename(\"/d/settings.ini.tmp\", \"/d/other.ini\") = 0")
        << QStringLiteral("was not replaced by a rename");
    QTest::newRow("rename failed")
        << replaced(namedTemporary, 4,
                    "100 rename(\"/d/settings.ini.tmp\", \"/d/settings.ini\") = -1 EACCES "
                    "(Permission denied)")
        << QStringLiteral("was not replaced by a rename");
}

void TestFileReplace::checkerFindsMissingSteps()
{
    QFETCH(QStringList, trace);
    QFETCH(QString, failure);
    const QList<support::SystemCall> calls = support::parseStraceOutput(trace.join('\n'));
    const Result<void> checked
        = support::checkDurableReplacement(calls, QStringLiteral("/d/settings.ini"));
    if (failure.isEmpty())
        QVERIFY2(checked, qPrintable(checked.error()));
    else
        QVERIFY2(!checked && checked.error().contains(failure), qPrintable(checked.error()));
}

void TestFileReplace::settingsIniReplacedDurably_data()
{
    QTest::addColumn<bool>("existsBefore");
    QTest::newRow("replacing settings.ini") << true;
    QTest::newRow("writing settings.ini for the first time") << false;
}

void TestFileReplace::settingsIniReplacedDurably()
{
    QFETCH(bool, existsBefore);
    if (support::straceProgram().isEmpty())
        QSKIP("strace is not installed (scripts/setup.sh installs it)");
    TestAppFolder folder;
    if (existsBefore)
        QVERIFY(folder.writeFile(QStringLiteral("settings.ini"),
                                 "[settings]\r\nsorttype=lastname\r\n"));
    const QString target
        = QFileInfo(folder.path()).canonicalFilePath() + QStringLiteral("/settings.ini");

    const Result<QList<support::SystemCall>> trace
        = support::traceFileCalls(QStringLiteral(SETTINGSWRITECHILD_PATH), {target});
    QVERIFY2(trace, qPrintable(trace.error()));
    QCOMPARE(folder.readFile(QStringLiteral("settings.ini")),
             QByteArray("[settings]\r\nsorttype=firstname\r\n"));
    const Result<void> durable = support::checkDurableReplacement(*trace, target);
    QVERIFY2(durable, qPrintable(durable.error()));
}

// The start-up's conversion of a Jet address book: the converted file takes the place of
// cntdb.mdb the same way, so a power loss leaves the original or the whole new file.
void TestFileReplace::jetConversionReplacesDurably()
{
    if (support::straceProgram().isEmpty())
        QSKIP("strace is not installed (scripts/setup.sh installs it)");
    TestAppFolder folder;
    const QString target
        = QFileInfo(folder.path()).canonicalFilePath() + QStringLiteral("/cntdb.mdb");
    QVERIFY(writeJetFile(target, JetWriteOptions{}, jetSampleRows(20, 5)));

    const Result<QList<support::SystemCall>> trace = support::traceFileCalls(
        QStringLiteral(JETCONVERTCHILD_PATH),
        {target, QStringLiteral(PELMORA_APP_DIR "/pelmora-jetreader")});
    QVERIFY2(trace, qPrintable(trace.error()));
    QVERIFY(QFileInfo::exists(target + QStringLiteral(".jet")));
    const Result<void> durable = support::checkDurableReplacement(*trace, target);
    QVERIFY2(durable, qPrintable(durable.error()));
}

QTEST_GUILESS_MAIN(TestFileReplace)
#include "tst_filereplace.moc"
