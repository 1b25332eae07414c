#include <core/sync/davxml.h>

#include <core/sync/davclient.h>

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace carddav {

int statusCode(const QString &statusLine)
{
    const QStringList parts = statusLine.simplified().split(u' ');
    return parts.size() >= 2 ? parts.at(1).toInt() : 0;
}

namespace {

QString keyOf(const QXmlStreamReader &xml)
{
    return xml.namespaceUri().toString() + u'|' + xml.name().toString();
}

bool isDav(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri() == QLatin1String(davNs) && xml.name() == QLatin1String(name);
}

// Reads one property element (the reader on its start) up to its end.
DavProperty readProperty(QXmlStreamReader &xml)
{
    DavProperty property;
    property.key = keyOf(xml);
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (depth == 1)
                property.children << keyOf(xml);
            if (isDav(xml, "href")) {
                property.hrefs << xml.readElementText().trimmed();
                break; // readElementText leaves the reader on the end element
            }
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            property.text += xml.text();
            break;
        default:
            break;
        }
    }
    return property;
}

void readPropstat(QXmlStreamReader &xml, DavResource &resource)
{
    QList<DavProperty> properties;
    int status = 200;
    while (xml.readNextStartElement()) {
        if (isDav(xml, "prop")) {
            while (xml.readNextStartElement())
                properties << readProperty(xml);
        } else if (isDav(xml, "status")) {
            status = statusCode(xml.readElementText());
        } else {
            xml.skipCurrentElement();
        }
    }
    if (status / 100 == 2)
        resource.properties += properties;
}

} // namespace

namespace {
constexpr qsizetype maxMultistatusEntries = 1'000'000;
} // namespace

std::optional<QString> memberPath(const QUrl &addressBook, const QString &href)
{
    const QUrl named = QUrl::fromEncoded(href.trimmed().toUtf8(), QUrl::StrictMode);
    if (!named.isValid() || named.hasQuery() || named.hasFragment())
        return std::nullopt;
    const QString namedPath = named.path(QUrl::FullyEncoded);
    for (const QString &segment : namedPath.split(u'/')) {
        if (segment == QLatin1String(".") || segment == QLatin1String(".."))
            return std::nullopt;
    }
    const QUrl resolved = addressBook.resolved(named);
    if (!DavClient::sameOrigin(resolved, addressBook))
        return std::nullopt;
    QString bookPath = addressBook.path(QUrl::FullyEncoded);
    if (!bookPath.endsWith(u'/'))
        bookPath += u'/';
    const QString path = resolved.path(QUrl::FullyEncoded);
    if (!path.startsWith(bookPath))
        return std::nullopt;
    const QString name = path.mid(bookPath.size());
    if (name.isEmpty() || name.contains(u'/')
        || name.contains(QLatin1String("%2f"), Qt::CaseInsensitive)
        || name.contains(QLatin1String("%5c"), Qt::CaseInsensitive) || name == QLatin1String(".")
        || name == QLatin1String(".."))
        return std::nullopt;
    return path;
}

Result<Multistatus> parseMultistatus(const QByteArray &body)
{
    Multistatus out;
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || !isDav(xml, "multistatus"))
        return Failure::server(xml.hasError()
                                   ? xml.errorString()
                                   : QStringLiteral("The answer is not a WebDAV multistatus."));
    while (xml.readNextStartElement()) {
        if (isDav(xml, "response")) {
            DavResource resource;
            while (xml.readNextStartElement()) {
                if (isDav(xml, "href"))
                    resource.href = xml.readElementText().trimmed();
                else if (isDav(xml, "status"))
                    resource.status = statusCode(xml.readElementText());
                else if (isDav(xml, "propstat"))
                    readPropstat(xml, resource);
                else
                    xml.skipCurrentElement();
            }
            // A listing of an address book never needs more; an endless one stops here.
            if (out.responses.size() >= maxMultistatusEntries)
                return Failure::server(QStringLiteral("The answer lists more than %1 entries.")
                                           .arg(maxMultistatusEntries));
            out.responses << resource;
        } else if (isDav(xml, "sync-token")) {
            out.syncToken = xml.readElementText().trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        return Failure::server(QStringLiteral("Unreadable XML at line %1: %2")
                                   .arg(xml.lineNumber())
                                   .arg(xml.errorString()));
    return out;
}

namespace {

void writeProps(QXmlStreamWriter &xml, const QList<PropName> &props)
{
    xml.writeStartElement(QString::fromLatin1(davNs), QStringLiteral("prop"));
    for (const PropName &prop : props)
        xml.writeEmptyElement(prop.ns, prop.name);
    xml.writeEndElement();
}

QXmlStreamWriter &startDocument(QXmlStreamWriter &xml)
{
    xml.writeStartDocument();
    xml.writeNamespace(QString::fromLatin1(davNs), QStringLiteral("d"));
    xml.writeNamespace(QString::fromLatin1(cardNs), QStringLiteral("card"));
    return xml;
}

} // namespace

QByteArray propfindBody(const QList<PropName> &props)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    startDocument(xml).writeStartElement(QString::fromLatin1(davNs), QStringLiteral("propfind"));
    writeProps(xml, props);
    xml.writeEndDocument();
    return out;
}

QByteArray multigetBody(const QStringList &hrefs)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    startDocument(xml).writeStartElement(QString::fromLatin1(cardNs),
                                         QStringLiteral("addressbook-multiget"));
    writeProps(xml, {{QString::fromLatin1(davNs), QStringLiteral("getetag")},
                     {QString::fromLatin1(cardNs), QStringLiteral("address-data")}});
    for (const QString &href : hrefs)
        xml.writeTextElement(QString::fromLatin1(davNs), QStringLiteral("href"), href);
    xml.writeEndDocument();
    return out;
}

QByteArray syncCollectionBody(const QString &token)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    startDocument(xml).writeStartElement(QString::fromLatin1(davNs),
                                         QStringLiteral("sync-collection"));
    xml.writeTextElement(QString::fromLatin1(davNs), QStringLiteral("sync-token"), token);
    xml.writeTextElement(QString::fromLatin1(davNs), QStringLiteral("sync-level"),
                         QStringLiteral("1"));
    writeProps(xml, {{QString::fromLatin1(davNs), QStringLiteral("getetag")}});
    xml.writeEndDocument();
    return out;
}

} // namespace carddav
