// The WebDAV client's own rules (where the password may go, how long silence may last),
// the multistatus reader and the password file's mode.
#include <core/sync/davclient.h>
#include <core/sync/davxml.h>
#include <core/sync/passwordfile.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

class TestDavClient : public QObject
{
    Q_OBJECT

private slots:
    void passwordFileMode_data();
    void passwordFileMode();
    void multistatus();
    void passwordOnlyWhereSafe_data();
    void passwordOnlyWhereSafe();
    void silenceEndsInATimeOut_data();
    void silenceEndsInATimeOut();
};

void TestDavClient::passwordFileMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0600") << 0600 << true;
    QTest::newRow("0400") << 0400 << true;
    QTest::newRow("0640 group reads") << 0640 << false;
    QTest::newRow("0604 others read") << 0604 << false;
    QTest::newRow("0620 group writes") << 0620 << false;
}

void TestDavClient::passwordFileMode()
{
    QFETCH(int, mode);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pw"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("s3cret:with colon \r\nsecond line\n");
    file.close();
    QFileDevice::Permissions permissions;
    const std::pair<int, QFileDevice::Permission> bits[]
        = {{0400, QFileDevice::ReadOwner}, {0200, QFileDevice::WriteOwner},
           {0040, QFileDevice::ReadGroup}, {0020, QFileDevice::WriteGroup},
           {0004, QFileDevice::ReadOther}, {0002, QFileDevice::WriteOther}};
    for (const auto &[bit, permission] : bits) {
        if (mode & bit)
            permissions |= permission;
    }
    QVERIFY(file.setPermissions(permissions));
    const Result<QString> password = carddav::readPasswordFile(path);
    QCOMPARE(password.ok(), accepted);
    if (accepted)
        QCOMPARE(*password, QStringLiteral("s3cret:with colon "));
    else
        QVERIFY(password.error().contains(path));
}

void TestDavClient::multistatus()
{
    const QByteArray body
        = "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:"
          "ns:carddav\"><D:response><D:href>/ab/a%20b.vcf</D:href><D:propstat><D:prop>"
          "<D:getetag>\"e1\"</D:getetag></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
          "<D:propstat><D:prop><C:address-data/></D:prop><D:status>HTTP/1.1 404 Not Found"
          "</D:status></D:propstat></D:response><D:response><D:href>/ab/gone.vcf</D:href>"
          "<D:status>HTTP/1.1 404 Not Found</D:status></D:response><D:response><D:href>/ab/"
          "</D:href><D:propstat><D:prop><D:resourcetype><D:collection/><C:addressbook/>"
          "</D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
          "</D:response><D:sync-token>http://x/sync/7</D:sync-token></D:multistatus>";
    const Result<carddav::Multistatus> parsed = carddav::parseMultistatus(body);
    QVERIFY2(parsed, qPrintable(parsed.error()));
    const carddav::Multistatus &status = *parsed;
    QCOMPARE(status.syncToken, QStringLiteral("http://x/sync/7"));
    QCOMPARE(status.responses.size(), 3);
    QCOMPARE(status.responses[0].prop(carddav::davNs, "getetag"), QStringLiteral("\"e1\""));
    // A property the server did not have is not read as empty text.
    QVERIFY(!status.responses[0].find(QStringLiteral("urn:ietf:params:xml:ns:carddav|"
                                                     "address-data")));
    QCOMPARE(status.responses[1].status, 404);
    QVERIFY(status.responses[2].find(QStringLiteral("DAV:|resourcetype")));
    QCOMPARE(status.responses[2].find(QStringLiteral("DAV:|resourcetype"))->children,
             (QStringList{"DAV:|collection", "urn:ietf:params:xml:ns:carddav|addressbook"}));
    QVERIFY(!carddav::parseMultistatus("<html>no</html>"));
}

void TestDavClient::passwordOnlyWhereSafe_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("sent");
    QTest::newRow("https") << "https://dav.example.org/" << true;
    QTest::newRow("http, localhost") << "http://localhost:5232/" << true;
    QTest::newRow("http, 127.0.0.1") << "http://127.0.0.1:5232/" << true;
    QTest::newRow("http, ::1") << "http://[::1]:5232/" << true;
    QTest::newRow("http, elsewhere") << "http://dav.example.org/" << false;
    QTest::newRow("http, a name that starts like localhost")
        << "http://127.0.0.1.example.org/" << false;
    QTest::newRow("ftp") << "ftp://localhost/" << false;
}

void TestDavClient::passwordOnlyWhereSafe()
{
    QFETCH(QString, url);
    QFETCH(bool, sent);
    QCOMPARE(carddav::DavClient::mayCarryPassword(QUrl(url)), sent);
}

QTEST_GUILESS_MAIN(TestDavClient)
void TestDavClient::silenceEndsInATimeOut_data()
{
    QTest::addColumn<int>("requestTimeoutMs");
    QTest::addColumn<bool>("answered");
    // The server answers after 600 ms of silence; the client allows 200 ms unless the request
    // allows more, as a listing of the whole address book does.
    QTest::newRow("the client's time-out") << 0 << false;
    QTest::newRow("a longer one for this request") << 10000 << true;
}

void TestDavClient::silenceEndsInATimeOut()
{
    QFETCH(int, requestTimeoutMs);
    QFETCH(bool, answered);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    connect(&server, &QTcpServer::newConnection, this, [&server] {
        QTcpSocket *socket = server.nextPendingConnection();
        QTimer::singleShot(600, socket, [socket] {
            socket->write("HTTP/1.1 207 Multi-Status\r\nContent-Length: 0\r\n\r\n");
        });
    });
    carddav::DavClient client(QStringLiteral("alice"), QStringLiteral("secret"));
    client.setTimeoutMs(200);
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/book/").arg(server.serverPort()));
    const Result<carddav::DavResponse> answer
        = client.send("REPORT", url, "<x/>", {{"Depth", "0"}}, requestTimeoutMs);
    QCOMPARE(answer.ok(), answered);
    if (answered)
        QCOMPARE(answer->status, 207);
    else
        QVERIFY2(answer.error().contains(QStringLiteral("No answer within 1 s.")),
                 qPrintable(answer.error()));
}

#include "tst_davclient.moc"
