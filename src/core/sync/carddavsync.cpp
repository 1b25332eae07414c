#include <core/sync/carddavsync.h>

#include <core/sync/davclient.h>
#include <core/sync/davxml.h>
#include <core/sync/merge.h>
#include <core/sync/plan.h>
#include <core/sync/syncstate.h>

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QUuid>

#include <algorithm>

namespace carddav {

namespace {

const QString davNamespace = QString::fromLatin1(davNs);
const QString cardNamespace = QString::fromLatin1(cardNs);

// An href as a path without percent-encoding, so that two spellings of one address match.
QString hrefKey(const QString &href)
{
    const QUrl url(href);
    return QUrl::fromPercentEncoding((url.isRelative() ? href : url.path()).toUtf8());
}

Failure answerFailure(const QString &what, const DavResponse &response)
{
    QString reason = QStringLiteral("HTTP %1").arg(response.status);
    if (response.status == 401)
        reason += QStringLiteral(": the server refused the user name or password.");
    else if (response.status == 403)
        reason += QStringLiteral(": the user may not do this.");
    else if (response.status == 404)
        reason += QStringLiteral(": there is nothing at this address.");
    else if (response.status >= 500)
        reason += QStringLiteral(": the server failed.");
    return Failure::server(serverProblem(what, response.url, reason), response.status);
}

Result<Multistatus> propfind(
    DavClient &client, const QUrl &url, int depth, const QList<PropName> &props, int timeoutMs = 0)
{
    const Result<DavResponse> answer = client.send(
        "PROPFIND", url, propfindBody(props), {{"Depth", QByteArray::number(depth)}}, timeoutMs);
    if (!answer)
        return answer.failure();
    if (answer->status != 207)
        return answerFailure(QStringLiteral("The server did not list the properties asked for."),
                             *answer);
    Result<Multistatus> status = parseMultistatus(answer->body);
    if (!status)
        return Failure::server(serverProblem(QStringLiteral("The server's answer cannot be read."),
                                             url, status.error()));
    return status;
}

} // namespace

Result<QList<AddressBook>> discoverAddressBooks(DavClient &client, const QUrl &server)
{
    const PropName principalProp{davNamespace, QStringLiteral("current-user-principal")};
    QList<QUrl> candidates;
    if (server.path().isEmpty() || server.path() == QLatin1String("/"))
        candidates << server.resolved(QUrl(QStringLiteral("/.well-known/carddav")));
    candidates << server;
    QUrl principal;
    std::optional<Failure> lastFailure;
    for (const QUrl &candidate : candidates) {
        const Result<Multistatus> found = propfind(client, candidate, 0, {principalProp});
        if (!found) {
            lastFailure = found.failure();
            if (lastFailure->httpStatus == 401)
                return *lastFailure;
            continue;
        }
        for (const DavResource &resource : found->responses) {
            const DavProperty *named = resource.find(principalProp.key());
            const QStringList hrefs = named ? named->hrefs : QStringList();
            if (!hrefs.isEmpty())
                principal = candidate.resolved(QUrl(hrefs.first()));
        }
        if (!principal.isEmpty())
            break;
    }
    if (principal.isEmpty())
        return lastFailure ? *lastFailure
                           : Failure::server(serverProblem(
                               QStringLiteral("The server does not say who the user is (no "
                                              "current-user-principal)."),
                               server, QStringLiteral("Not a CardDAV server?")));

    const PropName homeProp{cardNamespace, QStringLiteral("addressbook-home-set")};
    const Result<Multistatus> home = propfind(client, principal, 0, {homeProp});
    if (!home)
        return home.failure();
    QList<QUrl> homes;
    for (const DavResource &resource : home->responses) {
        const DavProperty *homeSet = resource.find(homeProp.key());
        for (const QString &href : homeSet ? homeSet->hrefs : QStringList())
            homes << principal.resolved(QUrl(href));
    }
    if (homes.isEmpty())
        return Failure::server(serverProblem(QStringLiteral("The server keeps no address books for "
                                                            "this user (no addressbook-home-set)."),
                                             principal, QStringLiteral("Not a CardDAV account?")));

    QList<AddressBook> books;
    const PropName typeProp{davNamespace, QStringLiteral("resourcetype")};
    const PropName nameProp{davNamespace, QStringLiteral("displayname")};
    const QString addressBookType = cardNamespace + QStringLiteral("|addressbook");
    for (const QUrl &homeUrl : homes) {
        const Result<Multistatus> listed = propfind(client, homeUrl, 1, {typeProp, nameProp});
        if (!listed)
            return listed.failure();
        for (const DavResource &resource : listed->responses) {
            const DavProperty *type = resource.find(typeProp.key());
            if (!type || !type->children.contains(addressBookType))
                continue;
            AddressBook book;
            book.url = homeUrl.resolved(QUrl(resource.href));
            book.name = resource.text(nameProp.key()).trimmed();
            if (book.name.isEmpty())
                book.name = book.url.path().section(u'/', -2, -2);
            books << book;
        }
    }
    return books;
}

Result<void> saveAccount(const QString &databasePath, const Account &account)
{
    Result<std::unique_ptr<SyncState>> state = SyncState::open(databasePath);
    if (!state)
        return state.failure();
    return (*state)->saveAccount(account);
}

Result<std::optional<Account>> loadAccount(const QString &databasePath)
{
    Result<std::unique_ptr<SyncState>> state = SyncState::open(databasePath);
    if (!state)
        return state.failure();
    return (*state)->account();
}

QString SyncReport::summary() const
{
    return QStringLiteral("here: %1 added, %2 changed, %3 deleted; on the server: %4 added, %5 "
                          "changed, %6 deleted; %7 changed on both sides; %8 conflicts.")
        .arg(addedHere)
        .arg(changedHere)
        .arg(deletedHere)
        .arg(addedThere)
        .arg(changedThere)
        .arg(deletedThere)
        .arg(bothSides)
        .arg(conflicts.size());
}

namespace {

// Carries out one sync: lists the server, fetches what changed, plans each contact and
// carries the plan out over HTTP, then writes everything here in one transaction.
class SyncRun
{
public:
    SyncRun(SyncState &state, const Account &account, const SyncOptions &options)
        : m_state(state)
        , m_account(account)
        , m_options(options)
        , m_client(m_account.user, m_options.password, m_account.certificate)
    {
        m_client.setTimeoutMs(m_options.timeoutMs);
    }

