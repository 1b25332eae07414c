// Two-way sync against two real servers from Debian, Radicale and Xandikos: two devices (two
// databases) and the server, edits on each side, deletions, a race, a server that goes away.
#include "davserver.h"

#include <core/contacts/contactdatabase.h>
#include <core/sync/carddavsync.h>
#include <core/sync/cardpatch.h>
#include <core/sync/davclient.h>
#include <core/sync/davxml.h>
#include <support/dbquery.h>
#include <support/powerlosshistory.h>
#include <support/powerlossvfs.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <memory>

using carddav::DavClient;
using carddav::SyncReport;

namespace {

using F = ContactField;

ContactValues person(const QString &last,
                     const QString &first,
                     const QString &cell = {},
                     const QString &email = {})
{
    ContactValues values;
    values[fieldIndex(F::LastName)] = last;
    values[fieldIndex(F::FirstName)] = first;
    values[fieldIndex(F::Cell)] = cell;
    values[fieldIndex(F::Email1)] = email;
    return values;
}

// One device: its own database and conflict log.
struct Device
{
    QTemporaryDir dir;
    QString db() const { return dir.filePath(QStringLiteral("cntdb.mdb")); }
    QString log() const { return dir.filePath(QStringLiteral("sync-conflicts.log")); }
};

struct Card
{
    QString href;
    QString etag;
    QByteArray text;
};

} // namespace

class TestCardDavSync : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstSyncBothWays_data();
    void firstSyncBothWays();
    void edits_data();
    void edits();
    void firstEmailClearedBesideASecond_data();
    void firstEmailClearedBesideASecond();
    void serverOnlyPropertiesSurvive_data();
    void serverOnlyPropertiesSurvive();
    void deletions_data();
    void deletions();
    void resetOrSetUpAgain_data();
    void resetOrSetUpAgain();
    void ownAdditionDeletedElsewhere_data();
    void ownAdditionDeletedElsewhere();
    void rowidGivenAgain_data();
    void rowidGivenAgain();
    void raceMeetsPreconditionFailed_data();
    void raceMeetsPreconditionFailed();
    void serverStoppedMidway_data();
    void serverStoppedMidway();
    void killedAtRandom_data();
    void killedAtRandom();
    void tool_data();
    void tool();
    void passwordInTheKeyring_data();
    void passwordInTheKeyring();
    void selfSignedCertificate();
    void waitsForTheProgramsLock_data();
    void waitsForTheProgramsLock();
    void powerLossLeavesBeforeOrAfter_data();
    void powerLossLeavesBeforeOrAfter();

private:
    void addServers();
    DavServer &server();
    bool setUp(Device &device, const QList<ContactValues> &contacts);
    bool join(Device &device, const Device &synced);
    Result<SyncReport> sync(Device &device,
                            std::function<void(const QByteArray &, const QUrl &)> hook = {});
    QList<Card> serverCards();
    QStringList lastNames(const Device &device);
    QString value(const Device &device, const QString &lastName, ContactField field);
    bool
    edit(const Device &device, const QString &lastName, ContactField field, const QString &text);

    std::unique_ptr<DavServer> m_radicale;
    std::unique_ptr<DavServer> m_xandikos;
    DavClient m_client{QStringLiteral("alice"), QStringLiteral("secret")};
};

void TestCardDavSync::initTestCase()
{
    m_radicale = std::make_unique<DavServer>(DavServer::Kind::Radicale);
    m_xandikos = std::make_unique<DavServer>(DavServer::Kind::Xandikos);
    QString error;
    QVERIFY2(m_radicale->start(error), qPrintable(error));
    QVERIFY2(m_xandikos->start(error), qPrintable(error));
}

void TestCardDavSync::addServers()
{
    QTest::addColumn<QString>("server");
}

DavServer &TestCardDavSync::server()
{
    QFETCH(QString, server);
    return server == QLatin1String("radicale") ? *m_radicale : *m_xandikos;
}

// A new database with the contacts and the account, and an empty address book on the server.
bool TestCardDavSync::setUp(Device &device, const QList<ContactValues> &contacts)
{
    for (const Card &card : serverCards()) {
        if (!m_client.send("DELETE", server().addressBook().resolved(QUrl(card.href))))
            return false;
    }
    if (!cntdb::createDatabase(device.db()) || !cntdb::insertContacts(device.db(), contacts))
        return false;
    carddav::Account account;
    account.server = server().root();
    account.user = QStringLiteral("alice");
    account.addressBook = server().addressBook();
    account.addressBookName = QStringLiteral("Contacts");
    return carddav::saveAccount(device.db(), account).ok();
}

// Another device: an empty database with the account of one already synced, synced once.
bool TestCardDavSync::join(Device &device, const Device &synced)
{
    const Result<std::optional<carddav::Account>> account = carddav::loadAccount(synced.db());
    return account && *account && cntdb::createDatabase(device.db())
           && carddav::saveAccount(device.db(), **account) && sync(device);
}

Result<SyncReport> TestCardDavSync::sync(Device &device,
                                         std::function<void(const QByteArray &, const QUrl &)> hook)
{
    carddav::SyncOptions options;
    options.databasePath = device.db();
    options.password = QStringLiteral("secret");
    options.conflictLogPath = device.log();
    options.timeoutMs = 10000;
    options.beforeWrite = std::move(hook);
    return carddav::synchronise(options);
}

