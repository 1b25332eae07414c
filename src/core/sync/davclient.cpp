#include <core/sync/davclient.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslError>
#include <QTimer>

namespace carddav {

QString serverProblem(const QString &whatFailed, const QUrl &url, const QString &reason)
{
    return QStringLiteral("%1\n\nServer: %2\nReason: %3")
        .arg(whatFailed, url.toDisplayString(QUrl::RemoveUserInfo), reason);
}

QString sha256Fingerprint(const QByteArray &der)
{
    const QByteArray hash = QCryptographicHash::hash(der, QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toHex(':').toUpper());
}

namespace {

QString normalisedFingerprint(QString text)
{
    return text.remove(u':').remove(u' ').toUpper();
}

} // namespace

DavClient::DavClient(QString user, QString password, QString pinnedSha256)
    : m_user(std::move(user))
    , m_password(std::move(password))
    , m_pinned(normalisedFingerprint(std::move(pinnedSha256)))
    , m_network(new QNetworkAccessManager)
{
    // Redirects are followed here, where the method and body can be kept.
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

DavClient::~DavClient()
{
    delete m_network;
}

bool DavClient::sameOrigin(const QUrl &a, const QUrl &b)
{
    const int defaultPort = a.scheme() == QLatin1String("https") ? 443 : 80;
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && a.port(defaultPort) == b.port(defaultPort);
}

bool DavClient::mayCarryPassword(const QUrl &url)
{
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    const QString host = url.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

Result<DavResponse> DavClient::send(const QByteArray &method,
                                    const QUrl &url,
                                    const QByteArray &body,
                                    const HeaderList &headers,
                                    int timeoutMs)
{
    QUrl target = url;
    const bool follow
        = m_followRedirects && (method == "GET" || method == "PROPFIND" || method == "REPORT");
    for (int hop = 0;; ++hop) {
        Result<DavResponse> answer
            = sendOnce(method, target, body, headers, timeoutMs > 0 ? timeoutMs : m_timeoutMs);
        if (!answer)
            return answer;
        const int status = answer->status;
        if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
            return answer;
        const QByteArray location = answer->header("location");
        if (location.isEmpty())
            return answer;
        const QUrl next = target.resolved(QUrl::fromEncoded(location));
        if (!sameOrigin(next, m_origin.isEmpty() ? url : m_origin))
            return Failure::server(serverProblem(
                QStringLiteral("The server sends the request to another address; the password "
                               "is not sent there."),
                target,
                QStringLiteral("It points to %1. If that is your server, run \"pelmora-contacts "
                               "sync setup\" with that address.")
                    .arg(next.toDisplayString(QUrl::RemoveUserInfo))));
        if (!m_followRedirects)
            return Failure::server(serverProblem(
                QStringLiteral("The address book has moved."), target,
                QStringLiteral("The server sends it to %1. Run \"pelmora-contacts sync setup\" "
                               "again.")
                    .arg(next.toDisplayString(QUrl::RemoveUserInfo))));
        if (!follow || hop == 5)
            return answer;
        target = next;
    }
}

Result<DavResponse> DavClient::sendOnce(const QByteArray &method,
                                        const QUrl &url,
                                        const QByteArray &body,
                                        const HeaderList &headers,
                                        int timeoutMs)
{
    if (!mayCarryPassword(url))
        return Failure::server(serverProblem(
            QStringLiteral("The password is not sent to this address."), url,
            QStringLiteral("Only HTTPS carries it, or HTTP to this machine (localhost).")));
    if (!m_origin.isEmpty() && !sameOrigin(url, m_origin))
        return Failure::server(serverProblem(
            QStringLiteral("The password is not sent to this address."), url,
            QStringLiteral("It goes only to %1, where the address book is.")
                .arg(m_origin.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveUserInfo)
                         .toDisplayString())));
    ++m_requests;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    request.setRawHeader("Authorization",
                         "Basic " + (m_user + u':' + m_password).toUtf8().toBase64());
    request.setRawHeader("User-Agent", "Pelmora");
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setRawHeader("Content-Type", "application/xml; charset=utf-8");
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);

    QBuffer *upload = nullptr;
    if (!body.isEmpty()) {
        upload = new QBuffer;
        upload->setData(body);
        upload->open(QIODevice::ReadOnly);
    }
    QNetworkReply *reply = m_network->sendCustomRequest(request, method, upload);
    if (upload)
        upload->setParent(reply);

    QString untrusted;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [&](const QList<QSslError> &) {
        const QList<QSslCertificate> chain = reply->sslConfiguration().peerCertificateChain();
        if (chain.isEmpty())
            return;
        const QString fingerprint = sha256Fingerprint(chain.first().toDer());
        if (!m_pinned.isEmpty() && normalisedFingerprint(fingerprint) == m_pinned)
            reply->ignoreSslErrors();
        else
            untrusted = fingerprint;
    });
    // The answer is taken as it arrives, so that one past the cap is cut off rather than
    // held; and a server that trickles forever meets the deadline.
    DavResponse response;
    bool oversized = false;
    bool overdue = false;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        if (oversized)
            return;
        if (response.body.size() + reply->bytesAvailable() > m_maxAnswerBytes) {
            oversized = true;
            reply->abort();
            return;
        }
        response.body += reply->readAll();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
        overdue = true;
        reply->abort();
    });
    deadline.start(m_deadlineMs);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();

    response.url = url;
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    if (reply->isOpen() && !oversized) // not after a time-out
        response.body += reply->readAll();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        response.headers.insert(name.toLower(), value);
    delete reply; // the loop has ended: nothing of the reply runs any more

    if (oversized)
        return Failure::server(serverProblem(
            QStringLiteral("The server's answer is too large."), url,
            QStringLiteral("It passed %1 MiB, where no address book's answer needs more.")
                .arg(m_maxAnswerBytes / (1024 * 1024))));
    if (overdue)
        return Failure::server(serverProblem(
            QStringLiteral("The server's answer did not end."), url,
            QStringLiteral("It took longer than %1 minutes.").arg(m_deadlineMs / 60000.0)));
    if (!untrusted.isEmpty())
        return Failure::server(serverProblem(
            QStringLiteral("The server's certificate does not verify."), url,
            QStringLiteral("%1\nSHA-256 fingerprint: %2\nIf this is your server's certificate, "
                           "run again with --accept-certificate %2")
                .arg(errorText, untrusted)));
    if (response.status == 0) {
        const QString reason
            = error == QNetworkReply::OperationCanceledError
                  ? QStringLiteral("No answer within %1 s.").arg((timeoutMs + 999) / 1000)
                  : errorText;
        return Failure::server(
            serverProblem(QStringLiteral("The server could not be reached."), url, reason));
    }
    return response;
}

} // namespace carddav
