// The Jet file generator, checked by reading its files back with mdbtools (mdb-ver,
// mdb-tables, mdb-schema, mdb-count, mdb-export): another reader than the one under test.
#include <support/jetwriter.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// mdb-export without quoting, with separators that no value holds. mdbtools reads a
// zero-length text as NULL, so an empty value comes back as the NULL mark too.
const QString fieldSeparator = QStringLiteral("\x1f");
const QString rowSeparator = QStringLiteral("\x1e");
const QString nullMark = QStringLiteral("\x01");

struct Output
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Output run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    // mdbtools takes a Jet 3 file's code page from its header unless MDB_JET3_CHARSET says
    // otherwise, and writes UTF-8 unless MDBICONV does: the header's code page is under test.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("MDB_JET3_CHARSET"));
    env.remove(QStringLiteral("MDBICONV"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// The table as mdb-export prints it, header row first; empty when mdb-export failed.
QList<QStringList> exportTable(const QString &path, const QString &table)
{
    const Output o
        = run(QStringLiteral("mdb-export"),
              {QStringLiteral("-Q"), QStringLiteral("-d"), fieldSeparator, QStringLiteral("-R"),
               rowSeparator, QStringLiteral("-0"), nullMark, path, table});
    if (o.exitCode != 0 || !o.err.isEmpty()) {
        qWarning("mdb-export: exit %d, %s", o.exitCode, o.err.constData());
        return {};
    }
    QList<QStringList> rows;
    const QStringList lines = QString::fromUtf8(o.out).split(rowSeparator);
    for (const QString &line : lines) {
        if (!line.isEmpty())
            rows.append(line.split(fieldSeparator));
    }
    return rows;
}

QList<QStringList> expectedTable(const QStringList &columns, const QList<JetRow> &rows)
{
    QList<QStringList> table{columns};
    for (const JetRow &row : rows) {
        QStringList values;
        for (const std::optional<QString> &value : row)
            values.append(value && !value->isEmpty() ? *value : nullMark);
        table.append(values);
    }
    return table;
}

// The first difference, so that a failure shows the cell rather than two whole tables.
QString firstDifference(const QList<QStringList> &actual, const QList<QStringList> &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("%1 rows read, %2 written").arg(actual.size()).arg(expected.size());
    for (int r = 0; r < actual.size(); ++r) {
        if (actual[r].size() != expected[r].size())
            return QStringLiteral("row %1: %2 values").arg(r).arg(actual[r].size());
        for (int c = 0; c < actual[r].size(); ++c) {
            if (actual[r][c] != expected[r][c])
                return QStringLiteral(
                           "row %1, column %2: read \"%3\" (%4 chars), wrote \"%5\" (%6 chars)")
                    .arg(r)
                    .arg(expected[0][c], actual[r][c].left(60))
                    .arg(actual[r][c].size())
                    .arg(expected[r][c].left(60))
                    .arg(expected[r][c].size());
        }
    }
    return {};
}

JetRow contactRow(int id, const QString &last, const QString &first = {}, const QString &notes = {})
{
    JetRow row(17);
    row[0] = QString::number(id);
    row[1] = last;
    if (!first.isNull())
        row[2] = first;
    if (!notes.isNull())
        row[16] = notes;
    return row;
}

// Rows whose lengths climb past every 256-byte step of a Jet 3 row up to a full page.
QList<JetRow> rowsOfEveryLength(int maxLength)
{
    QList<JetRow> rows;
    for (int length = 0, id = 1; length <= maxLength; ++length, ++id) {
        JetRow row(17);
        row[0] = QString::number(id);
        int left = length;
        for (int c = 1; c < 16 && left > 0; ++c) {
            const int take = std::min(left, 200);
            row[c] = QString(take, QChar(u'a' + c));
            left -= take;
        }
        rows.append(row);
    }
    return rows;
}

QString repeated(const QString &piece, int length)
{
    QString s;
    while (s.size() < length)
        s += piece;
    return s.left(length);
}

} // namespace

class JetWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readBack_data();
    void readBack();
    void columnTypes_data();
    void columnTypes();
    void fullTable_data();
    void fullTable();
    void compressedIsShorter();
    void refused_data();
    void refused();
    void unwritableFolder();

private:
    QString write(const JetWriteOptions &options, const QList<JetRow> &rows);

    QTemporaryDir m_dir;
    int m_files = 0;
    bool m_haveMdbTools = false;
};