QList<Card> TestCardDavSync::serverCards()
{
    const QUrl book = server().addressBook();
    const Result<carddav::DavResponse> listed = m_client.send(
        "PROPFIND", book,
        carddav::propfindBody({{QStringLiteral("DAV:"), QStringLiteral("getetag")}}),
        {{"Depth", "1"}});
    if (!listed)
        return {};
    const Result<carddav::Multistatus> parsed = carddav::parseMultistatus(listed->body);
    if (!parsed)
        return {};
    const carddav::Multistatus &status = *parsed;
    QList<Card> cards;
    for (const carddav::DavResource &resource : status.responses) {
        if (book.resolved(QUrl(resource.href)).path() == book.path())
            continue;
        const Result<carddav::DavResponse> got
            = m_client.send("GET", book.resolved(QUrl(resource.href)));
        if (got && got->status == 200)
            cards.append({resource.href, QString::fromUtf8(got->header("etag")), got->body});
    }
    return cards;
}

QStringList TestCardDavSync::lastNames(const Device &device)
{
    return queryColumn(
        device.db(),
        QStringLiteral("SELECT %1 FROM contactsdb ORDER BY 1").arg(quotedColumnName(F::LastName)));
}

QString TestCardDavSync::value(const Device &device, const QString &lastName, ContactField field)
{
    const QStringList found = queryColumn(
        device.db(), QStringLiteral("SELECT %1 FROM contactsdb WHERE %2 = '%3'")
                         .arg(quotedColumnName(field), quotedColumnName(F::LastName), lastName));
    return found.size() == 1 ? found.first() : QStringLiteral("<%1 rows>").arg(found.size());
}

bool TestCardDavSync::edit(const Device &device,
                           const QString &lastName,
                           ContactField field,
                           const QString &text)
{
    return execOn(device.db(),
                  QStringLiteral("UPDATE contactsdb SET %1 = '%2' WHERE %3 = '%4'")
                      .arg(quotedColumnName(field), text, quotedColumnName(F::LastName), lastName));
}

void TestCardDavSync::firstSyncBothWays_data()
{
    addServers();
    QTest::newRow("radicale") << "radicale";
    QTest::newRow("xandikos") << "xandikos";
}

void TestCardDavSync::firstSyncBothWays()
{
    Device a;
    Device b;
    QVERIFY(setUp(a, {person("Ames", "Bo", "111")}));
    // A contact that another client put on the server.
    const QByteArray other = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:from-phone-1\r\nN:Dunn;Al;;;\r\n"
                             "FN:Al Dunn\r\nEMAIL:al@example.com\r\nEND:VCARD\r\n";
    const Result<carddav::DavResponse> put
        = m_client.send("PUT", server().addressBook().resolved(QUrl("from-phone-1.vcf")), other,
                        {{"Content-Type", "text/vcard"}, {"If-None-Match", "*"}});
    QVERIFY(put && put->status / 100 == 2);

    const Result<SyncReport> first = sync(a);
    QVERIFY2(first, qPrintable(first.error()));
    QCOMPARE(first->addedHere, 1);
    QCOMPARE(first->addedThere, 1);
    QCOMPARE(lastNames(a), (QStringList{"Ames", "Dunn"}));
    QCOMPARE(value(a, "Dunn", F::Email1), QStringLiteral("al@example.com"));
    QCOMPARE(serverCards().size(), 2);

    QVERIFY(cntdb::createDatabase(b.db()));
    carddav::Account account = **carddav::loadAccount(a.db());
    QVERIFY(carddav::saveAccount(b.db(), account));
    const Result<SyncReport> second = sync(b);
    QVERIFY2(second, qPrintable(second.error()));
    QCOMPARE(lastNames(b), (QStringList{"Ames", "Dunn"}));
    QCOMPARE(value(b, "Ames", F::Cell), QStringLiteral("111"));

    // Nothing changed: nothing moves, and the server's sync token says so.
    const Result<SyncReport> again = sync(a);
    QVERIFY2(again, qPrintable(again.error()));
    QCOMPARE(again->summary(), SyncReport().summary());
    QVERIFY(again->usedSyncToken);
}

void TestCardDavSync::edits_data()
{
    addServers();
    QTest::addColumn<QString>("cellHere");
    QTest::addColumn<QString>("cellThere");
    QTest::addColumn<QString>("emailThere");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("email");
    QTest::addColumn<bool>("conflict");
    for (const char *name : {"radicale", "xandikos"}) {
        const QString row(name);
        QTest::addRow("%s: here", name) << row << "2"
                                        << ""
                                        << ""
                                        << "2"
                                        << "a@x" << false;
        QTest::addRow("%s: there", name) << row << ""
                                         << ""
                                         << "b@x"
                                         << "1"
                                         << "b@x" << false;
        QTest::addRow("%s: both, different fields", name) << row << "2"
                                                          << ""
                                                          << "b@x"
                                                          << "2"
                                                          << "b@x" << false;
        QTest::addRow("%s: both, same field", name) << row << "2"
                                                    << "3"
                                                    << ""
                                                    << "2"
                                                    << "a@x" << true;
    }
}

