#include <core/settings/inireader.h>
#include <support/childprocess.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// Stands for a line of 50 MiB of "x" in a row's content, written in pieces, so the table
// itself stays small.
const QByteArray longLine = QByteArrayLiteral("@50MB@");
constexpr qint64 longLineLength = 50 * 1024 * 1024;

enum class Setup { Content, Missing, ReadOnly };

qint64 expandedSize(const QByteArray &content)
{
    return content.size() + content.count(longLine) * (longLineLength - longLine.size());
}

bool writeExpanded(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray piece(1024 * 1024, 'x');
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = content.indexOf(longLine, from);
        const QByteArray before = content.mid(from, at < 0 ? -1 : at - from);
        if (file.write(before) != before.size())
            return false;
        if (at < 0)
            return true;
        for (qint64 written = 0; written < longLineLength; written += piece.size()) {
            if (file.write(piece) != piece.size())
                return false;
        }
        from = at + longLine.size();
    }
}

QString expandedText(const QString &expected)
{
    return expected == QString::fromLatin1(longLine) ? QString(longLineLength, QLatin1Char('x'))
                                                     : expected;
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

mode_t modeOf(const QString &path)
{
    struct stat info
    {
    };
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

class TstIniReader : public QObject
{
    Q_OBJECT

private slots:
    void readIniKey_data();
    void readIniKey();
    void readErrors_data();
    void readErrors();
    void anotherUsersFile_data();
    void anotherUsersFile();
    void longLinesInBoundedMemory_data();
    void longLinesInBoundedMemory();
};

void TstIniReader::readIniKey_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString settings = QStringLiteral("settings");
    const QString installed = QStringLiteral("installed");
    const QString sortType = QStringLiteral("sorttype");
    auto row = [&](const char *name, const QByteArray &content, const QString &expected,
                   Setup setup = Setup::Content) {
        QTest::newRow(name) << content << setup << settings << installed << expected;
    };

    // The files as the program writes them.
    row("CR LF lines", "[settings]\r\ninstalled=1\r\n", "1");
    row("value 0", "[settings]\r\ninstalled=0\r\n", "0");
    row("empty file", "", "");
    row("header only", "[settings]\r\n", "");

    // Letter case: names match in any case, the value keeps its own.
    QTest::newRow("capital header and key, mixed-case value")
        << QByteArray("[SETTINGS]\r\nSORTTYPE=FirstName\r\n") << Setup::Content << settings
        << sortType << "FirstName";
    QTest::newRow("caller's names in capitals")
        << QByteArray("[settings]\r\nsorttype=lastname\r\n") << Setup::Content
        << QStringLiteral("SeTTings") << QStringLiteral("SORTTYPE") << "lastname";
    row("only ASCII letters are folded", "[settings]\r\nINSTALLED\xC3\x89=1\r\n", "");

    // Nothing is trimmed.
    row("space before header", " [settings]\r\ninstalled=1\r\n", "");
    row("space after header", "[settings] \r\ninstalled=1\r\n", "");
    row("space before key", "[settings]\r\n installed=1\r\n", "");
    row("space before =", "[settings]\r\ninstalled =0\r\n", "");
    row("space after value kept", "[settings]\r\ninstalled=0 \r\n", "0 ");
    row("space after = kept", "[settings]\r\ninstalled= 0\r\n", " 0");
    row("tab kept", "[settings]\r\ninstalled=\t1\r\n", "\t1");

    // Whole key names only, the first match wins.
    row("longer key name", "[settings]\r\ninstalledx=1\r\ninstalled=2\r\n", "2");
    row("shorter key name", "[settings]\r\ninstall=1\r\n", "");
    row("first of two", "[settings]\r\ninstalled=1\r\ninstalled=2\r\n", "1");
    row("empty value wins over a later one", "[settings]\r\ninstalled=\r\ninstalled=1\r\n", "");
    row("value with =", "[settings]\r\ninstalled=a=b=\r\n", "a=b=");
    row("semicolon line is just a line", "[settings]\r\n;installed=0\r\ninstalled=1\r\n", "1");

    // Sections.
    row("key in another section", "[other]\r\ninstalled=1\r\n", "");
    row("key above every header", "installed=1\r\n[settings]\r\n", "");
    row("other section ends ours", "[settings]\r\n[other]\r\ninstalled=1\r\n", "");
    row("section after another", "[other]\r\ninstalled=0\r\n[settings]\r\ninstalled=1\r\n", "1");
    row("repeated section starts again",
        "[settings]\r\nx=1\r\n[other]\r\ninstalled=0\r\n[settings]\r\ninstalled=1\r\n", "1");
    row("[ in a value ends the section", "[settings]\r\ninstalled=[1]\r\ninstalled=2\r\n", "");
    row("[ mid-line ends the section", "[settings]\r\nnote=a[b\r\ninstalled=1\r\n", "");
    row("[ at the end of a key line", "[settings]\r\ninstalled=1[\r\n", "");
    row("header with text after it", "[settings]x\r\ninstalled=1\r\n", "");
    row("header inside a line", "x[settings]\r\ninstalled=1\r\n", "");

    // Line ends.
    row("no final terminator", "[settings]\r\ninstalled=1", "1");
    row("LF lines", "[settings]\ninstalled=1\n", "1");
    row("lone CR lines", "[settings]\rinstalled=1\r", "1");
    row("LF CR is two line ends", "[settings]\n\rinstalled=1", "1");
    row("CR CR LF", "[settings]\r\r\ninstalled=1\r\r\n", "1");
    row("line end splits a key", "[settings]\r\ninstal\rled=1\r\n", "");

    // Bytes that are not text.
    row("NUL and high bytes before the section",
        QByteArray("\x00\xff\xfe\x01\r\n[settings]\r\ninstalled=1\r\n", 29), "1");
    row("NUL after the header", QByteArray("[settings]\x00\r\ninstalled=1\r\n", 25), "");
    row("NUL inside the value",
        QByteArray("[settings]\r\ninstalled=a\x00"
                   "b\r\n",
                   26),
        QString::fromLatin1("a\0b", 3));
    row("UTF-8 value", "[settings]\r\ninstalled=caf\xC3\xA9\r\n", QStringLiteral("caf\u00e9"));
    row("Latin-1 value", "[settings]\r\ninstalled=caf\xE9\r\n", QStringLiteral("caf\u00e9"));

    // Long lines: read by the same rules (memory is checked in longLinesInBoundedMemory).
    row("50 MB line before the section", longLine + "\r\n[settings]\r\ninstalled=1\r\n", "1");
    row("50 MB line in the section", "[settings]\r\n" + longLine + "\r\ninstalled=1\r\n", "1");
    row("50 MB key line ended by [", "[settings]\r\ninstalled=" + longLine + "[\r\ninstalled=1\r\n",
        "");
    row("50 MB value", "[settings]\r\ninstalled=" + longLine + "\r\n",
        QString::fromLatin1(longLine));

    // The file itself.
    row("missing file is created empty", {}, "", Setup::Missing);
    row("read-only file is read", "[settings]\r\ninstalled=1\r\n", "1", Setup::ReadOnly);
}

void TstIniReader::readIniKey()
{
    QFETCH(QByteArray, content);
    QFETCH(Setup, setup);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("test.ini"));
    if (setup != Setup::Missing)
        QVERIFY(writeExpanded(path, content));
    if (setup == Setup::ReadOnly)
        QVERIFY(setMode(path, 0444));

    const Result<QString> result = settings::readIniKey(path, section, key);

    QVERIFY2(result, qPrintable(result.error()));
    if (expected == QString::fromLatin1(longLine))
        QVERIFY(*result == expandedText(expected)); // QCOMPARE would print 50 MB
    else
        QCOMPARE(*result, expected);

    // The reader never changes what the file holds.
    const QFileInfo after(path);
    QVERIFY(after.isFile());
    QCOMPARE(after.size(), setup == Setup::Missing ? 0 : expandedSize(content));
    if (!content.contains(longLine) && setup != Setup::Missing) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
    if (setup == Setup::ReadOnly)
        QCOMPARE(modeOf(path), mode_t(0644));
}

