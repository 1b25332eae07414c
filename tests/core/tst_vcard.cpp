#include <core/interchange/importedcontact.h>
#include <core/interchange/vcard.h>

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using interchange::VCardVersion;

Q_DECLARE_METATYPE(VCardVersion)

namespace {

QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(PELMORA_SOURCE_DIR "/tests/data/interchange/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

Result<ReadContacts> readBytes(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ReadContacts read;
    const Result<void> done
        = interchange::readVCards(buffer, QStringLiteral("test.vcf"), interchange::keepingIn(read));
    if (!done)
        return done.failure();
    return read;
}

// All seventeen values, the ones not named empty.
QStringList fields(std::initializer_list<std::pair<ContactField, QString>> named)
{
    QStringList values(contactFieldCount);
    for (const auto &[field, value] : named)
        values[fieldIndex(field)] = value;
    return values;
}

QStringList asList(const ContactValues &values)
{
    return QStringList(values.begin(), values.end());
}

// Hands over one byte a read, as a slow pipe may: every line end falls across two reads.
class TrickleDevice : public QIODevice
{
public:
    explicit TrickleDevice(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_at == m_bytes.size() || maxSize < 1)
            return m_at == m_bytes.size() ? -1 : 0;
        *data = m_bytes[m_at++];
        return 1;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
};

} // namespace

class TestVCard : public QObject
{
    Q_OBJECT

private slots:
    void readsFields_data();
    void readsFields();
    void badInput_data();
    void badInput();
    void lineEnds_data();
    void lineEnds();
    void writesFormattedName_data();
    void writesFormattedName();
    void roundTrip_data();
    void roundTrip();
};

void TestVCard::readsFields_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("card");
    QTest::addColumn<int>("line");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("extras");
    using F = ContactField;