void TestCardDavSync::edits()
{
    QFETCH(QString, cellHere);
    QFETCH(QString, cellThere);
    QFETCH(QString, emailThere);
    QFETCH(QString, cell);
    QFETCH(QString, email);
    QFETCH(bool, conflict);
    Device a;
    Device b;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1", "a@x"), person("Ames", "Bo")}));
    QVERIFY(sync(a));
    QVERIFY(join(b, a));

    if (!cellThere.isEmpty())
        QVERIFY(edit(b, "Dunn", F::Cell, cellThere));
    if (!emailThere.isEmpty())
        QVERIFY(edit(b, "Dunn", F::Email1, emailThere));
    QVERIFY(sync(b));
    if (!cellHere.isEmpty())
        QVERIFY(edit(a, "Dunn", F::Cell, cellHere));
    const Result<SyncReport> report = sync(a);
    QVERIFY2(report, qPrintable(report.error()));
    QVERIFY(sync(b));

    for (const Device *device : {&a, &b}) {
        QCOMPARE(value(*device, "Dunn", F::Cell), cell);
        QCOMPARE(value(*device, "Dunn", F::Email1), email);
        QCOMPARE(lastNames(*device), (QStringList{"Ames", "Dunn"}));
    }
    QCOMPARE(report->conflicts.size(), conflict ? 1 : 0);
    QCOMPARE(report->bothSides,
             (!cellHere.isEmpty() && !(cellThere + emailThere).isEmpty()) ? 1 : 0);
    const QByteArray log = fileBytes(a.log());
    if (conflict) {
        QVERIFY2(log.contains("Cell: kept \"2\"; the server had \"3\""), log.constData());
        // Names and numbers: its owner's alone, whatever the umask.
        QCOMPARE(QFileInfo(a.log()).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(report->conflicts.first().contains(QLatin1String("\"3\"")));
    } else {
        QCOMPARE(log, QByteArray("<missing>"));
    }
}

void TestCardDavSync::firstEmailClearedBesideASecond_data()
{
    firstSyncBothWays_data();
}

// A card lists e-mails, not fields: with the first one gone, the second reads as the first,
// on the server and then here too, and the next sync has nothing to do.
void TestCardDavSync::firstEmailClearedBesideASecond()
{
    Device a;
    ContactValues al = person("Dunn", "Al", "1", "a@x");
    al[fieldIndex(F::Email2)] = QStringLiteral("b@x");
    QVERIFY(setUp(a, {al}));
    QVERIFY(sync(a));
    QVERIFY(edit(a, "Dunn", F::Email1, ""));
    const Result<SyncReport> report = sync(a);
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->changedThere, 1);
    QCOMPARE(report->notices.size(), 1);
    QCOMPARE(value(a, "Dunn", F::Email1), QStringLiteral("b@x"));
    QCOMPARE(value(a, "Dunn", F::Email2), QString());
    const QList<Card> cards = serverCards();
    QCOMPARE(cards.size(), 1);
    QVERIFY(!cards.first().text.contains("a@x"));
    const Result<SyncReport> again = sync(a);
    QVERIFY2(again, qPrintable(again.error()));
    QCOMPARE(again->changedThere + again->changedHere, 0);
    QVERIFY(again->notices.isEmpty());
}

void TestCardDavSync::serverOnlyPropertiesSurvive_data()
{
    firstSyncBothWays_data();
}

void TestCardDavSync::serverOnlyPropertiesSurvive()
{
    Device a;
    QVERIFY(setUp(a, {}));
    // A valid photo: Radicale reads the card before it stores it.
    const QByteArray photo = QByteArray(96, '\x55').toBase64();
    const QByteArray rich
        = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:rich-1\r\nN:Dunn;Al;;Dr.;\r\nFN:Dr. Al Dunn\r\n"
          "ORG:Dunn & Sons;Sales\r\nTITLE:Manager\r\nBDAY:1970-04-01\r\n"
          "PHOTO;ENCODING=b;TYPE=JPEG:"
          + photo.left(48) + "\r\n " + photo.mid(48)
          + "\r\n"
            "item1.TEL;TYPE=CELL:+44 7700 900123\r\nitem1.X-ABLabel:mobile\r\n"
            "TEL;TYPE=WORK:+44 20 7946 0000\r\nTEL;TYPE=WORK:+44 20 7946 0001\r\n"
            "ADR;TYPE=HOME:;;1 High St;Leeds;;LS1 1AA;UK\r\nADR;TYPE=WORK:;;2 Mill Rd;York;;;UK\r\n"
            "URL:https://example.com/al\r\nCATEGORIES:Friends,Work\r\nX-SOCIAL:al.dunn\r\n"
            "END:VCARD\r\n";
    const QUrl url = server().addressBook().resolved(QUrl("rich-1.vcf"));
    const Result<carddav::DavResponse> put
        = m_client.send("PUT", url, rich, {{"Content-Type", "text/vcard"}});
    QVERIFY(put && put->status / 100 == 2);
    QVERIFY(sync(a));
    const Result<carddav::DavResponse> before = m_client.send("GET", url);
    QVERIFY(before && before->status == 200);

    QVERIFY(edit(a, "Dunn", F::Cell, "+44 7700 900999"));
    const Result<SyncReport> report = sync(a);
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->changedThere, 1);
    const Result<carddav::DavResponse> after = m_client.send("GET", url);
    QVERIFY(after && after->status == 200);
    // Everything but the number is as the server had it, byte for byte.
    QByteArray expected = before->body;
    QVERIFY(expected.contains("+44 7700 900123"));
    expected.replace("+44 7700 900123", "+44 7700 900999");
    QCOMPARE(after->body, expected);
}

