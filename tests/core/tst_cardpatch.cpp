// Patching a server's card: only the properties behind the changed fields are rewritten,
// every other line stays byte for byte, whatever the card's line ends.
#include <core/sync/cardpatch.h>

#include <QTest>

using Changes = QList<std::pair<ContactField, QString>>;
using Replaced = QList<std::pair<QByteArray, QByteArray>>;

namespace {

ContactValues contact(std::initializer_list<std::pair<ContactField, QString>> fields)
{
    ContactValues values;
    for (const auto &[field, value] : fields)
        values[fieldIndex(field)] = value;
    return values;
}

// A card as another client writes it, line by line: properties Pelmora does not show, a
// group, a folded line, a second address and number, an X- property.
const QList<QByteArray> serverLines{
    "BEGIN:VCARD",
    "VERSION:3.0",
    "PRODID:-//Somewhere//Phone 1.0//EN",
    "UID:7f3c1a52-card",
    "N:Dunn;Al;;Dr.;",
    "FN:Dr. Al Dunn",
    "ORG:Dunn & Sons;Sales",
    "TITLE:Manager",
    "BDAY:1970-04-01",
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAP////////////////",
    " //////////////////////////////////////////////////////////8=",
    "item1.TEL;TYPE=CELL:+44 7700 900123",
    "item1.X-ABLabel:mobile",
    "TEL;TYPE=WORK,VOICE:+44 20 7946 0000",
    "TEL;TYPE=WORK,VOICE:+44 20 7946 0001",
    "EMAIL;TYPE=INTERNET:al@example.com",
    "ADR;TYPE=HOME:;;1 High St;Leeds;;LS1 1AA;UK",
    "ADR;TYPE=WORK:;;2 Mill Rd;York;;YO1 1AA;UK",
    "URL:https://example.com/al",
    "CATEGORIES:Friends,Work",
    "X-SOCIAL-PROFILE;TYPE=chat:al.dunn",
    "END:VCARD"};

QByteArray joined(const QList<QByteArray> &lines, const QByteArray &end)
{
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + end;
    return text;
}

} // namespace

class TestCardPatch : public QObject
{
    Q_OBJECT

private slots:
    void patchKeepsTheRest_data();
    void patchKeepsTheRest();
    void newCardCarriesUid();
};

void TestCardPatch::patchKeepsTheRest_data()
{
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<Changes>("changes");
    // The card's lines that change (old line -> new line; an empty new line: removed), and
    // lines added before END:VCARD.
    QTest::addColumn<Replaced>("replaced");
    QTest::addColumn<QList<QByteArray>>("added");
    // Where the card holds the values in another layout than wanted: what it reads as.
    QTest::addColumn<Changes>("readsAs");
    using F = ContactField;
    const QByteArray crlf = "\r\n";
    QTest::newRow("cell in a group")
        << crlf << Changes{{F::Cell, "+44 7700 900999"}}
        << Replaced{{"item1.TEL;TYPE=CELL:+44 7700 900123", "item1.TEL;TYPE=CELL:+44 7700 900999"}}
        << QList<QByteArray>{} << Changes{};
    QTest::newRow("last name: N keeps its prefix, FN its form")
        << crlf << Changes{{F::LastName, "Dunne"}}
        << Replaced{{"N:Dunn;Al;;Dr.;", "N:Dunne;Al;;Dr.;"}, {"FN:Dr. Al Dunn", "FN:Dr. Al Dunne"}}
        << QList<QByteArray>{} << Changes{};
    QTest::newRow("first name cleared: FN made anew, with the prefix")
        << crlf << Changes{{F::FirstName, ""}}
        << Replaced{{"N:Dunn;Al;;Dr.;", "N:Dunn;;;Dr.;"}, {"FN:Dr. Al Dunn", "FN:Dr. Dunn"}}
        << QList<QByteArray>{} << Changes{};
    QTest::newRow("middle name added: FN made anew, with the prefix")
        << crlf << Changes{{F::Middle, "Alva"}}
        << Replaced{{"N:Dunn;Al;;Dr.;", "N:Dunn;Al;Alva;Dr.;"},
                    {"FN:Dr. Al Dunn", "FN:Dr. Al Alva Dunn"}}
        << QList<QByteArray>{} << Changes{};
    QTest::newRow("second work number of two, and a note added")
        << crlf << Changes{{F::WorkPhone, "+44 20 7946 0002"}, {F::Notes, "line 1\r\nline; 2"}}
        << Replaced{{"TEL;TYPE=WORK,VOICE:+44 20 7946 0000",
                     "TEL;TYPE=WORK,VOICE:+44 20 7946 0002"}}
        << QList<QByteArray>{"NOTE:line 1\\nline\\; 2"} << Changes{};
    QTest::newRow("e-mail emptied, home city changed")
        << crlf << Changes{{F::Email1, ""}, {F::City, "Bradford"}}
        << Replaced{{"EMAIL;TYPE=INTERNET:al@example.com", ""},
                    {"ADR;TYPE=HOME:;;1 High St;Leeds;;LS1 1AA;UK",
                     "ADR;TYPE=HOME:;;1 High St;Bradford;;LS1 1AA;UK"}}
        << QList<QByteArray>{} << Changes{};
    QTest::newRow("fax added") << crlf << Changes{{F::Fax, "+44 20 7946 0099"}} << Replaced{}
                               << QList<QByteArray>{"TEL;TYPE=FAX:+44 20 7946 0099"} << Changes{};
    QTest::newRow("first of two work numbers cleared: the second comes up")
        << crlf << Changes{{F::WorkPhone, ""}}
        << Replaced{{"TEL;TYPE=WORK,VOICE:+44 20 7946 0000", ""}} << QList<QByteArray>{}
        << Changes{{F::WorkPhone, "+44 20 7946 0001"}};
    // The patch writes its lines with the card's own line end.
    QTest::newRow("LF: last name, fax added")
        << QByteArray("\n") << Changes{{F::LastName, "Dunne"}, {F::Fax, "1"}}
        << Replaced{{"N:Dunn;Al;;Dr.;", "N:Dunne;Al;;Dr.;"}, {"FN:Dr. Al Dunn", "FN:Dr. Al Dunne"}}
        << QList<QByteArray>{"TEL;TYPE=FAX:1"} << Changes{};
    QTest::newRow("CR CR LF: cell in a group, e-mail emptied")
        << QByteArray("\r\r\n") << Changes{{F::Cell, "2"}, {F::Email1, ""}}
        << Replaced{{"item1.TEL;TYPE=CELL:+44 7700 900123", "item1.TEL;TYPE=CELL:2"},
                    {"EMAIL;TYPE=INTERNET:al@example.com", ""}}
        << QList<QByteArray>{} << Changes{};
    QTest::newRow("CR: home city changed, note added")
        << QByteArray("\r") << Changes{{F::City, "Bradford"}, {F::Notes, "hi"}}
        << Replaced{{"ADR;TYPE=HOME:;;1 High St;Leeds;;LS1 1AA;UK",
                     "ADR;TYPE=HOME:;;1 High St;Bradford;;LS1 1AA;UK"}}
        << QList<QByteArray>{"NOTE:hi"} << Changes{};
}