void JetWriterTest::initTestCase()
{
    m_haveMdbTools = !QStandardPaths::findExecutable(QStringLiteral("mdb-export")).isEmpty();
    QVERIFY(m_dir.isValid());
}

QString JetWriterTest::write(const JetWriteOptions &options, const QList<JetRow> &rows)
{
    const QString path = m_dir.filePath(QStringLiteral("file%1.mdb").arg(++m_files));
    const Result<void> written = writeJetFile(path, options, rows);
    if (!written) {
        qWarning("%s", qPrintable(written.error()));
        return {};
    }
    return path;
}

void JetWriterTest::readBack_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("compress");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("tableName");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<QList<JetRow>>("rows");

    const int jet3 = int(JetVersion::Jet3);
    const int jet4 = int(JetVersion::Jet4);
    const QString table = QStringLiteral("contactsdb");
    const QStringList all = jetContactColumns();

    JetRow nulls(17);
    JetRow extremes = contactRow(2147483647, QStringLiteral("Max"));
    JetRow negative = contactRow(-5, QStringLiteral("Minus"), QString(""));
    const QList<JetRow> western{contactRow(1, QStringLiteral("Müller"), QStringLiteral("Zoë"),
                                           QStringLiteral("€ 5 – „quoted“ Œuvre, naïve; ‰ ™ Ÿ")),
                                contactRow(2, QStringLiteral("O'Brien, \"Jr.\""),
                                           QStringLiteral("Åsa"),
                                           QStringLiteral("two\nlines\r\nand a tab\there")),
                                nulls, extremes, negative};
    QTest::newRow("Jet 3, windows-1252") << jet3 << false << 1252 << table << all << western;
    QTest::newRow("Jet 4, plain") << jet4 << false << 1252 << table << all << western;
    QTest::newRow("Jet 4, compressed") << jet4 << true << 1252 << table << all << western;

    const QList<JetRow> greek{contactRow(1, QStringLiteral("Παπαδόπουλος"), QStringLiteral("Ελένη"),
                                         QStringLiteral("Σημειώσεις: καλή γνωριμία."))};
    QTest::newRow("Jet 3, windows-1253") << jet3 << false << 1253 << table << all << greek;

    const QList<JetRow> nonLatin{
        contactRow(1, QStringLiteral("山田"), QStringLiteral("太郎"),
                   QStringLiteral("東京都の住所")),
        contactRow(2, QStringLiteral("Παπαδόπουλος"), QStringLiteral("Ελένη")),
        // Latin and Greek in turns: the compressed form switches back and forth.
        contactRow(3, QStringLiteral("abc Ωmega def Ψ x"), QStringLiteral("Ωmega")),
        // A character whose low byte is zero (U+0100, U+4E00) keeps its value plain.
        contactRow(4, QStringLiteral("Āli"), QStringLiteral("一二三"), QStringLiteral("Ā and 一"))};
    QTest::newRow("Jet 4, plain, non-Latin") << jet4 << false << 1252 << table << all << nonLatin;
    QTest::newRow("Jet 4, compressed, non-Latin")
        << jet4 << true << 1252 << table << all << nonLatin;

    QTest::newRow("Jet 3, rows of every length")
        << jet3 << false << 1252 << table << all << rowsOfEveryLength(1900);
    QTest::newRow("Jet 4, rows of every length")
        << jet4 << true << 1252 << table << all << rowsOfEveryLength(3000);

    const QList<JetRow> sample = jetSampleRows(2000, 42);
    QTest::newRow("Jet 3, many data pages") << jet3 << false << 1252 << table << all << sample;
    QTest::newRow("Jet 4, many data pages") << jet4 << false << 1252 << table << all << sample;
    QTest::newRow("Jet 4, compressed, many data pages")
        << jet4 << true << 1252 << table << all << jetSampleRows(2000, 43, true);

    // In the row up to 256 stored bytes; beyond, on a page of its own; beyond one page, a
    // chain of pages. Jet 4 stores two bytes a character unless compressed (at most 1,024).
    const QList<JetRow> memos{
        contactRow(1, QStringLiteral("inline"), {},
                   repeated(QStringLiteral("Memo, \"short\". "), 100)),
        contactRow(2, QStringLiteral("128"), {}, repeated(QStringLiteral("abcdefgh"), 128)),
        contactRow(3, QStringLiteral("256"), {}, repeated(QStringLiteral("ijklmnop"), 256)),
        contactRow(4, QStringLiteral("257"), {}, repeated(QStringLiteral("qrstuvwx"), 257)),
        contactRow(5, QStringLiteral("1000"), {},
                   repeated(QStringLiteral("Long memo line\n"), 1000)),
        contactRow(6, QStringLiteral("1025"), {}, repeated(QStringLiteral("0123456789"), 1025)),
        contactRow(7, QStringLiteral("one page"), {}, repeated(QStringLiteral("Zeile. "), 1900)),
        contactRow(8, QStringLiteral("100 KB"), {},
                   repeated(QStringLiteral("A hundred kilobytes, line after line.\n"), 100 * 1024)),
        contactRow(9, QStringLiteral("after"), {}, QStringLiteral("short again"))};
    QTest::newRow("Jet 3, memos") << jet3 << false << 1252 << table << all << memos;
    QTest::newRow("Jet 4, memos") << jet4 << false << 1252 << table << all << memos;
    QTest::newRow("Jet 4, compressed, memos") << jet4 << true << 1252 << table << all << memos;
    const QList<JetRow> greekMemo{contactRow(1, QStringLiteral("Greek memo"), {},
                                             repeated(QStringLiteral("Καλημέρα κόσμε. "), 30000))};
    QTest::newRow("Jet 4, compressed, long Greek memo")
        << jet4 << true << 1252 << table << all << greekMemo;

    const QStringList shuffled{QStringLiteral("Notes"),     QStringLiteral("lastname"),
                               QStringLiteral("Birthday"),  QStringLiteral("contactid"),
                               QStringLiteral("firstname"), QStringLiteral("Email Address 1")};
    const QList<JetRow> shuffledRows{{QStringLiteral("note"), QStringLiteral("Smith"),
                                      QStringLiteral("1970-01-01"), QStringLiteral("7"),
                                      QStringLiteral("Ann"), QStringLiteral("ann@example.org")},
                                     {std::nullopt, QStringLiteral("Doe"), std::nullopt,
                                      std::nullopt, QStringLiteral("Jo"), std::nullopt}};
    QTest::newRow("Jet 3, other columns")
        << jet3 << false << 1252 << table << shuffled << shuffledRows;
    QTest::newRow("Jet 4, other columns")
        << jet4 << true << 1252 << table << shuffled << shuffledRows;

    QTest::newRow("Jet 4, table name in other case")
        << jet4 << false << 1252 << QStringLiteral("ContactsDB") << all << western;
    QTest::newRow("Jet 3, no rows") << jet3 << false << 1252 << table << all << QList<JetRow>{};
    QTest::newRow("Jet 4, no rows") << jet4 << true << 1252 << table << all << QList<JetRow>{};
}