void TestCardDavSync::deletions_data()
{
    addServers();
    QTest::addColumn<bool>("deletedHere");
    QTest::addColumn<bool>("changedOnOtherSide");
    QTest::addColumn<bool>("survives");
    for (const char *name : {"radicale", "xandikos"}) {
        const QString row(name);
        QTest::addRow("%s: deleted there, unchanged here", name) << row << false << false << false;
        QTest::addRow("%s: deleted there, changed here", name) << row << false << true << true;
        QTest::addRow("%s: deleted here, unchanged there", name) << row << true << false << false;
        QTest::addRow("%s: deleted here, changed there", name) << row << true << true << true;
    }
}

void TestCardDavSync::resetOrSetUpAgain_data()
{
    addServers();
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("allow");
    QTest::addColumn<int>("kind"); // -1: the sync succeeds
    QTest::addColumn<int>("here");
    QTest::addColumn<int>("there");
    QTest::addColumn<int>("copied"); // contacts added on either side
    for (const char *name : {"radicale", "xandikos"}) {
        const QByteArray n(name);
        const int refused = int(Failure::Kind::Refused);
        QTest::newRow(n + ": the book emptied on the server")
            << QString::fromLatin1(name) << "reset" << false << refused << 5 << 0 << 0;
        QTest::newRow(n + ": the same, allowed")
            << QString::fromLatin1(name) << "reset" << true << -1 << 0 << 0 << 0;
        QTest::newRow(n + ": deleted here")
            << QString::fromLatin1(name) << "deleted here" << false << refused << 0 << 5 << 0;
        QTest::newRow(n + ": set up again") << QString::fromLatin1(name) << "setup again" << false
                                            << -1 << 5 << 5 << 0;
        QTest::newRow(n + ": a new pairing, the same contacts on both sides")
            << QString::fromLatin1(name) << "new pairing" << false << -1 << 5 << 5 << 0;
    }
}

// A reset server is not a mass deletion, and setting up again never doubles.
void TestCardDavSync::resetOrSetUpAgain()
{
    QFETCH(QString, what);
    QFETCH(bool, allow);
    QFETCH(int, kind);
    QFETCH(int, here);
    QFETCH(int, there);
    QFETCH(int, copied);
    const QList<ContactValues> five{person("Ames", "Al"), person("Bell", "Bo"),
                                    person("Cole", "Cy"), person("Dunn", "Di"),
                                    person("Eden", "Ed")};
    Device a;
    QVERIFY(setUp(a, five));
    QVERIFY(sync(a));
    Device b;
    Device *target = &a;
    const carddav::Account account = **carddav::loadAccount(a.db());
    if (what == QLatin1String("reset")) {
        for (const Card &card : serverCards())
            QVERIFY(m_client.send("DELETE", server().addressBook().resolved(QUrl(card.href))));
    } else if (what == QLatin1String("deleted here")) {
        QVERIFY(execOn(a.db(), QStringLiteral("DELETE FROM contactsdb")));
    } else if (what == QLatin1String("setup again")) {
        QVERIFY(carddav::saveAccount(a.db(), account));
    } else {
        QVERIFY(cntdb::createDatabase(b.db()) && cntdb::insertContacts(b.db(), five));
        QVERIFY(carddav::saveAccount(b.db(), account));
        target = &b;
    }
    carddav::SyncOptions options;
    options.databasePath = target->db();
    options.password = QStringLiteral("secret");
    options.conflictLogPath = target->log();
    options.allowMassDelete = allow;
    const Result<SyncReport> report = carddav::synchronise(options);
    if (kind < 0) {
        QVERIFY2(report, qPrintable(report.error()));
        QCOMPARE(report->addedHere + report->addedThere, copied);
    } else {
        QCOMPARE(int(report.failure().kind), kind);
    }
    QCOMPARE(lastNames(*target).size(), here);
    QCOMPARE(serverCards().size(), there);
}

void TestCardDavSync::deletions()
{
    QFETCH(bool, deletedHere);
    QFETCH(bool, changedOnOtherSide);
    QFETCH(bool, survives);
    Device a;
    Device b;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1"), person("Ames", "Bo")}));
    QVERIFY(sync(a));
    QVERIFY(join(b, a));

    // a is "here"; b stands for the other side, through the server.
    Device &deleting = deletedHere ? a : b;
    Device &changing = deletedHere ? b : a;
    if (changedOnOtherSide) {
        QVERIFY(edit(changing, "Dunn", F::Cell, "2"));
        if (deletedHere)
            QVERIFY(sync(b));
    }
    QVERIFY(execOn(deleting.db(), QStringLiteral("DELETE FROM contactsdb WHERE %1 = 'Dunn'")
                                      .arg(quotedColumnName(F::LastName))));
    if (!deletedHere)
        QVERIFY(sync(b));
    const Result<SyncReport> report = sync(a);
    QVERIFY2(report, qPrintable(report.error()));
    QVERIFY(sync(b));

    const QStringList expected = survives ? QStringList{"Ames", "Dunn"} : QStringList{"Ames"};
    QCOMPARE(lastNames(a), expected);
    QCOMPARE(lastNames(b), expected);
    QCOMPARE(serverCards().size(), expected.size());
    if (survives) {
        QCOMPARE(value(a, "Dunn", F::Cell), QStringLiteral("2"));
        QCOMPARE(value(b, "Dunn", F::Cell), QStringLiteral("2"));
        QCOMPARE(report->notices.size(), 1); // sent up again, or brought back
    }
}