    QTest::newRow("2.1 quoted-printable, charset, bare parameters")
        << "v21-quoted-printable.vcf" << 0 << 1
        << fields({{F::LastName, QStringLiteral("Müller")},
                   {F::FirstName, QStringLiteral("Jürgen")},
                   {F::HomePhone, "+49 30 1234"},
                   {F::Cell, "0170 555"},
                   {F::Notes, QStringLiteral("Straße\r\nund mehr")}})
        << QStringList();
    QTest::newRow("3.0 escapes, preference, groups, extras")
        << "v30-escapes.vcf" << 0 << 1
        << fields({{F::LastName, "O;Neil"},
                   {F::FirstName, "Anna, Maria"},
                   {F::Middle, "B."},
                   {F::NickName, "Annie"},
                   {F::Address, "PO 7, Flat 2, 3 Home St, Back door"},
                   {F::City, "Springfield"},
                   {F::State, "IL"},
                   {F::Zip, "62704"},
                   {F::Country, "US"},
                   {F::HomePhone, "555-0103"},
                   {F::WorkPhone, "555-0102"},
                   {F::Email1, "pref@example.org"},
                   {F::Email2, "first@example.org"},
                   {F::Notes, "Back\\slash, commas, semi;colon and a folded line"}})
        << QStringList{"Nick name: Nan",
                       "Organisation: Acme, Inc., Sales",
                       "Birthday: 1980-02-29",
                       "Photo",
                       "X-ABUID: 1234",
                       "X-ABLABEL: private",
                       "Address: 1 Work Rd, Worktown",
                       "Phone (work): 555-0101",
                       "Email: third@example.org"};
    QTest::newRow("4.0 PREF=1, tel: URIs, notes, LF and BOM")
        << "v40-pref-lf-bom.vcf" << 0 << 1
        << fields({{F::LastName, "Sato"},
                   {F::FirstName, "Kenji"},
                   {F::Cell, "+81-80-0000-0000"},
                   {F::Fax, "+81-3-1111"},
                   {F::Email1, "b@example.jp"},
                   {F::Email2, "a@example.jp"},
                   {F::Notes, "one\r\n\r\ntwo\r\nlines"}})
        << QStringList{"Phone (cell): +81-90-1234-5678"};
    QTest::newRow("names from FN without N")
        << "mixed-versions.vcf" << 0 << 1
        << fields({{F::LastName, "Smith"}, {F::FirstName, "Mary Ann"}, {F::WorkPhone, "111"}})
        << QStringList();
    QTest::newRow("3.0 after 2.1")
        << "mixed-versions.vcf" << 1 << 6
        << fields({{F::LastName, "Jones"}, {F::FirstName, "Bob"}, {F::Email1, "bob@example.org"}})
        << QStringList();
    QTest::newRow("4.0 single name")
        << "mixed-versions.vcf" << 2 << 11 << fields({{F::LastName, "Cher"}}) << QStringList();
    QTest::newRow("iPhone: CR CR LF, type lists, groups")
        << "iphone-crcrlf.vcf" << 0 << 1
        << fields({{F::LastName, "Appleseed"},
                   {F::FirstName, "Johnny"},
                   {F::Address, "1 Orchard Way"},
                   {F::City, "Cupertino"},
                   {F::State, "CA"},
                   {F::Zip, "95014"},
                   {F::Country, "USA"},
                   {F::HomePhone, "+1 555 0101"},
                   {F::Cell, "+1 555 0100"},
                   {F::Email1, "johnny@example.com"},
                   {F::Email2, "j@example.net"},
                   {F::Notes, "Met at the market, spring. A folded line goes on past the width "
                              "of seventy-five octets\r\nand a second line"}})
        << QStringList{"Organisation: Orchard Co.", "X-ABLABEL: _$!<Other>!$_", "X-ABADR: us"};
    QTest::newRow("iPhone: the second card")
        << "iphone-crcrlf.vcf" << 1 << 16 << fields({{F::LastName, "Seed"}, {F::FirstName, "Anna"}})
        << QStringList();
    QTest::newRow("lone CR, soft line break onto a line that starts with a blank")
        << "lone-cr.vcf" << 0 << 1
        << fields({{F::LastName, "Lee"},
                   {F::FirstName, "Ann"},
                   {F::WorkPhone, "555 0102"},
                   {F::Email1, "ann@example.org"},
                   {F::Notes, "one\r\ntwo three"}})
        << QStringList();
    QTest::newRow("lone CR: the second card")
        << "lone-cr.vcf" << 1 << 9
        << fields({{F::LastName, "Poe"}, {F::FirstName, "Ed"}, {F::Fax, "555 0103"}})
        << QStringList();
    QTest::newRow("Android 2.1: soft line break, then an empty line ends the value")
        << "android21-quoted-printable.vcf" << 0 << 1
        << fields({{F::LastName, QStringLiteral("欧阳")},
                   {F::FirstName, QStringLiteral("小明明明")},
                   {F::Middle, "a"},
                   {F::Address, QStringLiteral("人民路一号, 二楼")},
                   {F::City, QStringLiteral("北京市")},
                   {F::Cell, "138 0013 8000"},
                   {F::Notes, QStringLiteral("第一行\r\n第二行写满四十六个字节!!")}})
        << QStringList();
    QTest::newRow("Shift_JIS byte 0x5C is no escape")
        << "shift-jis.vcf" << 0 << 1
        << fields({{F::LastName, QStringLiteral("表")}, {F::FirstName, QStringLiteral("太郎")}})
        << QStringList();
}

void TestVCard::readsFields()
{
    QFETCH(QString, file);
    QFETCH(int, card);
    QFETCH(int, line);
    QFETCH(QStringList, values);
    QFETCH(QStringList, extras);

    const Result<ReadContacts> read = readBytes(fixture(file));
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QVERIFY(read->skipped.isEmpty());
    QVERIFY(card < read->contacts.size());
    const ImportedContact &contact = read->contacts[card];
    QCOMPARE(contact.line, line);
    QCOMPARE(asList(contact.values), values);
    QCOMPARE(contact.extras, extras);
}