    Result<SyncReport> run();

private:
    Result<void> loadHere();
    Result<void> listServer();
    Result<void> fetch(const QStringList &hrefs);
    QStringList unconfirmedToCheck() const;
    Result<void> checkUnconfirmed(const QStringList &hrefs);
    Result<std::optional<ServerCard>> get(const QString &href);
    Result<DavResponse> write(const QByteArray &method,
                              const QString &href,
                              const QByteArray &card,
                              const QString &etag);
    Result<void> storePending();
    ServerSide serverSide(const SyncedState &state) const;
    // Plans the contact and carries the plan out; a write that meets a changed copy on the
    // server plans it once more with that copy.
    Result<void> settle(ContactSides sides);
    void keepMerged(const SyncAction &action, const ContactValues &here);
    bool confirmToken();
    void logConflicts(const QString &href,
                      const ContactValues &values,
                      const QList<FieldConflict> &conflicts);
    QUrl urlOf(const QString &href) const { return m_account.addressBook.resolved(QUrl(href)); }
    void step()
    {
        if (m_options.progress)
            m_options.progress(++m_done, m_total);
    }

    SyncState &m_state;
    Account m_account;
    const SyncOptions &m_options;
    DavClient m_client;
    KnownContacts m_known;
    QHash<QString, QString> m_knownEtags; // href -> ETag as last synced, for every state
    QList<SyncedState> m_orphans;         // states whose rowid a new contact holds now
    QHash<qint64, ContactValues> m_here;
    QList<qint64> m_hereOrder;
    // The server's members by href path: their ETags; those gone; those fetched as gone.
    QHash<QString, QString> m_serverEtags;
    QSet<QString> m_serverDeleted;
    QSet<QString> m_missing;
    bool m_delta = false; // the listing holds only the changes since the token
    QString m_newToken;
    QHash<QString, ServerCard> m_fetched;
    QList<LocalChange> m_changes;
    SyncReport m_report;
    int m_done = 0;
    int m_total = 0;
    // This run's writes: href -> the ETag the server answered (empty: none), or none for a
    // DELETE.
    QHash<QString, std::optional<QString>> m_written;
};

// The token was taken before this run's own writes. A server whose token names the state of
// the collection (Xandikos) would not list, from that token, a contact this run added and
// another client deleted afterwards. So the changes since the token are asked for once more:
// when they are only this run's own writes, the newer token is kept; otherwise the older
// one, and the next run sees the rest. Returns whether the token kept follows the writes.
bool SyncRun::confirmToken()
{
    if (m_written.isEmpty() || m_newToken.isEmpty())
        return true;
    const Result<DavResponse> answer
        = m_client.send("REPORT", m_account.addressBook, syncCollectionBody(m_newToken),
                        {{"Depth", "0"}}, m_options.listingTimeoutMs);
    if (!answer || answer->status != 207)
        return false;
    const Result<Multistatus> parsed = parseMultistatus(answer->body);
    if (!parsed || parsed->syncToken.isEmpty())
        return false;
    const QString bookPath = hrefKey(m_account.addressBook.path());
    QHash<QString, QString> etags;
    for (const DavResource &resource : parsed->responses) {
        const QString href = hrefKey(resource.href);
        if (href == bookPath || href + u'/' == bookPath)
            continue;
        const auto written = m_written.constFind(href);
        if (written == m_written.constEnd())
            return false;
        const bool gone = resource.status == 404;
        const QString etag = resource.prop(davNs, "getetag");
        if (gone != !written->has_value() || (!gone && !(*written)->isEmpty() && **written != etag))
            return false;
        if (!gone)
            etags.insert(href, etag);
    }
    m_newToken = parsed->syncToken;
    for (LocalChange &change : m_changes) {
        if (!change.forgetsState() && change.state().etag.isEmpty())
            change.state().etag = etags.value(change.state().href);
    }
    return true;
}

Result<void> SyncRun::loadHere()
{
    Result<KnownContacts> known = m_state.load();
    if (!known)
        return known.failure();
    m_known = std::move(known).value();
    for (const SyncedState &state : std::as_const(m_known.states))
        m_knownEtags.insert(state.href, state.etag);
    const Result<void> read = m_state.forEachContact([this](qint64 rowid, const ContactValues &v) {
        m_here.insert(rowid, v);
        m_hereOrder << rowid;
    });
    if (!read)
        return read;
    for (qint64 rowid : std::as_const(m_known.deletedRowids)) {
        if (m_here.contains(rowid) && m_known.states.contains(rowid))
            m_orphans << m_known.states.take(rowid); // a new contact holds the rowid now
    }
    return {};
}

Result<void> SyncRun::listServer()
{
    const QUrl book = m_account.addressBook;
    const QString bookPath = hrefKey(book.path());
    auto member = [&](const QString &href) {
        const QString key = hrefKey(href);
        return key != bookPath && key + u'/' != bookPath && key != bookPath + u'/';
    };
    // A sync token gives only what changed since; a token the server no longer knows, or no
    // token, lists everything once more.
    QStringList tokens;
    if (!m_account.syncToken.isEmpty())
        tokens << m_account.syncToken;
    tokens << QString();
    for (const QString &token : std::as_const(tokens)) {
        const Result<DavResponse> answer
            = m_client.send("REPORT", book, syncCollectionBody(token), {{"Depth", "0"}},
                            m_options.listingTimeoutMs);
        if (!answer)
            return answer.failure();
        if (answer->status == 401 || answer->status == 404 || answer->status >= 500)
            return answerFailure(QStringLiteral("The address book cannot be read."), *answer);
        if (answer->status != 207)
            continue;
        const Result<Multistatus> parsed = parseMultistatus(answer->body);
        if (!parsed || parsed->syncToken.isEmpty())
            continue;
        m_delta = !token.isEmpty();
        m_newToken = parsed->syncToken;
        for (const DavResource &resource : parsed->responses) {
            if (!member(resource.href))
                continue;
            if (resource.status == 404)
                m_serverDeleted.insert(hrefKey(resource.href));
            else
                m_serverEtags.insert(hrefKey(resource.href), resource.prop(davNs, "getetag"));
        }
        m_report.usedSyncToken = m_delta;
        return {};
    }
    // No sync-collection: the ETags of every member.
    m_delta = false;
    m_newToken.clear();
    const PropName etagProp{davNamespace, QStringLiteral("getetag")};
    const Result<Multistatus> listed
        = propfind(m_client, book, 1, {etagProp}, m_options.listingTimeoutMs);
    if (!listed)
        return listed.failure();
    for (const DavResource &resource : listed->responses) {
        if (member(resource.href))
            m_serverEtags.insert(hrefKey(resource.href), resource.text(etagProp.key()));
    }
    return {};
}

Result<void> SyncRun::fetch(const QStringList &hrefs)
{
    constexpr int batch = 100;
    for (qsizetype at = 0; at < hrefs.size(); at += batch) {
        QStringList paths;
        for (const QString &href : hrefs.mid(at, batch))
            paths << QString::fromUtf8(QUrl::toPercentEncoding(href, "/"));
        const Result<DavResponse> answer
            = m_client.send("REPORT", m_account.addressBook, multigetBody(paths), {{"Depth", "1"}});
        if (!answer)
            return answer.failure();
        if (answer->status != 207)
            return answerFailure(QStringLiteral("The contacts cannot be fetched."), *answer);
        const Result<Multistatus> parsed = parseMultistatus(answer->body);
        if (!parsed)
            return Failure::server(
                serverProblem(QStringLiteral("The server's answer cannot be read."),
                              m_account.addressBook, parsed.error()));
        for (const DavResource &resource : parsed->responses) {
            const QString data = resource.prop(cardNs, "address-data");
            if (resource.status == 404)
                m_missing.insert(hrefKey(resource.href));
            if (resource.status == 404 || data.isEmpty())
                continue;
            ServerCard card;
            card.etag = resource.prop(davNs, "getetag");
            // XML has turned the card's CR LF into LF; the server's text had CR LF.
            QByteArray text = data.toUtf8();
            if (!text.contains("\r\n"))
                text.replace("\n", "\r\n");
            card.vcard = text;
            const Result<CardContent> content
                = readCard(card.vcard, urlOf(resource.href).toString());
            if (!content) {
                m_report.notices
                    << QStringLiteral("%1: not read: %2").arg(resource.href, content.error());
                continue;
            }
            card.values = content->values;
            card.uid = content->uid;
            m_fetched.insert(hrefKey(resource.href), card);
        }
        for (qsizetype i = 0; i < paths.size(); ++i)
            step();
    }
    return {};
}

// What the changes since the token cannot show of the last sync's own writes: each one not
// among the changes is fetched, and is there as fetched or gone.
QStringList SyncRun::unconfirmedToCheck() const
{
    QStringList hrefs;
    for (const QString &href : std::as_const(m_known.unconfirmed)) {
        if (m_delta && !m_serverEtags.contains(href) && !m_serverDeleted.contains(href))
            hrefs << href;
    }
    return hrefs; // none when everything was listed
}

Result<void> SyncRun::checkUnconfirmed(const QStringList &hrefs)
{
    if (Result<void> fetched = fetch(hrefs); !fetched)
        return fetched;
    for (const QString &href : std::as_const(hrefs)) {
        if (const auto card = m_fetched.constFind(href); card != m_fetched.constEnd())
            m_serverEtags.insert(href, card->etag);
        else if (m_missing.contains(href))
            m_serverDeleted.insert(href);
    }
    return {};
}

Result<std::optional<ServerCard>> SyncRun::get(const QString &href)
{
    const Result<DavResponse> answer = m_client.send("GET", urlOf(href));
    if (!answer)
        return answer.failure();
    if (answer->status == 404 || answer->status == 410)
        return std::optional<ServerCard>();
    if (answer->status != 200)
        return answerFailure(QStringLiteral("A contact cannot be fetched."), *answer);
    ServerCard card;
    card.etag = QString::fromUtf8(answer->header("etag"));
    card.vcard = answer->body;
    const Result<CardContent> content = readCard(card.vcard, urlOf(href).toString());
    if (!content) // the server's card, so the server's failure
        return Failure::server(content.error());
    card.values = content->values;
    card.uid = content->uid;
    return std::optional<ServerCard>(card);
}

Result<DavResponse> SyncRun::write(const QByteArray &method,
                                   const QString &href,
                                   const QByteArray &card,
                                   const QString &etag)
{
    const QUrl url = urlOf(href);
    if (m_options.beforeWrite)
        m_options.beforeWrite(method, url);
    HeaderList headers;
    if (etag.isEmpty())
        headers << qMakePair(QByteArray("If-None-Match"), QByteArray("*"));
    else
        headers << qMakePair(QByteArray("If-Match"), etag.toUtf8());
    if (!card.isEmpty())
        headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/vcard; charset=utf-8"));
    const Result<DavResponse> answer = m_client.send(method, url, card, headers);
    step();
    if (!answer)
        return answer;
    if (answer->status / 100 == 2)
        m_written.insert(hrefKey(href), method == "DELETE"
                                            ? std::optional<QString>()
                                            : QString::fromUtf8(answer->header("etag")));
    // 404 answers a conditional write only where something was there to match.
    const bool gone = answer->status == 404 && (method == "DELETE" || !etag.isEmpty());
    if (answer->status / 100 != 2 && answer->status != 412 && !gone)
        return answerFailure(method == "DELETE" ? QStringLiteral("A contact cannot be deleted.")
                                                : QStringLiteral("A contact cannot be written."),
                             *answer);
    return answer;
}

void SyncRun::logConflicts(const QString &href,
                           const ContactValues &values,
                           const QList<FieldConflict> &conflicts)
{
    if (conflicts.isEmpty())
        return;
    const QString when = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    QByteArray text;
    for (const FieldConflict &conflict : conflicts) {
        const QString line
            = QStringLiteral("%1 %2 (%3) %4: kept \"%5\"; the server had \"%6\"")
                  .arg(when, namedContact(values), href, fieldCaption(conflict.field),
                       conflict.local, conflict.server);
        m_report.conflicts << line;
        text += line.toUtf8() + '\n';
    }
    QFile log(m_options.conflictLogPath);
    if (m_options.conflictLogPath.isEmpty() || !log.open(QIODevice::Append)
        || log.write(text) != text.size())
        m_report.notices << QStringLiteral("The conflict log %1 could not be written: %2")
                                .arg(m_options.conflictLogPath, log.errorString());
}

// New local contacts get their state first, so that a PUT whose answer is lost is
// recognised by the next run rather than sent twice.
Result<void> SyncRun::storePending()
{
    QList<SyncedState> pending;
    for (qint64 rowid : std::as_const(m_hereOrder)) {
        if (m_known.states.contains(rowid))
            continue;
        SyncedState state;
        state.rowid = rowid;
        state.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        state.href = hrefKey(m_account.addressBook.path()) + state.uid + QStringLiteral(".vcf");
        state.vcard = newCard(m_here[rowid], state.uid);
        state.base = m_here[rowid];
        state.pending = true;
        pending << state;
    }
    if (Result<void> stored = m_state.storePending(pending); !stored)
        return stored;
    for (const SyncedState &state : std::as_const(pending)) {
        m_known.states.insert(state.rowid, state);
        m_knownEtags.insert(state.href, QString());
    }
    return {};
}

// The server side of a known contact: gone, unchanged, or changed (fetched).
ServerSide SyncRun::serverSide(const SyncedState &state) const
{
    if (m_serverDeleted.contains(state.href))
        return ServerSide::absent();
    const bool listed = m_serverEtags.contains(state.href);
    if (!listed && !(m_delta && !state.pending))
        return ServerSide::absent();
    // Not in the changes: as it was. A card listed but not fetched could not be read.
    const auto fetched = m_fetched.constFind(state.href);
    return fetched == m_fetched.constEnd() ? ServerSide::asLastSynced()
                                           : ServerSide::changed(*fetched);
}

// What a merge that went through leaves here, and what it counts.
void SyncRun::keepMerged(const SyncAction &action, const ContactValues &here)
{
    logConflicts(action.state().href, action.values(), action.conflicts);
    if (action.localChanged && action.serverChanged)
        ++m_report.bothSides;
    if (action.kind() == SyncAction::Kind::Upload)
        ++m_report.changedThere;
    const bool writeHere = !sameContent(action.values(), here);
    if (writeHere) {
        ++m_report.changedHere;
        m_changes << LocalChange::update(here, action.values(), action.state());
    } else {
        m_changes << LocalChange::keepIfUnchanged(here, action.state());
    }
}

Result<void> SyncRun::settle(ContactSides sides)
{
    for (;;) {
        SyncAction action = planContact(sides);
        switch (action.kind()) {
        case SyncAction::Kind::Nothing:
            if (!action.notice.isEmpty())
                m_report.notices << action.notice;
            return {};
        case SyncAction::Kind::Forget:
            m_changes << LocalChange::forget(action.state());
            return {};
        case SyncAction::Kind::AddHere:
            if (!action.notice.isEmpty())
                m_report.notices << action.notice;
            ++m_report.addedHere;
            m_changes << LocalChange::insert(action.values(), action.state());
            return {};
        case SyncAction::Kind::RemoveHere:
            ++m_report.deletedHere;
            m_changes << LocalChange::remove(*sides.here, action.state());
            return {};
        case SyncAction::Kind::TakeServer:
            keepMerged(action, *sides.here);
            return {};
        case SyncAction::Kind::Delete: {
            const QString href = action.state().href;
            const Result<DavResponse> answer = write("DELETE", href, {}, action.etag());
            if (!answer)
                return answer.failure();
            if (answer->status != 412) {
                if (answer->status != 404)
                    ++m_report.deletedThere;
                m_changes << LocalChange::forget(action.state());
                return {};
            }
            const Result<std::optional<ServerCard>> fresh = get(href);
            if (!fresh)
                return fresh.failure();
            sides.server = *fresh ? ServerSide::changed(**fresh) : ServerSide::absent();
            sides.retried = true;
            continue;
        }
        case SyncAction::Kind::Upload:
            break;
        }

        const ContactValues &here = *sides.here;
        const QString href = action.state().href;
        const Result<DavResponse> answer = write("PUT", href, action.card(), action.etag());
        if (!answer)
            return answer.failure();
        if (answer->status / 100 == 2) {
            action.state().etag = QString::fromUtf8(answer->header("etag"));
            if (!action.moved.isEmpty()) {
                QStringList captions;
                for (ContactField field : std::as_const(action.moved))
                    captions << fieldCaption(field);
                m_report.notices << QStringLiteral("%1 (%2): %3 taken as the server's card "
                                                   "reads them.")
                                        .arg(namedContact(action.values()), href,
                                             captions.join(QStringLiteral(", ")));
            }
            switch (action.reason()) {
            case SyncAction::Reason::NewHere:
                ++m_report.addedThere;
                m_changes << LocalChange::keepIfUnchanged(here, action.state());
                break;
            case SyncAction::Reason::SentAgain:
                logConflicts(href, action.values(), action.conflicts);
                m_report.notices << QStringLiteral("%1: deleted on the server but changed here; "
                                                   "sent up again.")
                                        .arg(namedContact(here));
                ++m_report.addedThere;
                m_changes << LocalChange::keepIfUnchanged(here, action.state());
                break;
            case SyncAction::Reason::Merged:
                keepMerged(action, here);
                break;
            }
            return {};
        }
        // The server's copy changed (412), or went (404), since it was listed.
        if (action.reason() == SyncAction::Reason::NewHere) {
            // Already there: an earlier run's PUT went through. Found again by its UID.
            const Result<std::optional<ServerCard>> there = get(href);
            if (!there)
                return there.failure();
            if (!*there || (*there)->uid != action.state().uid) {
                m_report.notices << QStringLiteral("%1: the server holds another contact at %2; "
                                                   "not sent.")
                                        .arg(namedContact(here), href);
                return {};
            }
            sides.server = ServerSide::changed(**there);
            continue;
        }
        if (sides.retried) {
            m_report.notices << QStringLiteral("%1 (%2): changed on the server again while "
                                               "this sync ran; left for the next sync.")
                                    .arg(namedContact(here), href);
            return {};
        }
        const Result<std::optional<ServerCard>> fresh = get(href);
        if (!fresh)
            return fresh.failure();
        sides.server = *fresh ? ServerSide::changed(**fresh) : ServerSide::absent();
        if (!*fresh)
            sides.known->etag.clear();
        sides.retried = true;
    }
}

Result<SyncReport> SyncRun::run()
{
    if (Result<void> loaded = loadHere(); !loaded)
        return loaded.failure();
    if (Result<void> listed = listServer(); !listed)
        return listed.failure();

    const QStringList toCheck = unconfirmedToCheck();
    QStringList toFetch;
    for (auto it = m_serverEtags.constBegin(); it != m_serverEtags.constEnd(); ++it) {
        const auto known = m_knownEtags.constFind(it.key());
        if (known == m_knownEtags.constEnd() || *known != it.value() || it.value().isEmpty())
            toFetch << it.key();
    }
    int writes = 0;
    for (qint64 rowid : std::as_const(m_hereOrder)) {
        const auto state = m_known.states.constFind(rowid);
        if (state == m_known.states.constEnd() || !sameContent(m_here[rowid], state->base))
            ++writes;
    }
    for (const SyncedState &state : std::as_const(m_known.states))
        writes += m_here.contains(state.rowid) ? 0 : 1;
    writes += int(m_orphans.size());
    m_total = int(toCheck.size() + toFetch.size()) + writes;
    if (Result<void> checked = checkUnconfirmed(toCheck); !checked)
        return checked.failure();
    if (Result<void> fetched = fetch(toFetch); !fetched)
        return fetched.failure();
    if (Result<void> stored = storePending(); !stored)
        return stored.failure();

    // Each known contact: those whose rowid is theirs, then the orphans. Nothing below changes
    // the states, so they are walked in place rather than copied (100,000 states at most).
    auto sidesOf = [&](const SyncedState &state, bool owned) {
        ContactSides sides;
        sides.known = state;
        if (const auto here = m_here.constFind(state.rowid); owned && here != m_here.constEnd())
            sides.here = *here;
        sides.server = serverSide(state);
        return sides;
    };
    for (const SyncedState &state : std::as_const(m_known.states)) {
        if (Result<void> done = settle(sidesOf(state, true)); !done)
            return done.failure();
    }
    for (const SyncedState &state : std::as_const(m_orphans)) {
        if (Result<void> done = settle(sidesOf(state, false)); !done)
            return done.failure();
    }
    for (auto it = m_fetched.constBegin(); it != m_fetched.constEnd(); ++it) {
        if (m_knownEtags.contains(it.key()))
            continue;
        ContactSides sides;
        sides.href = it.key();
        sides.server = ServerSide::changed(it.value());
        if (Result<void> added = settle(sides); !added)
            return added.failure();
    }
    // Asking for the changes once more costs a server about as much as listing them did; a
    // few writes are cheaper for the next sync to fetch again.
    constexpr int fewWrites = 100;
    const bool tokenFollowsWrites
        = m_written.size() > fewWrites ? confirmToken() : m_written.isEmpty();

    SyncState::Ending ending;
    ending.syncToken = m_newToken;
    ending.summary = m_report.summary();
    ending.certificate = m_account.certificate;
    ending.deletionsDealtWith = m_known.deletedRowids;
    if (!tokenFollowsWrites && !m_newToken.isEmpty())
        ending.unconfirmed = m_written.keys();
    if (Result<void> committed = m_state.commit(m_changes, ending); !committed)
        return committed.failure();
    return m_report;
}

} // namespace

Result<SyncReport> synchronise(SyncState &state, const SyncOptions &options)
{
    const Result<std::optional<Account>> account = state.account();
    if (!account)
        return account.failure();
    if (!*account)
        return Failure::usage(fileProblem(QStringLiteral("There is no account to sync with."),
                                          state.databasePath(),
                                          QStringLiteral("Run \"pelmora-contacts sync setup URL "
                                                         "--user NAME\" first.")));
    Account used = **account;
    if (!options.acceptCertificate.isEmpty())
        used.certificate = options.acceptCertificate;
    SyncRun run(state, used, options);
    return run.run();
}

Result<SyncReport> synchronise(const SyncOptions &options)
{
    Result<std::unique_ptr<SyncState>> state
        = SyncState::open(options.databasePath, options.busyTimeoutMs);
    if (!state)
        return state.failure();
    return synchronise(**state, options);
}

} // namespace carddav