void TestCardDavSync::ownAdditionDeletedElsewhere_data()
{
    addServers();
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("otherClientWritesMeanwhile");
    for (const char *name : {"radicale", "xandikos"}) {
        const QString row(name);
        // A few writes are fetched again by the next sync; many ask for the token once more,
        // which a write by another client in the meantime makes useless.
        QTest::addRow("%s: a few", name) << row << 2 << false;
        QTest::addRow("%s: many", name) << row << 101 << false;
        QTest::addRow("%s: many, another client meanwhile", name) << row << 101 << true;
    }
}

// The changes since a sync token cannot show a contact added after the token was taken and
// deleted again before the next one.
void TestCardDavSync::ownAdditionDeletedElsewhere()
{
    QFETCH(int, count);
    QFETCH(bool, otherClientWritesMeanwhile);
    QList<ContactValues> contacts;
    for (int i = 0; i < count; ++i)
        contacts << person(QStringLiteral("P%1").arg(i, 3, 10, QLatin1Char('0')), "Al");
    Device a;
    Device b;
    QVERIFY(setUp(a, contacts));
    bool othersWritten = !otherClientWritesMeanwhile;
    QVERIFY(sync(a, [&](const QByteArray &, const QUrl &url) {
        if (othersWritten)
            return;
        othersWritten = true;
        const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:other\r\nFN:Zed\r\n"
                                "N:Zed;;;;\r\nEND:VCARD\r\n";
        const Result<carddav::DavResponse> put = m_client.send(
            "PUT", url.resolved(QUrl("other.vcf")), card, {{"Content-Type", "text/vcard"}});
        QVERIFY(put && put->status / 100 == 2);
    }));
    QVERIFY(othersWritten);
    QVERIFY(join(b, a));
    QVERIFY(execOn(b.db(), QStringLiteral("DELETE FROM contactsdb WHERE %1 = 'P000'")
                               .arg(quotedColumnName(F::LastName))));
    QVERIFY(sync(b));

    const Result<SyncReport> report = sync(a);
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->deletedHere, 1);
    QVERIFY(!lastNames(a).contains("P000"));
    QCOMPARE(lastNames(a), lastNames(b));
}

void TestCardDavSync::rowidGivenAgain_data()
{
    firstSyncBothWays_data();
}

// SQLite gives a new row the rowid of a deleted last row: the new contact is a new card on
// the server, and the deleted one is deleted there, not turned into the new one.
void TestCardDavSync::rowidGivenAgain()
{
    Device a;
    QVERIFY(setUp(a, {person("Dunn", "Al"), person("Ames", "Bo")}));
    QVERIFY(sync(a));
    const QStringList uidsBefore = queryColumn(a.db(), "SELECT uid FROM carddav_contact ORDER BY "
                                                       "contact_rowid");
    QCOMPARE(uidsBefore.size(), 2);
    QVERIFY(execOn(a.db(), "DELETE FROM contactsdb WHERE rowid = 2"));
    QVERIFY(cntdb::insertContacts(a.db(), {person("Cole", "Cy")}));
    QCOMPARE(queryColumn(a.db(), QStringLiteral("SELECT rowid FROM contactsdb WHERE %1 = 'Cole'")
                                     .arg(quotedColumnName(F::LastName))),
             QStringList{"2"});

    const Result<SyncReport> report = sync(a);
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->deletedThere, 1);
    QCOMPARE(report->addedThere, 1);
    QStringList names;
    QStringList uids;
    for (const Card &card : serverCards()) {
        const Result<carddav::CardContent> read = carddav::readCard(card.text, card.href);
        QVERIFY(read);
        names << read->values[fieldIndex(F::LastName)];
        uids << read->uid;
    }
    names.sort();
    QCOMPARE(names, (QStringList{"Cole", "Dunn"}));
    QVERIFY(!uids.contains(uidsBefore.at(1)));
    QCOMPARE(queryColumn(a.db(), "SELECT count(*) FROM carddav_deleted"), QStringList{"0"});
}

void TestCardDavSync::raceMeetsPreconditionFailed_data()
{
    firstSyncBothWays_data();
}

void TestCardDavSync::raceMeetsPreconditionFailed()
{
    Device a;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1", "a@x")}));
    QVERIFY(sync(a));
    QVERIFY(edit(a, "Dunn", F::Cell, "2"));
    // Another client changes the e-mail between this sync's read and its write.
    int writes = 0;
    const Result<SyncReport> report = sync(a, [&](const QByteArray &method, const QUrl &url) {
        if (method != "PUT" || writes++ > 0)
            return;
        const Result<carddav::DavResponse> got = m_client.send("GET", url);
        QByteArray card = got->body;
        card.replace("a@x", "c@x");
        const Result<carddav::DavResponse> put
            = m_client.send("PUT", url, card, {{"Content-Type", "text/vcard"}});
        QVERIFY(put && put->status / 100 == 2);
    });
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(writes, 2); // the first PUT met 412, the second went through
    QCOMPARE(value(a, "Dunn", F::Email1), QStringLiteral("c@x"));
    const QList<Card> cards = serverCards();
    QCOMPARE(cards.size(), 1);
    const Result<carddav::CardContent> there = carddav::readCard(cards.first().text, "server");
    QVERIFY(there);
    QCOMPARE(there->values[fieldIndex(F::Cell)], QStringLiteral("2"));
    QCOMPARE(there->values[fieldIndex(F::Email1)], QStringLiteral("c@x"));
}