void TestVCard::badInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("failure"); // empty when the file reads with skips
    QTest::addColumn<int>("contacts");
    QTest::addColumn<int>("skipLine");
    QTest::addColumn<QString>("skipReason");

    QTest::newRow("empty") << fixture("empty.vcf") << "The file is empty." << 0 << 0 << "";
    QTest::newRow("binary") << fixture("binary.vcf") << "binary data" << 0 << 0 << "";
    QTest::newRow("no BEGIN:VCARD")
        << fixture("not-vcard.vcf") << "no line says BEGIN:VCARD" << 0 << 0 << "";
    QTest::newRow("no END") << fixture("no-end.vcf") << "" << 1 << 5
                            << "no END:VCARD before the end of the file";
    QTest::newRow("broken quoted-printable") << fixture("broken-quoted-printable.vcf") << "" << 1
                                             << 5 << "broken quoted-printable value on line 7";
    QTest::newRow("unknown charset") << fixture("unknown-charset.vcf") << "" << 0 << 1
                                     << "unknown character set \"x-no-such-charset\" on line 3";
    QTest::newRow("invalid UTF-8")
        << fixture("invalid-utf8.vcf") << "" << 1 << 5 << "invalid UTF-8 on line 7";

    const QByteArray next = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Next;;;;\r\nEND:VCARD\r\n";
    QTest::newRow("1 MB line before any card")
        << QByteArray(1 << 20, 'x') + "\r\n" + next << "Line 1 is longer than 1000000 bytes" << 0
        << 0 << "";
    QTest::newRow("1 MB line") << "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:" + QByteArray(1 << 20, 'x')
                                      + "\r\nEND:VCARD\r\n" + next
                               << "" << 1 << 1 << "line 3 is longer than 1000000 bytes";
    QByteArray huge = "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:";
    const QByteArray folded = QByteArray(74, 'y') + "\r\n ";
    huge.reserve(51 * 1024 * 1024);
    while (huge.size() < 50 * 1024 * 1024)
        huge += folded;
    QTest::newRow("50 MB card") << huge + "\r\nEND:VCARD\r\n" + next << "" << 1 << 1
                                << "the card is larger than 8 MiB";
}

void TestVCard::badInput()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, failure);
    QFETCH(int, contacts);
    QFETCH(int, skipLine);
    QFETCH(QString, skipReason);

    const Result<ReadContacts> read = readBytes(input);
    if (!failure.isEmpty()) {
        QVERIFY(!read.ok());
        QVERIFY2(read.error().contains(QStringLiteral("test.vcf")), qPrintable(read.error()));
        QVERIFY2(read.error().contains(failure), qPrintable(read.error()));
        return;
    }
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(read->contacts.size(), contacts);
    QCOMPARE(read->skipped.size(), 1);
    QCOMPARE(read->skipped[0].line, skipLine);
    QCOMPARE(read->skipped[0].reason, skipReason);
}

void TestVCard::lineEnds_data()
{
    QTest::addColumn<QList<QByteArray>>("ends"); // taken in turn, line by line
    QTest::addColumn<bool>("lastEnded");
    QTest::newRow("CR LF") << QList<QByteArray>{"\r\n"} << true;
    QTest::newRow("LF") << QList<QByteArray>{"\n"} << true;
    QTest::newRow("CR") << QList<QByteArray>{"\r"} << true;
    QTest::newRow("CR CR LF") << QList<QByteArray>{"\r\r\n"} << true;
    QTest::newRow("mixed, the last line unended")
        << QList<QByteArray>{"\r\r\n", "\r", "\n", "\r\n"} << false;
}

// The same two cards, a folded line and a soft line break among them, read from a device
// that hands over one byte at a time, so that the reader must wait for the byte that says
// whether a CR ends the line alone.
void TestVCard::lineEnds()
{
    QFETCH(QList<QByteArray>, ends);
    QFETCH(bool, lastEnded);
    const QList<QByteArray> lines{
        "BEGIN:VCARD",    "VERSION:2.1",
        "N:Doe;Jane",     "NOTE;ENCODING=QUOTED-PRINTABLE:first=0D=0Asecond=",
        "half",           "TEL;CELL:555",
        "EMAIL:jane@exa", " mple.org",
        "END:VCARD",      "BEGIN:VCARD",
        "N:Roe;Ed",       "END:VCARD"};
    QByteArray file;
    for (qsizetype i = 0; i < lines.size(); ++i)
        file += lines[i] + (i + 1 < lines.size() || lastEnded ? ends[i % ends.size()] : "");
    TrickleDevice device(file);
    ReadContacts kept;
    const Result<void> done
        = interchange::readVCards(device, QStringLiteral("test.vcf"), interchange::keepingIn(kept));
    QVERIFY2(done.ok(), qPrintable(done.error()));
    const ReadContacts *read = &kept;
    QCOMPARE(read->skipped.size(), 0);
    QCOMPARE(read->contacts.size(), 2);
    using F = ContactField;
    QCOMPARE(asList(read->contacts[0].values), fields({{F::LastName, "Doe"},
                                                       {F::FirstName, "Jane"},
                                                       {F::Cell, "555"},
                                                       {F::Email1, "jane@example.org"},
                                                       {F::Notes, "first\r\nsecondhalf"}}));
    QCOMPARE(read->contacts[1].line, 10);
    QCOMPARE(asList(read->contacts[1].values),
             fields({{F::LastName, "Roe"}, {F::FirstName, "Ed"}}));
}