void JetWriterTest::readBack()
{
    if (!m_haveMdbTools)
        QSKIP("mdb-export is not installed (Debian package mdbtools, see scripts/setup.sh): "
              "the generated files cannot be read back.");
    QFETCH(int, version);
    QFETCH(bool, compress);
    QFETCH(int, codePage);
    QFETCH(QString, tableName);
    QFETCH(QStringList, columns);
    QFETCH(QList<JetRow>, rows);

    JetWriteOptions options;
    options.version = JetVersion(version);
    options.compressText = compress;
    options.codePage = codePage;
    options.tableName = tableName;
    options.columns = columns;
    const QString path = write(options, rows);
    QVERIFY(!path.isEmpty());

    const bool jet3 = options.version == JetVersion::Jet3;
    QCOMPARE(QFile(path).size() % (jet3 ? 2048 : 4096), 0);
    QCOMPARE(run(QStringLiteral("mdb-ver"), {path}).out.trimmed(), jet3 ? "JET3" : "JET4");
    // Only the table is a user table; the catalog is a system table.
    QCOMPARE(run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), path}).out.trimmed(),
             tableName.toUtf8());
    // mdb-count reports the definition's row count; mdb-export reads the rows.
    const Output count = run(QStringLiteral("mdb-count"), {path, tableName});
    QCOMPARE(count.out.trimmed(), QByteArray::number(rows.size()));

    const QList<QStringList> read = exportTable(path, tableName);
    QVERIFY2(!read.isEmpty(), "mdb-export failed");
    const QString difference = firstDifference(read, expectedTable(columns, rows));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void JetWriterTest::columnTypes_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("Jet 3") << int(JetVersion::Jet3);
    QTest::newRow("Jet 4") << int(JetVersion::Jet4);
}

