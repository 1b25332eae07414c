// The sync against a server that misbehaves, played by a scripted server of the tests' own:
// redirects, hrefs that point out of the address book, answers not asked for, answers cut
// short or never ending. Each case checks what reached each server, and with the password.

#include "scriptedserver.h"

#include <core/contacts/contactdatabase.h>
#include <core/sync/carddavsync.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

namespace {

const QByteArray book = "/alice/book/";

QByteArray card(const QByteArray &uid, const QByteArray &last)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + last + "\r\nN:" + last
           + ";;;;\r\nEND:VCARD\r\n";
}

QByteArray response(const QByteArray &href, const QByteArray &props, int status = 200)
{
    const QByteArray line = "HTTP/1.1 " + QByteArray::number(status) + " X";
    if (props.isEmpty())
        return "<D:response><D:href>" + href + "</D:href><D:status>" + line
               + "</D:status></D:response>";
    return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>" + props
           + "</D:prop><D:status>" + line + "</D:status></D:propstat></D:response>";
}

QByteArray multistatus(const QByteArray &responses, const QByteArray &token = {})
{
    return "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\" "
           "xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
           + responses
           + (token.isEmpty() ? QByteArray() : "<D:sync-token>" + token + "</D:sync-token>")
           + "</D:multistatus>";
}

// How the address book server misbehaves in one case.
struct Misbehaviour
{
    QList<QByteArray> listed;   // hrefs in the listing, as the server writes them
    QList<QByteArray> unasked;  // hrefs the multiget answers though not asked for
    QByteArray redirectTo;      // a Location for every REPORT ("other" for the other server)
    bool truncated = false;     // the first listing is cut short (507), the rest follows
    bool refusesTokens = false; // a REPORT from a token is refused (403 valid-sync-token)
};

} // namespace

Q_DECLARE_METATYPE(Misbehaviour)

class TestHostileServer : public QObject
{
    Q_OBJECT

private slots:
    void misbehaving_data();
    void misbehaving();
    void endlessAnswer();
};

void TestHostileServer::misbehaving_data()
{
    QTest::addColumn<Misbehaviour>("server");
    QTest::addColumn<int>("syncs");
    QTest::addColumn<int>("kind"); // -1: the last sync succeeds
    QTest::addColumn<int>("contactsHere");
    QTest::addColumn<QByteArray>("mustReach"); // a request the book must have had, if any

    const int ok = -1;
    const int server = int(Failure::Kind::Server);
    Misbehaviour m;
    m.redirectTo = "other";
    QTest::newRow("redirect to another port") << m << 1 << server << 1 << QByteArray();
    m = {};
    m.redirectTo = "/alice/elsewhere/";
    QTest::newRow("redirect within the origin") << m << 1 << server << 1 << QByteArray();
    m = {};
    m.listed = {"/alice/book/a.vcf", "other/evil/x.vcf", "//127.0.0.1:1/evil/y.vcf"};
    QTest::newRow("hrefs on other hosts") << m << 1 << ok << 2 << QByteArray("/alice/book/a.vcf");
    m.listed = {"/alice/book/a.vcf", "/alice/book/../../bob/z.vcf", "/alice/book/x/../../c.vcf"};
    QTest::newRow("dot segments") << m << 1 << ok << 2 << QByteArray();
    m.listed = {"/alice/book/a.vcf", "/alice/book/..%2F..%2Fbob%2Fbook%2Fy.vcf",
                "/alice/book/q.vcf?x=1"};
    QTest::newRow("encoded slashes and a query") << m << 1 << ok << 2 << QByteArray();
    m.listed = {"/alice/book/a.vcf", "/alice/book/", "/alice/book/sub/d.vcf"};
    QTest::newRow("the book itself and a deeper path") << m << 1 << ok << 2 << QByteArray();
    m.listed = {"/alice/book/a%23b.vcf", "/alice/book/c%3Fd.vcf"};
    QTest::newRow("percent-encoded names stay so")
        << m << 1 << ok << 3 << QByteArray("/alice/book/a%23b.vcf");
    m = {};
    m.listed = {"/alice/book/a.vcf"};
    m.unasked = {"/alice/book/", "/alice/book/extra.vcf"};
    QTest::newRow("answers not asked for") << m << 1 << ok << 2 << QByteArray();
    m = {};
    m.listed = {"/alice/book/a.vcf", "/alice/book/b.vcf"};
    m.truncated = true;
    QTest::newRow("a listing cut short (507)") << m << 1 << ok << 3 << QByteArray();
    m = {};
    m.listed = {"/alice/book/a.vcf"};
    m.refusesTokens = true;
    QTest::newRow("a token refused (403)") << m << 2 << ok << 2 << QByteArray();
}