void TstIniReader::readErrors_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("folderToCreate");
    QTest::addColumn<QString>("reason");

    QTest::newRow("path is a folder") << "crystl32.ini"
                                      << "crystl32.ini"
                                      << "the path is a folder, not a file";
    QTest::newRow("folder missing")
        << "Program Data/crystl32.ini" << QString() << "the folder %1/Program Data does not exist";
}

void TstIniReader::readErrors()
{
    QFETCH(QString, relativePath);
    QFETCH(QString, folderToCreate);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!folderToCreate.isEmpty())
        QVERIFY(QDir(dir.path()).mkpath(folderToCreate));
    const QString path = dir.filePath(relativePath);

    const Result<QString> result
        = settings::readIniKey(path, QStringLiteral("settings"), QStringLiteral("installed"));

    QVERIFY(!result);
    const QString expectedReason
        = reason.contains(QLatin1String("%1")) ? reason.arg(dir.path()) : reason;
    QCOMPARE(result.error(), path + QStringLiteral(": ") + expectedReason);
    // A failed read creates nothing.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             folderToCreate.isEmpty() ? QStringList() : QStringList(folderToCreate));
}

// Root may change and read every file, so these run the reader as the user nobody.
void TstIniReader::anotherUsersFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode"); // -1: no file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("reason");

    QTest::newRow("read-only, cannot be made writable: read anyway")
        << QByteArray("[settings]\r\ninstalled=1\r\n") << 0444 << 0 << QByteArray("1") << QString();
    QTest::newRow("not readable: the error names the file")
        << QByteArray("[settings]\r\ninstalled=1\r\n") << 0600 << 1 << QByteArray()
        << "Permission denied";
    QTest::newRow("missing, folder not writable: cannot be created")
        << QByteArray() << -1 << 1 << QByteArray() << "Permission denied";
}