// contactid a Long Integer, Notes a Memo, the others Text(255), whatever the case of the
// names.
void JetWriterTest::columnTypes()
{
    if (!m_haveMdbTools)
        QSKIP("mdb-export is not installed (Debian package mdbtools, see scripts/setup.sh): "
              "the generated files cannot be read back.");
    QFETCH(int, version);
    JetWriteOptions options;
    options.version = JetVersion(version);
    options.columns = QStringList{QStringLiteral("CONTACTID"), QStringLiteral("lastname"),
                                  QStringLiteral("notes"), QStringLiteral("Extra")};
    const QString path = write(options, {});
    QVERIFY(!path.isEmpty());
    const Output schema = run(QStringLiteral("mdb-schema"), {path, QStringLiteral("access")});
    QCOMPARE(schema.exitCode, 0);
    QStringList types;
    static const QRegularExpression column(QStringLiteral(R"(^\s*\[(.+)\]\s+(.+?),?\s*$)"));
    for (const QString &line : QString::fromUtf8(schema.out).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = column.match(line);
        if (m.hasMatch())
            types << m.captured(1) + QLatin1Char('=') + m.captured(2);
    }
    QCOMPARE(types, (QStringList{QStringLiteral("CONTACTID=Long Integer"),
                                 QStringLiteral("lastname=Text (255)"),
                                 QStringLiteral("notes=Memo/Hyperlink (255)"),
                                 QStringLiteral("Extra=Text (255)")}));
}

void JetWriterTest::fullTable_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("compress");
    QTest::addColumn<bool>("nonLatin");
    QTest::newRow("Jet 3") << int(JetVersion::Jet3) << false << false;
    QTest::newRow("Jet 4, plain") << int(JetVersion::Jet4) << false << true;
    QTest::newRow("Jet 4, compressed") << int(JetVersion::Jet4) << true << true;
}