void TestCardPatch::patchKeepsTheRest()
{
    QFETCH(QByteArray, lineEnd);
    QFETCH(Changes, changes);
    QFETCH(Replaced, replaced);
    QFETCH(QList<QByteArray>, added);
    QFETCH(Changes, readsAs);
    const QByteArray card = joined(serverLines, lineEnd);
    const Result<carddav::CardContent> before = carddav::readCard(card, "card");
    QVERIFY2(before, qPrintable(before.error()));
    QCOMPARE(before->uid, QStringLiteral("7f3c1a52-card"));
    ContactValues wanted = before->values;
    for (const auto &[field, value] : changes)
        wanted[fieldIndex(field)] = value;

    const Result<carddav::PatchedCard> patched = carddav::patchCard(card, wanted);
    QVERIFY2(patched, qPrintable(patched.error()));
    for (const auto &[field, value] : readsAs)
        wanted[fieldIndex(field)] = value;
    QCOMPARE(patched->values, wanted);
    QList<QByteArray> expected = serverLines;
    for (const auto &[oldLine, newLine] : replaced) {
        const qsizetype at = expected.indexOf(oldLine);
        QVERIFY2(at >= 0, oldLine.constData());
        if (newLine.isEmpty())
            expected.removeAt(at);
        else
            expected[at] = newLine;
    }
    const qsizetype end = expected.indexOf("END:VCARD");
    for (qsizetype i = 0; i < added.size(); ++i)
        expected.insert(end + i, added.at(i));
    QCOMPARE(patched->card, joined(expected, lineEnd));
    const Result<carddav::CardContent> after = carddav::readCard(patched->card, "patched");
    QVERIFY(after);
    QCOMPARE(after->values, wanted);
}

void TestCardPatch::newCardCarriesUid()
{
    ContactValues values = contact({{ContactField::ContactId, "12"},
                                    {ContactField::LastName, "Ames"},
                                    {ContactField::Cell, "555"}});
    const QByteArray card = carddav::newCard(values, QStringLiteral("u-1"));
    QVERIFY(card.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u-1\r\n"));
    QVERIFY(!card.contains("12")); // the program's contactid stays here
    const Result<carddav::CardContent> read = carddav::readCard(card, "new");
    QVERIFY(read);
    values[fieldIndex(ContactField::ContactId)].clear();
    QCOMPARE(read->values, values);
    QCOMPARE(read->uid, QStringLiteral("u-1"));
}

QTEST_GUILESS_MAIN(TestCardPatch)
#include "tst_cardpatch.moc"