void TestHostileServer::misbehaving()
{
    QFETCH(Misbehaviour, server);
    QFETCH(int, syncs);
    QFETCH(int, kind);
    QFETCH(int, contactsHere);
    QFETCH(QByteArray, mustReach);

    ScriptedServer other([](const ScriptedServer::Request &) {
        return ScriptedServer::Reply{207, {}, multistatus({}), false};
    });
    QVERIFY(other.listen());
    auto resolve = [&](QByteArray href) {
        return href.startsWith("other") ? other.url(href.mid(5)).toEncoded() : href;
    };
    QList<QByteArray> written; // what the sync PUT, listed from then on
    ScriptedServer dav([&](const ScriptedServer::Request &request) -> ScriptedServer::Reply {
        if (request.method == "PUT") {
            written << request.path;
            return {201, {{"ETag", "\"new\""}}, {}, false};
        }
        if (request.method != "REPORT")
            return {404, {}, {}, false};
        if (!server.redirectTo.isEmpty())
            return {307, {{"Location", resolve(server.redirectTo)}}, {}, false};
        if (request.body.contains("addressbook-multiget")) {
            QByteArray answers;
            const QRegularExpression href(QStringLiteral("href>([^<]*)<"));
            for (const auto &match : href.globalMatch(QString::fromUtf8(request.body))) {
                const QByteArray path = match.captured(1).toUtf8();
                answers += response(path, "<D:getetag>\"1\"</D:getetag><C:address-data>"
                                              + card(path, "Listed") + "</C:address-data>");
            }
            for (const QByteArray &path : server.unasked)
                answers += response(path, "<D:getetag>\"1\"</D:getetag><C:address-data>"
                                              + card(path, "Unasked") + "</C:address-data>");
            return {207, {}, multistatus(answers), false};
        }
        const bool fromToken = request.body.contains("sync-token>t");
        if (fromToken && server.refusesTokens)
            return {403, {}, "<D:error xmlns:D=\"DAV:\"><D:valid-sync-token/></D:error>", false};
        QList<QByteArray> listed = server.listed;
        QByteArray responses;
        if (server.truncated && !fromToken) {
            listed = listed.mid(0, 1);
            responses += response(book, {}, 507);
        } else if (server.truncated) {
            listed = listed.mid(1);
        }
        for (const QByteArray &href : listed)
            responses += response(resolve(href), "<D:getetag>\"1\"</D:getetag>");
        for (const QByteArray &href : written)
            responses += response(href, "<D:getetag>\"new\"</D:getetag>");
        return {207, {}, multistatus(responses, fromToken ? "t2" : "t1"), false};
    });
    QVERIFY(dav.listen());

    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("cntdb.mdb"));
    ContactValues local;
    local[fieldIndex(ContactField::LastName)] = QStringLiteral("Here");
    QVERIFY(cntdb::createDatabase(db) && cntdb::insertContacts(db, {local}));
    carddav::Account account;
    account.server = dav.url("/");
    account.user = QStringLiteral("alice");
    account.addressBook = dav.url(book);
    QVERIFY(carddav::saveAccount(db, account));

    carddav::SyncOptions options;
    options.databasePath = db;
    options.password = QStringLiteral("secret");
    options.conflictLogPath = dir.filePath(QStringLiteral("conflicts.log"));
    options.timeoutMs = 10000;
    Result<carddav::SyncReport> report = carddav::synchronise(options);
    for (int i = 1; i < syncs; ++i)
        report = carddav::synchronise(options);
    if (kind < 0)
        QVERIFY2(report, qPrintable(report.error()));
    else
        QCOMPARE(int(report.failure().kind), kind);
    if (syncs > 1)
        QVERIFY(!report->usedSyncToken);

    // Nothing went to the other server, and nothing to the book's server outside the book.
    QCOMPARE(other.requests().size(), 0);
    bool reached = mustReach.isEmpty();
    for (const ScriptedServer::Request &request : dav.requests()) {
        QVERIFY2(request.path.startsWith(book), request.path.constData());
        reached = reached || request.path == mustReach || request.body.contains(mustReach);
    }
    QVERIFY2(reached, mustReach.constData());

    sqlite::Connection connection;
    QVERIFY(connection.open(db, sqlite::Connection::Mode::ReadOnly));
    sqlite::Statement count(connection, QStringLiteral("SELECT count(*) FROM contactsdb"));
    QVERIFY(count.step() == sqlite::Statement::Step::Row);
    QCOMPARE(count.columnInt64(0), qint64(contactsHere));
}

// A listing that never ends: the tool gives up at the cap with the server's exit status,
// holding little memory meanwhile, and writes nothing here.
void TestHostileServer::endlessAnswer()
{
    const QByteArray entry = response("/alice/book/x.vcf", "<D:getetag>\"1\"</D:getetag>");
    ScriptedServer dav([&](const ScriptedServer::Request &) {
        return ScriptedServer::Reply{207, {}, entry.repeated(512), true};
    });
    QVERIFY(dav.listen());
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("cntdb.mdb"));
    QVERIFY(cntdb::createDatabase(db));
    carddav::Account account;
    account.server = dav.url("/");
    account.user = QStringLiteral("alice");
    account.addressBook = dav.url(book);
    QVERIFY(carddav::saveAccount(db, account));
    QFile password(dir.filePath(QStringLiteral("password")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write("secret\n");
    password.close();
    password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QProcess tool;
    QStringList arguments{
        QStringLiteral(PELMORA_CONTACTS_PATH), QStringLiteral("sync"), QStringLiteral("--db"), db,
        QStringLiteral("--password-file"),     password.fileName()};
#if !defined(__SANITIZE_ADDRESS__)
    // A regression fails here rather than eating the machine.
    arguments.prepend(QStringLiteral("--as=2147483648"));
    tool.start(QStringLiteral("prlimit"), arguments);
#else
    tool.start(arguments.takeFirst(), arguments);
#endif
    QEventLoop loop; // the server answers on this thread's loop
    connect(&tool, &QProcess::finished, &loop, &QEventLoop::quit);
    QVERIFY(tool.waitForStarted());
    loop.exec();
    QCOMPARE(tool.exitCode(), 4);
    QVERIFY(tool.readAllStandardError().contains("too large"));
#if !defined(__SANITIZE_ADDRESS__)
    rusage usage{};
    QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(usage.ru_maxrss < 256 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
#endif
}

QTEST_GUILESS_MAIN(TestHostileServer)
#include "tst_hostileserver.moc"