void TestCardDavSync::serverStoppedMidway_data()
{
    firstSyncBothWays_data();
}

void TestCardDavSync::serverStoppedMidway()
{
    QList<ContactValues> many;
    for (int i = 0; i < 20; ++i)
        many << person(QStringLiteral("Name%1").arg(i, 2, 10, QLatin1Char('0')), "X");
    Device a;
    QVERIFY(setUp(a, many));
    int writes = 0;
    const Result<SyncReport> broken = sync(a, [&](const QByteArray &, const QUrl &) {
        if (++writes == 8)
            server().stop();
    });
    QVERIFY(!broken);
    QVERIFY2(broken.error().contains(server().root().authority()), qPrintable(broken.error()));
    QString error;
    QVERIFY2(server().start(error), qPrintable(error));
    const QList<Card> sent = serverCards();
    QCOMPARE(sent.size(), 7);
    // Edited before the rerun: one whose upload went through unrecorded, one not yet sent.
    QStringList unsent = lastNames(a);
    for (const Card &card : sent)
        unsent.removeOne(carddav::readCard(card.text, card.href)->values[fieldIndex(F::LastName)]);
    QCOMPARE(unsent.size(), 13);
    QVERIFY(edit(a, carddav::readCard(sent.first().text, "")->values[fieldIndex(F::LastName)],
                 F::Cell, "9"));
    QVERIFY(edit(a, unsent.first(), F::Cell, "9"));

    const Result<SyncReport> rerun = sync(a);
    QVERIFY2(rerun, qPrintable(rerun.error()));
    QCOMPARE(lastNames(a).size(), 20);
    const QList<Card> cards = serverCards();
    QCOMPARE(cards.size(), 20);
    int nines = 0;
    for (const Card &card : cards)
        nines += carddav::readCard(card.text, card.href)->values[fieldIndex(F::Cell)] == "9";
    QCOMPARE(nines, 2);
    QCOMPARE(queryColumn(a.db(), "SELECT count(*) FROM carddav_contact WHERE pending = 0"),
             QStringList{"20"});
}

void TestCardDavSync::killedAtRandom_data()
{
    firstSyncBothWays_data();
}

