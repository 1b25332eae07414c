#pragma once

#include <core/base/result.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

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

// One property found (200): its PropName::key(), its text, the hrefs inside it and the names
// of its child elements (resourcetype).
struct DavProperty
{
    QString key;
    QString text;
    QStringList hrefs;
    QStringList children;
};

// One <response> of a multistatus. A listing holds one per contact, with a property or two
// each: a list, not a hash per response, keeps 100,000 of them small.
struct DavResource
{
    QString href;   // the path as sent, percent-decoding left to QUrl
    int status = 0; // the response's own status (sync-collection reports removals with 404)
    QList<DavProperty> properties;

    const DavProperty *find(const QString &key) const
    {
        for (const DavProperty &property : properties) {
            if (property.key == key)
                return &property;
        }
        return nullptr;
    }
    QString text(const QString &key) const
    {
        const DavProperty *property = find(key);
        return property ? property->text : QString();
    }
    QString prop(const char *ns, const char *name) const
    {
        return text(QString::fromLatin1(ns) + u'|' + QString::fromLatin1(name));
    }
};

struct Multistatus
{
    QList<DavResource> responses;
    QString syncToken; // sync-collection's new token
};

// Parses a 207 body; the failure says why it is not a multistatus (a Server failure, with
// the XML's reason only: the caller names the address).
Result<Multistatus> parseMultistatus(const QByteArray &body);

// The address of a contact an href names, as the path the requests send (percent-encoded as
// the server wrote it: "a%23b.vcf" stays so), or nothing where the href is no direct member
// of the address book: another origin, a query or fragment, a dot segment, an encoded
// slash, a path outside the book's or deeper, or the book itself. A server's hrefs name
// what the sync reads, writes and deletes with the user's password, so none leaves the book.
std::optional<QString> memberPath(const QUrl &addressBook, const QString &href);

// <propfind><prop>...</prop></propfind>
QByteArray propfindBody(const QList<PropName> &props);
// addressbook-multiget for getetag and address-data of the hrefs.
QByteArray multigetBody(const QStringList &hrefs);
// sync-collection from token (empty: from the start), depth 1, getetag.
QByteArray syncCollectionBody(const QString &token);

// A status line "HTTP/1.1 404 Not Found" -> 404.
int statusCode(const QString &statusLine);

} // namespace carddav