void TestVCard::writesFormattedName_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QByteArray>("fn");
    using F = ContactField;

    QTest::newRow("first middle last") << fields(
        {{F::FirstName, "Ann"}, {F::Middle, "B"}, {F::LastName, "Cole"}, {F::NickName, "x"}})
                                       << QByteArray("FN:Ann B Cole\r\n");
    QTest::newRow("nick name") << fields({{F::NickName, "Bo, Jr"}, {F::Email1, "a@b"}})
                               << QByteArray("FN:Bo\\, Jr\r\n");
    QTest::newRow("e-mail") << fields({{F::Email1, "a@b"}}) << QByteArray("FN:a@b\r\n");
}

void TestVCard::writesFormattedName()
{
    QFETCH(QStringList, values);
    QFETCH(QByteArray, fn);
    ContactValues contact;
    std::copy(values.begin(), values.end(), contact.begin());
    for (VCardVersion version : {VCardVersion::V3, VCardVersion::V4})
        QVERIFY(interchange::writeVCard(contact, version).contains("\r\n" + fn));
}

void TestVCard::roundTrip_data()
{
    QTest::addColumn<VCardVersion>("version");
    QTest::newRow("3.0") << VCardVersion::V3;
    QTest::newRow("4.0") << VCardVersion::V4;
}

// Random contacts with every kind of character: written, read back, the same seventeen
// values byte for byte, but for line breaks in one-line fields. PELMORA_SEED repeats a run.
void TestVCard::roundTrip()
{
    QFETCH(VCardVersion, version);
    const quint32 seed = qEnvironmentVariableIsSet("PELMORA_SEED")
                             ? quint32(qEnvironmentVariableIntValue("PELMORA_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    const QStringList pieces{"a",
                             "Zoë",
                             QStringLiteral("é"),
                             QStringLiteral("漢字"),
                             QStringLiteral("かな"),
                             QStringLiteral("😀"),
                             QStringLiteral("👍🏽"),
                             ",",
                             ";",
                             "\\",
                             "\\n",
                             "\r\n",
                             ":",
                             "=",
                             " ",
                             "\"",
                             "\t",
                             "tel:",
                             "x",
                             "0123456789",
                             QStringLiteral("\uFEFF")};
    auto randomText = [&] {
        if (random.bounded(4) == 0)
            return QString();
        QString text;
        const int count = random.bounded(2) ? random.bounded(8) + 1 : random.bounded(80) + 20;
        for (int i = 0; i < count; ++i)
            text += pieces[random.bounded(int(pieces.size()))];
        return text;
    };

    QList<ContactValues> written;
    QByteArray file;
    for (int i = 0; i < 300; ++i) {
        ContactValues values;
        for (QString &value : values) {
            value = randomText();
            // Blanks and line breaks alone read as an empty field, and an empty first
            // e-mail would let the second take its place.
            if (!value.isEmpty() && asOneLine(value).isEmpty())
                value += u'x';
        }
        const QByteArray card = interchange::writeVCard(values, version);
        for (const QByteArray &line : card.split('\n')) {
            QVERIFY(line.isEmpty() || line.endsWith('\r'));
            QVERIFY2(line.size() <= 76, line.constData());
            QVERIFY(line.size() < 2 || (uchar(line[1]) & 0xC0) != 0x80);
        }
        written << values;
        file += card;
    }
    const Result<ReadContacts> read = readBytes(file);
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(read->skipped.size(), 0);
    QCOMPARE(read->contacts.size(), written.size());
    for (qsizetype i = 0; i < written.size(); ++i) {
        for (int f = 0; f < contactFieldCount; ++f) {
            if (isOneLineField(fieldAt(f)))
                written[i][f] = asOneLine(written[i][f]);
        }
        QCOMPARE(asList(read->contacts[i].values), asList(written[i]));
    }
}

QTEST_GUILESS_MAIN(TestVCard)
#include "tst_vcard.moc"