void TstIniReader::anotherUsersFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(QString, reason);

    if (!canDropPrivileges())
        QSKIP("needs root and setpriv to run the reader as another user");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(setMode(dir.path(), 0755));
    const QString path = dir.filePath(QStringLiteral("crystl32.ini"));
    if (mode >= 0) {
        QVERIFY(writeExpanded(path, content));
        QVERIFY(setMode(path, mode_t(mode)));
    }

    const ChildResult child
        = runAsNobody(QStringLiteral(INIKEYREADER_PATH),
                      {path, QStringLiteral("settings"), QStringLiteral("installed")});

    QVERIFY(child.started);
    QCOMPARE(child.exitCode, exitCode);
    QCOMPARE(child.output, output);
    if (!reason.isEmpty()) {
        QCOMPARE(QString::fromUtf8(child.errors).trimmed(), path + QStringLiteral(": ") + reason);
    }
    // Nothing about the file changed: the child could not change it.
    QCOMPARE(QFileInfo::exists(path), mode >= 0);
    if (mode >= 0)
        QCOMPARE(modeOf(path), mode_t(mode));
}

// The reader runs in a child whose address space may grow by only 16 MiB; a reader that
// kept a 50 MB line whole would fail there.
void TstIniReader::longLinesInBoundedMemory_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("50 MB line before the section") << longLine + "\r\n[settings]\r\ninstalled=1\r\n"
                                                   << true << QByteArray("1");
    QTest::newRow("50 MB line in the section")
        << "[settings]\r\n" + longLine + "\r\ninstalled=1\r\n"
        << true << QByteArray("1");
    QTest::newRow("50 MB lone-CR line")
        << "[settings]\r" + longLine + "\rinstalled=1" << true << QByteArray("1");
    QTest::newRow("50 MB key line ended by [")
        << "[settings]\r\ninstalled=" + longLine + "[\r\n[settings]\r\ninstalled=1\r\n"
        << true << QByteArray("1");
    QTest::newRow("50 MB key line of another key")
        << "[settings]\r\ninstalledx=" + longLine + "\r\ninstalled=1\r\n"
        << true << QByteArray("1");
    // The value itself must be returned whole: this shows the cap really bites.
    QTest::newRow("50 MB value does not fit") << "[settings]\r\ninstalled=" + longLine + "\r\n"
                                              << false << QByteArray();
}

void TstIniReader::longLinesInBoundedMemory()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, succeeds);
    QFETCH(QByteArray, output);

#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves address space that a capped child cannot have");
#endif

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("crystl32.ini"));
    QVERIFY(writeExpanded(path, content));

    const ChildResult child = runChild(QStringLiteral(INIKEYREADER_PATH),
                                       {QStringLiteral("--headroom-mb"), QStringLiteral("16"), path,
                                        QStringLiteral("settings"), QStringLiteral("installed")});

    QVERIFY(child.started);
    if (succeeds) {
        QVERIFY2(child.exitCode == 0, child.errors.constData());
        QCOMPARE(child.output, output);
    } else {
        QVERIFY(child.exitCode != 0 && child.exitCode != 2);
    }
}

QTEST_GUILESS_MAIN(TstIniReader)

#include "tst_inireader.moc"