// The tool killed at a random moment of a sync, then run again: the same contacts on both
// sides, none twice.
void TestCardDavSync::killedAtRandom()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    QList<ContactValues> many;
    for (int i = 0; i < 30; ++i)
        many << person(QStringLiteral("Kill%1").arg(i, 2, 10, QLatin1Char('0')), "X");
    Device a;
    QVERIFY(setUp(a, many));
    const QString passwordFile = a.dir.filePath("pw");
    QFile pw(passwordFile);
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write("secret\n");
    pw.close();
    QVERIFY(pw.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QStringList arguments{"sync", "--db", a.db(), "--password-file", passwordFile};
    const auto cardsOnServer = [&] {
        const Result<carddav::DavResponse> listed
            = m_client.send("PROPFIND", server().addressBook(),
                            carddav::propfindBody({{"DAV:", "getetag"}}), {{"Depth", "1"}});
        const Result<carddav::Multistatus> status
            = listed ? carddav::parseMultistatus(listed->body)
                     : Result<carddav::Multistatus>(listed.failure());
        return status ? int(status->responses.size()) - 1 : -1;
    };
    for (int round = 0; round < 3; ++round) {
        if (round == 1) // a change on each side between the kills
            QVERIFY(edit(a, "Kill03", F::Cell, "5"));
        QProcess tool;
        tool.start(QStringLiteral(PELMORA_CONTACTS_PATH), arguments);
        QVERIFY(tool.waitForStarted());
        if (round == 0) {
            // Surely in the middle of the upload: once some of the contacts are there.
            const int uploaded = random.bounded(1, 15);
            QDeadlineTimer deadline(30000);
            while (cardsOnServer() < uploaded && !deadline.hasExpired())
                QThread::msleep(2);
        } else {
            QThread::msleep(random.bounded(20, 400));
        }
        // A tool that has ended has no process id, and kill(0) would end this test's group.
        if (const qint64 pid = tool.processId(); pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        tool.waitForFinished();
        if (round == 0)
            QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    }
    QProcess tool;
    tool.start(QStringLiteral(PELMORA_CONTACTS_PATH), arguments);
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    QCOMPARE(lastNames(a).size(), 30);
    const QList<Card> cards = serverCards();
    QCOMPARE(cards.size(), 30);
    QSet<QString> uids;
    for (const Card &card : cards)
        uids.insert(carddav::readCard(card.text, card.href)->uid);
    QCOMPARE(uids.size(), 30);
    QCOMPARE(value(a, "Kill03", F::Cell), QStringLiteral("5"));
}

void TestCardDavSync::tool_data()
{
    addServers();
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("addressBook");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    for (const char *name : {"radicale", "xandikos"}) {
        const QString row(name);
        QTest::addRow("%s: set up, sync, status", name)
            << row << "secret" << 0600 << "" << 0 << "last sync: 20";
        QTest::addRow("%s: no such address book", name)
            << row << "secret" << 0600 << "Nope" << 2 << "There is no address book \"Nope\"";
        QTest::addRow("%s: password file others may read", name)
            << row << "secret" << 0644 << "" << 2 << "chmod 600";
        // The address's user and password would be kept and printed; the message says neither.
        QTest::addRow("%s: a password in the address", name)
            << row << "secret" << 0600 << "@" << 2 << "must not hold a user name or password";
    }
    // Xandikos has no authentication of its own: only Radicale can refuse a password.
    QTest::newRow("radicale: wrong password")
        << "radicale"
        << "wrong" << 0600 << "" << 4 << "refused the user name or password";
}

void TestCardDavSync::tool()
{
    QFETCH(QString, password);
    QFETCH(int, mode);
    QFETCH(QString, addressBook);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    Device a;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1")}));
    const QString passwordFile = a.dir.filePath("pw");
    QFile pw(passwordFile);
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write(password.toUtf8() + '\n');
    pw.close();
    QVERIFY(pw.setPermissions(mode == 0600
                                  ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                        | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QString output;
    int code = -1;
    const auto run = [&](const QStringList &arguments) {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(PELMORA_CONTACTS_PATH),
                   arguments + QStringList{"--db", a.db(), "--password-file", passwordFile});
        tool.waitForFinished(60000);
        output += QString::fromUtf8(tool.readAll());
        code = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    };
    QUrl root = server().root();
    if (addressBook == QLatin1String("@")) {
        root.setUserInfo(QStringLiteral("alice:secret"));
        addressBook.clear();
    }
    QStringList setup{"sync", "setup", root.toString(), "--user", "alice"};
    if (!addressBook.isEmpty())
        setup << "--addressbook" << addressBook;
    run(setup);
    QVERIFY2(!output.contains(QLatin1String("secret")), qPrintable(output));
    if (code == 0) {
        QVERIFY2(output.contains(server().addressBook().toString()), qPrintable(output));
        run({"sync"});
        QVERIFY2(code == 0, qPrintable(output));
        QVERIFY(output.contains("on the server: 1 added"));
        run({"sync", "status"});
    }
    QVERIFY2(output.contains(says), qPrintable(output));
    QCOMPARE(code, exitCode);
}

void TestCardDavSync::passwordInTheKeyring_data()
{
    addServers();
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("radicale: the right password") << "radicale"
                                                  << "secret" << 0 << "on the server: 1 added";
    QTest::newRow("radicale: a wrong one") << "radicale"
                                           << "wrong" << 4 << "refused the user name";
}

// sync setup keeps the password in a real Secret Service keyring (GNOME Keyring on a bus of
// its own) and sync reads it from there, with no password file.
void TestCardDavSync::passwordInTheKeyring()
{
#ifndef PELMORA_CONTACTS_HAVE_KEYRING
    QSKIP("pelmora-contacts was built without qtkeychain");
#endif
    QFETCH(QString, password);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    if (QStandardPaths::findExecutable("dbus-run-session").isEmpty()
        || QStandardPaths::findExecutable("gnome-keyring-daemon").isEmpty())
        QSKIP(
            "needs dbus-run-session and gnome-keyring-daemon (Debian dbus-daemon, gnome-keyring)");
    Device a;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1")}));
    const char *script = R"sh(
eval "$(printf unlock | gnome-keyring-daemon --unlock --components=secrets)" || exit 90
printf '%s\n' "$1" | "$2" sync setup "$3" --user alice --db "$4" || exit
"$2" sync --db "$4"
)sh";
    QProcess session;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", a.dir.path());
    environment.insert("XDG_DATA_HOME", a.dir.filePath("data"));
    environment.insert("XDG_RUNTIME_DIR", a.dir.path());
    session.setProcessEnvironment(environment);
    session.setProcessChannelMode(QProcess::MergedChannels);
    session.start("dbus-run-session", {"--", "sh", "-c", script, "sh", password,
                                       PELMORA_CONTACTS_PATH, server().root().toString(), a.db()});
    QVERIFY(session.waitForFinished(60000));
    const QString output = QString::fromUtf8(session.readAll());
    QVERIFY2(output.contains(says), qPrintable(output));
    QCOMPARE(session.exitCode(), exitCode);
    QFile database(a.db());
    QVERIFY(database.open(QIODevice::ReadOnly));
    QVERIFY(!database.readAll().contains(password.toUtf8()));
}

// A certificate that does not verify is refused with its fingerprint; given that
// fingerprint, the same server is used.
void TestCardDavSync::selfSignedCertificate()
{
    DavServer tls(DavServer::Kind::Radicale);
    tls.setTls(true);
    QString error;
    QVERIFY2(tls.start(error), qPrintable(error));
    Device a;
    QVERIFY(cntdb::createDatabase(a.db()));
    QVERIFY(cntdb::insertContacts(a.db(), {person("Dunn", "Al", "1")}));
    const QString passwordFile = a.dir.filePath("pw");
    QFile pw(passwordFile);
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write("secret\n");
    pw.close();
    QVERIFY(pw.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const auto run = [&](const QStringList &arguments, QString &output) {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(PELMORA_CONTACTS_PATH),
                   arguments + QStringList{"--db", a.db(), "--password-file", passwordFile});
        tool.waitForFinished(60000);
        output = QString::fromUtf8(tool.readAll());
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    };
    const QStringList setup{"sync", "setup", tls.root().toString(), "--user", "alice"};
    QString output;
    QVERIFY2(run(setup, output) == 4, qPrintable(output));
    const QRegularExpression fingerprint(QStringLiteral("SHA-256 fingerprint: ([0-9A-F:]{95})"));
    const QRegularExpressionMatch match = fingerprint.match(output);
    QVERIFY2(match.hasMatch(), qPrintable(output));

    QStringList wrongPin = setup;
    wrongPin << "--accept-certificate"
             << QString(match.captured(1)).replace(u'A', u'B').replace(u'0', u'1');
    QVERIFY2(run(wrongPin, output) == 4, qPrintable(output));

    QCOMPARE(run(setup + QStringList{"--accept-certificate", match.captured(1)}, output), 0);
    // The pin is kept with the account: the sync needs it no more.
    QCOMPARE(run({"sync"}, output), 0);
    QVERIFY2(output.contains("on the server: 1 added"), qPrintable(output));
}

// Another program (the program saving, an import) holds the database's write lock while the
// sync wants to write: the sync waits for it instead of failing.
void TestCardDavSync::waitsForTheProgramsLock_data()
{
    addServers();
    QTest::addColumn<int>("busyTimeoutMs");
    QTest::addColumn<bool>("synced");
    QTest::newRow("waits") << "radicale" << 10000 << true;
    // The same without waiting fails: the lock really was held when the sync wrote.
    QTest::newRow("does not wait") << "radicale" << 0 << false;
}

void TestCardDavSync::waitsForTheProgramsLock()
{
    QFETCH(int, busyTimeoutMs);
    QFETCH(bool, synced);
    Device a;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1")}));
    QProcess holder;
    holder.start(QStringLiteral("python3"),
                 {"-c",
                  "import sqlite3, sys, time\n"
                  "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                  "c.execute('BEGIN IMMEDIATE')\n"
                  "print('held', flush=True)\n"
                  "time.sleep(1.5)\n"
                  "c.execute('COMMIT')\n",
                  a.db()});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    carddav::SyncOptions options;
    options.databasePath = a.db();
    options.password = QStringLiteral("secret");
    options.conflictLogPath = a.log();
    options.busyTimeoutMs = busyTimeoutMs;
    const Result<SyncReport> report = carddav::synchronise(options);
    QVERIFY2(report.ok() == synced, qPrintable(report.error()));
    if (synced)
        QCOMPARE(report->addedThere, 1);
    else
        QVERIFY2(report.error().contains(a.db()), qPrintable(report.error()));
    QVERIFY(holder.state() == QProcess::NotRunning || holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);
}

void TestCardDavSync::powerLossLeavesBeforeOrAfter_data()
{
    addServers();
    QTest::newRow("radicale") << "radicale";
    QTest::newRow("xandikos") << "xandikos";
}

// A power cut anywhere in a sync that brings changes both ways leaves the address book as
// before the sync or as after it: what the sync changes here is one transaction.
void TestCardDavSync::powerLossLeavesBeforeOrAfter()
{
    Device a;
    Device b;
    QVERIFY(setUp(a, {person("Dunn", "Al", "1"), person("Ames", "Bo"), person("Cole", "Cy")}));
    QVERIFY(sync(a));
    QVERIFY(join(b, a));
    QVERIFY(edit(b, "Dunn", F::Cell, "2"));
    QVERIFY(cntdb::insertContacts(b.db(), {person("Berg", "Di")}));
    QVERIFY(sync(b));
    QVERIFY(edit(a, "Ames", F::Email1, "bo@x"));
    QVERIFY(cntdb::insertContacts(a.db(), {person("Falk", "Ed")}));

    support::PowerLossVfs vfs;
    vfs.install();
    support::PowerLossHistory history(vfs, a.db(), support::contactRows);
    QVERIFY(history.start());
    const Result<void> synced = history.run(QStringLiteral("sync"), [&]() -> Result<void> {
        const Result<SyncReport> report = sync(a);
        if (!report)
            return Failure{report.error()};
        return {};
    });
    vfs.uninstall();
    QVERIFY2(synced, qPrintable(synced.error()));
    QCOMPARE(value(a, "Dunn", F::Cell), QStringLiteral("2"));
    QCOMPARE(lastNames(a), (QStringList{"Ames", "Berg", "Cole", "Dunn", "Falk"}));

    QTemporaryDir losses;
    const quint64 seed = support::testSeed("PELMORA_POWERLOSS_SEED");
    const Result<support::PowerLossHistory::Tally> tally
        = history.checkLosses(300, seed, losses.path(), support::reopenWithStore);
    QVERIFY2(tally, qPrintable(tally.error()));
    // Losses that cut the sync's commit short must have been tried, or nothing was shown.
    QVERIFY(tally->duringOperation > 0);
}

QTEST_GUILESS_MAIN(TestCardDavSync)
#include "tst_carddavsync.moc"
