#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The WebDAV and CardDAV XML the sync sends and reads (RFC 4918, 6352, 6578).
namespace carddav {

inline constexpr char davNs[] = "DAV:";
inline constexpr char cardNs[] = "urn:ietf:params:xml:ns:carddav";

// One property's name: its namespace and local name.
struct PropName
{
    QString ns;
    QString name;
    QString key() const { return ns + u'|' + name; }
};

// One <response> of a multistatus.
struct DavResource
{
    QString href;   // the path as sent, percent-decoding left to QUrl
    int status = 0; // the response's own status (sync-collection reports removals with 404)
    // Properties found (200), by PropName::key(): their text, the hrefs inside them and the
    // names of their child elements (resourcetype).
    QHash<QString, QString> text;
    QHash<QString, QStringList> hrefs;
    QHash<QString, QStringList> children;

    QString prop(const char *ns, const char *name) const
    {
        return text.value(QString::fromLatin1(ns) + u'|' + QString::fromLatin1(name));
    }
};

struct Multistatus
{
    QList<DavResource> responses;
    QString syncToken; // sync-collection's new token
};

// Parses a 207 body; an empty optional-like failure is told by the error text.
bool parseMultistatus(const QByteArray &body, Multistatus &out, QString &error);

// <propfind><prop>...</prop></propfind>
QByteArray propfindBody(const QList<PropName> &props);
// addressbook-multiget for getetag and address-data of the hrefs.
QByteArray multigetBody(const QStringList &hrefs);
// sync-collection from token (empty: from the start), depth 1, getetag.
QByteArray syncCollectionBody(const QString &token);

// A status line "HTTP/1.1 404 Not Found" -> 404.
int statusCode(const QString &statusLine);

} // namespace carddav
