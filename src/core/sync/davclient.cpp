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
    const bool follow = method == "GET" || method == "PROPFIND" || method == "REPORT";
    for (int hop = 0;; ++hop) {
        Result<DavResponse> answer
            = sendOnce(method, target, body, headers, timeoutMs > 0 ? timeoutMs : m_timeoutMs);
        if (!answer || !follow || hop == 5)
            return answer;
        const int status = answer->status;
        if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
            return answer;
        const QByteArray location = answer->header("location");
        if (location.isEmpty())
            return answer;
        target = target.resolved(QUrl::fromEncoded(location));
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
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    DavResponse response;
    response.url = url;
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    if (reply->isOpen()) // not after a time-out
        response.body = reply->readAll();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        response.headers.insert(name.toLower(), value);
    delete reply; // the loop has ended: nothing of the reply runs any more

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