// 32,767 rows, as many as the old program's table holds.
void JetWriterTest::fullTable()
{
    if (!m_haveMdbTools)
        QSKIP("mdb-export is not installed (Debian package mdbtools, see scripts/setup.sh): "
              "the generated files cannot be read back.");
    QFETCH(int, version);
    QFETCH(bool, compress);
    QFETCH(bool, nonLatin);
    JetWriteOptions options;
    options.version = JetVersion(version);
    options.compressText = compress;
    const QList<JetRow> rows = jetSampleRows(32767, 2026, nonLatin);
    const QString path = write(options, rows);
    QVERIFY(!path.isEmpty());
    QCOMPARE(run(QStringLiteral("mdb-count"), {path, options.tableName}).out.trimmed(),
             QByteArray("32767"));
    const QList<QStringList> read = exportTable(path, options.tableName);
    QCOMPARE(read.size(), 32768);
    const QList<QStringList> expected = expectedTable(jetContactColumns(), rows);
    QList<QStringList> readSample;
    QList<QStringList> expectedSample;
    for (int r = 0; r < read.size(); r += r < 100 ? 1 : 97) {
        readSample.append(read[r]);
        expectedSample.append(expected[r]);
    }
    readSample.append(read.last());
    expectedSample.append(expected.last());
    const QString difference = firstDifference(readSample, expectedSample);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// The compressed form is what the Jet 4 reader must undo: make sure it is written.
void JetWriterTest::compressedIsShorter()
{
    const QList<JetRow> rows = jetSampleRows(3000, 5);
    JetWriteOptions options;
    const Result<QByteArray> plain = jetFileBytes(options, rows);
    options.compressText = true;
    const Result<QByteArray> compressed = jetFileBytes(options, rows);
    QVERIFY(plain && compressed);
    QCOMPARE_LT(compressed->size() * 10, plain->size() * 7);
}

void JetWriterTest::refused_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<QList<JetRow>>("rows");
    QTest::addColumn<QString>("reason");

    const int jet3 = int(JetVersion::Jet3);
    const int jet4 = int(JetVersion::Jet4);
    JetRow wide(17);
    for (int c = 1; c < 16; ++c)
        wide[c] = QString(200, QChar(u'w'));
    QTest::newRow("text over 255 characters")
        << jet4 << 1252 << QStringList()
        << QList<JetRow>{contactRow(1, QStringLiteral("ok")), contactRow(2, QString(256, u'x'))}
        << "Row 2, column \"lastname\": the text is longer than 255 characters.";
    QTest::newRow("Greek in Jet 3, windows-1252")
        << jet3 << 1252 << QStringList() << QList<JetRow>{contactRow(1, QStringLiteral("Ωmega"))}
        << "Row 1, column \"lastname\": U+03a9 is not in code page 1252.";
    QTest::newRow("unknown code page")
        << jet3 << 99999 << QStringList() << QList<JetRow>{contactRow(1, "x")}
        << "The code page 99999 is unknown.";
    QTest::newRow("row with too few values")
        << jet4 << 1252 << QStringList()
        << QList<JetRow>{contactRow(1, "x"), {QStringLiteral("12a")}}
        << "Row 2 has 1 values for 17 columns.";
    JetRow letters = contactRow(1, "x");
    letters[0] = QStringLiteral("12a");
    JetRow tooBig = contactRow(1, "x");
    tooBig[0] = QStringLiteral("2147483648");
    QTest::newRow("contactid with letters")
        << jet4 << 1252 << QStringList() << QList<JetRow>{letters}
        << "\"12a\" is not a whole number of 32 bits";
    QTest::newRow("contactid over 32 bits")
        << jet3 << 1252 << QStringList() << QList<JetRow>{tooBig}
        << "\"2147483648\" is not a whole number of 32 bits";
    QTest::newRow("row longer than a Jet 3 page")
        << jet3 << 1252 << QStringList() << QList<JetRow>{wide} << "Row 1 takes";
    QStringList many = jetContactColumns();
    for (int i = 0; i < 100; ++i)
        many.append(QStringLiteral("Extra column %1").arg(i));
    QTest::newRow("columns beyond a definition page")
        << jet4 << 1252 << many << QList<JetRow>{}
        << "The definition of the table \"contactsdb\" does not fit one page.";
    QTest::newRow("column name outside the code page")
        << jet3 << 1252 << QStringList{QStringLiteral("contactid"), QStringLiteral("Όνομα")}
        << QList<JetRow>{} << "Column \"Όνομα\": U+038c is not in code page 1252.";
}

void JetWriterTest::refused()
{
    QFETCH(int, version);
    QFETCH(int, codePage);
    QFETCH(QStringList, columns);
    QFETCH(QList<JetRow>, rows);
    QFETCH(QString, reason);
    JetWriteOptions options;
    options.version = JetVersion(version);
    options.codePage = codePage;
    options.columns = columns;
    const QString path = m_dir.filePath(QStringLiteral("refused.mdb"));
    const Result<void> written = writeJetFile(path, options, rows);
    QVERIFY(!written);
    QVERIFY2(written.error().contains(reason), qPrintable(written.error()));
    QVERIFY2(written.error().contains(path), qPrintable(written.error()));
    QVERIFY(!QFile::exists(path));
}

void JetWriterTest::unwritableFolder()
{
    const QString path = m_dir.filePath(QStringLiteral("missing/folder/x.mdb"));
    const Result<void> written = writeJetFile(path, {}, {contactRow(1, "x")});
    QVERIFY(!written);
    QVERIFY2(written.error().contains(path), qPrintable(written.error()));
}

QTEST_GUILESS_MAIN(JetWriterTest)
#include "tst_jetwriter.moc"
