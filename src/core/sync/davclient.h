#pragma once

#include <core/base/result.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace carddav {

struct DavResponse
{
    int status = 0;
    QByteArray body;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QUrl url;                              // where the answer came from, after redirects

    QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
};

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// A blocking WebDAV client for one account: every call runs the event loop until the answer
// is in, so the sync reads top to bottom. Basic authentication is sent with every request
// (only over HTTPS, or over HTTP to this machine). A certificate that does not verify is
// accepted only when its SHA-256 fingerprint is the pinned one.
class DavClient
{
public:
    DavClient(QString user, QString password, QString pinnedSha256 = {});
    ~DavClient();
    DavClient(const DavClient &) = delete;
    DavClient &operator=(const DavClient &) = delete;

    // Sends one request. Fails when no HTTP answer came (network, time-out, TLS, refused
    // address); any HTTP status, 4xx and 5xx included, is an answer. Redirects are followed
    // up to five times for GET, PROPFIND and REPORT. The time-out is the longest silence
    // allowed: timeoutMs, or the client's when 0.
    Result<DavResponse> send(const QByteArray &method,
                             const QUrl &url,
                             const QByteArray &body = {},
                             const HeaderList &headers = {},
                             int timeoutMs = 0);

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int requestCount() const { return m_requests; }

    // Whether Basic authentication may be sent to url: HTTPS, or HTTP to this machine.
    static bool mayCarryPassword(const QUrl &url);

private:
    Result<DavResponse> sendOnce(const QByteArray &method,
                                 const QUrl &url,
                                 const QByteArray &body,
                                 const HeaderList &headers,
                                 int timeoutMs);

    QString m_user;
    QString m_password;
    QString m_pinned;
    int m_timeoutMs = 60000;
    int m_requests = 0;
    QNetworkAccessManager *m_network = nullptr;
};

// The text naming a server a user must look at: what failed, the address and the reason.
QString serverProblem(const QString &whatFailed, const QUrl &url, const QString &reason);

// "AB:CD:..." of a DER certificate's SHA-256.
QString sha256Fingerprint(const QByteArray &der);

} // namespace carddav
