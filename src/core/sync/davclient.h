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
    // address, an answer past the size cap); any HTTP status, 4xx and 5xx included, is an
    // answer. Redirects within the origin are followed up to five times for GET, PROPFIND and
    // REPORT where the client follows them; a redirect to another origin fails. The time-out
    // is the longest silence allowed: timeoutMs, or the client's when 0; besides, no request
    // takes longer than its deadline in all.
    Result<DavResponse> send(const QByteArray &method,
                             const QUrl &url,
                             const QByteArray &body = {},
                             const HeaderList &headers = {},
                             int timeoutMs = 0);

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // The password goes only to this origin (scheme, host and port); a request elsewhere is
    // refused before anything is sent.
    void setOrigin(const QUrl &url) { m_origin = url; }
    // A sync follows no redirect: its address book was found at setup, and one that moved
    // needs setting up again.
    void setFollowRedirects(bool follow) { m_followRedirects = follow; }
    void setMaxAnswerBytes(qint64 bytes) { m_maxAnswerBytes = bytes; }
    void setDeadlineMs(int ms) { m_deadlineMs = ms; }

    static bool sameOrigin(const QUrl &a, const QUrl &b);
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
    int m_deadlineMs = 15 * 60 * 1000;
    qint64 m_maxAnswerBytes = 64 * 1024 * 1024;
    QUrl m_origin;
    bool m_followRedirects = true;
    int m_requests = 0;
    QNetworkAccessManager *m_network = nullptr;
};

// The text naming a server a user must look at: what failed, the address and the reason.
QString serverProblem(const QString &whatFailed, const QUrl &url, const QString &reason);

// "AB:CD:..." of a DER certificate's SHA-256.
QString sha256Fingerprint(const QByteArray &der);

} // namespace carddav
