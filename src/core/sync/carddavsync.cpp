#include <core/sync/carddavsync.h>

#include <core/contacts/contactdatabase.h>
#include <core/sync/cardpatch.h>
#include <core/sync/davclient.h>
#include <core/sync/davxml.h>
#include <core/sync/merge.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QUuid>

#include <algorithm>

namespace carddav {

namespace {

const QString davNamespace = QString::fromLatin1(davNs);
const QString cardNamespace = QString::fromLatin1(cardNs);

Failure databaseFailure(const QString &path, const QString &reason)
{
    return Failure::database(
        fileProblem(QStringLiteral("The contact database could not be used."), path, reason));
}

const char *const stateTables = R"(
CREATE TABLE IF NOT EXISTS carddav_account (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    server TEXT NOT NULL, username TEXT NOT NULL, addressbook TEXT NOT NULL,
    addressbook_name TEXT, certificate TEXT, sync_token TEXT,
    last_sync TEXT, last_result TEXT);
CREATE TABLE IF NOT EXISTS carddav_contact (
    contact_rowid INTEGER PRIMARY KEY,
    href TEXT NOT NULL UNIQUE, etag TEXT, uid TEXT, vcard BLOB,    base TEXT NOT NULL, pending INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS carddav_deleted (contact_rowid INTEGER PRIMARY KEY);
CREATE TABLE IF NOT EXISTS carddav_unconfirmed (href TEXT PRIMARY KEY);
CREATE TRIGGER IF NOT EXISTS carddav_contact_deleted AFTER DELETE ON contactsdb
WHEN EXISTS (SELECT 1 FROM carddav_contact WHERE contact_rowid = OLD.rowid)
BEGIN
    INSERT OR IGNORE INTO carddav_deleted VALUES (OLD.rowid);
END;
)";
// SQLite gives the rowid of a deleted last row to the next new row. The trigger notes every
// synced contact deleted in the program (or by an import's merge), so that a new contact
// on its old rowid is not taken for an edit of it.
// carddav_unconfirmed holds the addresses the last sync wrote after the stored sync token was
// taken: the changes since a token do not show a contact added after it and deleted again,
// so the next sync fetches these once.

Result<void> openDatabase(sqlite::Connection &db, const QString &path, int busyTimeoutMs)
{
    if (!QFileInfo(path).isFile())
        return databaseFailure(path, QStringLiteral("The file was not found."));
    if (!db.open(path, sqlite::Connection::Mode::ReadWrite))
        return databaseFailure(path, db.errorMessage());
    db.setBusyTimeout(busyTimeoutMs);
    if (Result<void> table = cntdb::checkContactTable(db); !table)
        return databaseFailure(path, table.error());
    if (!db.exec(cntdb::durableCommitsStatement()) || !db.exec(QLatin1String(stateTables)))
        return databaseFailure(path, db.errorMessage());
    return {};
}

QString baseText(const ContactValues &values)
{
    QJsonArray array;
    for (const QString &value : values)
        array.append(value);
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

ContactValues baseValues(const QString &text)
{
    ContactValues values;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    for (int i = 0; i < contactFieldCount && i < array.size(); ++i)
        values[i] = array.at(i).toString();
    return values;
}

// The fields a sync compares: all but contactid, which stays the program's own.
bool sameContent(const ContactValues &a, const ContactValues &b)
{
    return std::equal(a.begin() + 1, a.end(), b.begin() + 1);
}

// An href as a path without percent-encoding, so that two spellings of one address match.
QString hrefKey(const QString &href)
{
    const QUrl url(href);
    return QUrl::fromPercentEncoding((url.isRelative() ? href : url.path()).toUtf8());
}

QString namedContact(const ContactValues &v)
{
    QString name = v[fieldIndex(ContactField::LastName)];
    if (!v[fieldIndex(ContactField::FirstName)].isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(", "))
                + v[fieldIndex(ContactField::FirstName)];
    if (name.isEmpty())
        name = v[fieldIndex(ContactField::Email1)];
    return name.isEmpty() ? QStringLiteral("(no name)") : name;
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
    sqlite::Connection db;
    if (Result<void> opened = openDatabase(db, databasePath, 10000); !opened)
        return opened;
    sqlite::Transaction transaction(db, sqlite::Transaction::Kind::Immediate);
    sqlite::Statement insert(
        db,
        QStringLiteral("INSERT OR REPLACE INTO carddav_account (id, server, username, "
                       "addressbook, addressbook_name, certificate) VALUES (1, ?, ?, ?, ?, ?)"));
    const bool ok
        = transaction.isActive() && insert.isValid()
          && db.exec(QStringLiteral("DELETE FROM carddav_contact"))
          && db.exec(QStringLiteral("DELETE FROM carddav_deleted"))
          && db.exec(QStringLiteral("DELETE FROM carddav_unconfirmed"))
          && insert.bindText(1, account.server.toString()) && insert.bindText(2, account.user)
          && insert.bindText(3, account.addressBook.toString())
          && insert.bindText(4, account.addressBookName) && insert.bindText(5, account.certificate)
          && insert.step() == sqlite::Statement::Step::Done;
    if (!ok || !transaction.commit())
        return databaseFailure(databasePath, db.errorMessage());
    return {};
}

Result<std::optional<Account>> loadAccount(const QString &databasePath)
{
    sqlite::Connection db;
    if (Result<void> opened = openDatabase(db, databasePath, 10000); !opened)
        return opened.failure();
    sqlite::Statement select(
        db, QStringLiteral("SELECT server, username, addressbook, addressbook_name, certificate, "
                           "sync_token, last_sync, last_result FROM carddav_account"));
    if (!select.isValid())
        return databaseFailure(databasePath, db.errorMessage());
    const sqlite::Statement::Step step = select.step();
    if (step == sqlite::Statement::Step::Error)
        return databaseFailure(databasePath, db.errorMessage());
    if (step == sqlite::Statement::Step::Done)
        return std::optional<Account>();
    Account account;
    account.server = QUrl(select.columnText(0));
    account.user = select.columnText(1);
    account.addressBook = QUrl(select.columnText(2));
    account.addressBookName = select.columnText(3);
    account.certificate = select.columnText(4);
    account.syncToken = select.columnText(5);
    account.lastSync = select.columnText(6);
    account.lastResult = select.columnText(7);
    return std::optional<Account>(account);
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

// What the database remembers of one contact as last synced.
struct SyncedState
{
    qint64 rowid = 0;
    QString href; // as a path
    QString etag;
    QString uid;
    QByteArray vcard;
    ContactValues base;
    bool pending = false; // written before its first PUT: the PUT may or may not have gone through
};

struct ServerCard
{
    QString etag;
    QByteArray vcard;
    ContactValues values;
    QString uid;
};

// What one contact comes to: the row to write here (if any) and the state to keep.
struct Outcome
{
    qint64 rowid = 0;                      // 0: a new row
    std::optional<ContactValues> expected; // what the row must still hold for the write to go
    enum class Local { Keep, Write, Remove } local = Local::Keep;
    ContactValues values;
    bool dropState = false;
    SyncedState state;
};

class Sync
{
public:
    explicit Sync(const SyncOptions &options)
        : m_options(options)
    {}

    Result<SyncReport> run();

private:
    Result<void> loadLocal();
    Result<void> listServer();
    Result<void> fetch(const QStringList &hrefs);
    QStringList unconfirmedToCheck() const;
    Result<void> checkUnconfirmed(const QStringList &hrefs);
    Result<std::optional<ServerCard>> get(const QString &href);
    Result<DavResponse> write(const QByteArray &method,
                              const QString &href,
                              const QByteArray &card,
                              const QString &etag);
    Result<void> storePending(const QList<SyncedState> &pending);
    // tokenFollowsWrites: the token kept shows this run's writes, none left to check.
    Result<void> commit(bool tokenFollowsWrites);

    Result<void> newLocal(SyncedState state, const ContactValues &values);
    Result<void> newServer(const QString &href, const ServerCard &card);
    Result<void> both(SyncedState state, const ContactValues &local);
    Result<void> deletedHere(const SyncedState &state);
    Result<void> deletedThere(const SyncedState &state, const ContactValues &local);
    Result<bool> putMerged(SyncedState &state,
                           const ContactValues &local,
                           const ServerCard *server,
                           ContactValues &merged,
                           bool retried);

    void logConflicts(const QString &href,
                      const ContactValues &values,
                      const QList<FieldConflict> &conflicts);
    QUrl urlOf(const QString &href) const { return m_account.addressBook.resolved(QUrl(href)); }
    void step()
    {
        if (m_options.progress)
            m_options.progress(++m_done, m_total);
    }

    const SyncOptions &m_options;
    sqlite::Connection m_db;
    Account m_account;
    std::unique_ptr<DavClient> m_client;
    QHash<qint64, SyncedState> m_states;
    QHash<QString, QString> m_knownEtags; // href -> ETag as last synced, for every state
    QSet<qint64> m_deletedRowids;         // synced contacts deleted here since (the trigger)
    QList<SyncedState> m_orphans;         // their states, where the rowid is in use again
    QHash<qint64, ContactValues> m_local;
    QList<qint64> m_localOrder;
    // The server's members by href path: their ETags; whether the list is whole.
    QHash<QString, QString> m_serverEtags;
    QSet<QString> m_serverDeleted;
    QSet<QString> m_missing;   // fetched, and answered "not found"
    QStringList m_unconfirmed; // written by the last sync after its token
    bool m_delta = false;
    QString m_newToken;
    QHash<QString, ServerCard> m_fetched;
    QList<Outcome> m_outcomes;
    SyncReport m_report;
    int m_done = 0;
    int m_total = 0;
    bool m_wrote = false; // whether the last putMerged() wrote to the server
    // This run's writes: href -> the ETag the server answered (empty: none), or none for a
    // DELETE.
    QHash<QString, std::optional<QString>> m_written;

    bool confirmToken();
};

// The token was taken before this run's own writes. A server whose token names the state of
// the collection (Xandikos) would not list, from that token, a contact this run added and
// another client deleted afterwards. So the changes since the token are asked for once more:
// when they are only this run's own writes, the newer token is kept; otherwise the older
// one, and the next run sees the rest. Returns whether the token kept follows the writes.
bool Sync::confirmToken()
{
    if (m_written.isEmpty() || m_newToken.isEmpty())
        return true;
    const Result<DavResponse> answer
        = m_client->send("REPORT", m_account.addressBook, syncCollectionBody(m_newToken),
                         {{"Depth", "0"}}, m_options.listingTimeoutMs);
    if (!answer || answer->status != 207)
        return false;
    const Result<Multistatus> parsed = parseMultistatus(answer->body);
    if (!parsed || parsed->syncToken.isEmpty())
        return false;
    const Multistatus &status = *parsed;
    const QString bookPath = hrefKey(m_account.addressBook.path());
    QHash<QString, QString> etags;
    for (const DavResource &resource : status.responses) {
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
    m_newToken = status.syncToken;
    for (Outcome &outcome : m_outcomes) {
        if (!outcome.dropState && outcome.state.etag.isEmpty())
            outcome.state.etag = etags.value(outcome.state.href);
    }
    return true;
}

Result<void> Sync::loadLocal()
{
    QStringList columns;
    for (int i = 0; i < contactFieldCount; ++i)
        columns << quotedColumnName(fieldAt(i));
    sqlite::Statement select(m_db, QStringLiteral("SELECT rowid, %1 FROM contactsdb ORDER BY rowid")
                                       .arg(columns.join(QStringLiteral(", "))));
    sqlite::Statement::Step step;
    while (select.isValid() && (step = select.step()) == sqlite::Statement::Step::Row) {
        ContactValues values;
        for (int i = 0; i < contactFieldCount; ++i)
            values[i] = select.columnText(i + 1);
        m_local.insert(select.columnInt64(0), values);
        m_localOrder << select.columnInt64(0);
    }
    if (!select.isValid() || step == sqlite::Statement::Step::Error)
        return databaseFailure(m_options.databasePath, m_db.errorMessage());

    sqlite::Statement states(m_db, QStringLiteral("SELECT contact_rowid, href, etag, uid, vcard, "
                                                  "base, pending FROM carddav_contact"));
    while (states.isValid() && (step = states.step()) == sqlite::Statement::Step::Row) {
        SyncedState state;
        state.rowid = states.columnInt64(0);
        state.href = states.columnText(1);
        state.etag = states.columnText(2);
        state.uid = states.columnText(3);
        const QByteArrayView card = states.columnUtf8(4);
        state.vcard = QByteArray(card.data(), card.size());
        state.base = baseValues(states.columnText(5));
        state.pending = states.columnInt64(6) != 0;
        m_knownEtags.insert(state.href, state.etag);
        m_states.insert(state.rowid, state);
    }
    if (!states.isValid() || step == sqlite::Statement::Step::Error)
        return databaseFailure(m_options.databasePath, m_db.errorMessage());

    sqlite::Statement deleted(m_db, QStringLiteral("SELECT contact_rowid FROM carddav_deleted"));
    while (deleted.isValid() && (step = deleted.step()) == sqlite::Statement::Step::Row)
        m_deletedRowids.insert(deleted.columnInt64(0));
    if (!deleted.isValid() || step == sqlite::Statement::Step::Error)
        return databaseFailure(m_options.databasePath, m_db.errorMessage());
    sqlite::Statement unconfirmed(m_db, QStringLiteral("SELECT href FROM carddav_unconfirmed"));
    while (unconfirmed.isValid() && (step = unconfirmed.step()) == sqlite::Statement::Step::Row)
        m_unconfirmed << unconfirmed.columnText(0);
    if (!unconfirmed.isValid() || step == sqlite::Statement::Step::Error)
        return databaseFailure(m_options.databasePath, m_db.errorMessage());
    for (qint64 rowid : std::as_const(m_deletedRowids)) {
        if (m_local.contains(rowid) && m_states.contains(rowid))
            m_orphans << m_states.take(rowid); // a new contact holds the rowid now
    }
    return {};
}

Result<void> Sync::listServer()
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
            = m_client->send("REPORT", book, syncCollectionBody(token), {{"Depth", "0"}},
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
        const Multistatus &status = *parsed;
        m_delta = !token.isEmpty();
        m_newToken = status.syncToken;
        for (const DavResource &resource : status.responses) {
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
        = propfind(*m_client, book, 1, {etagProp}, m_options.listingTimeoutMs);
    if (!listed)
        return listed.failure();
    for (const DavResource &resource : listed->responses) {
        if (member(resource.href))
            m_serverEtags.insert(hrefKey(resource.href), resource.text(etagProp.key()));
    }
    return {};
}

Result<void> Sync::fetch(const QStringList &hrefs)
{
    constexpr int batch = 100;
    for (qsizetype at = 0; at < hrefs.size(); at += batch) {
        QStringList paths;
        for (const QString &href : hrefs.mid(at, batch))
            paths << QString::fromUtf8(QUrl::toPercentEncoding(href, "/"));
        const Result<DavResponse> answer = m_client->send("REPORT", m_account.addressBook,
                                                          multigetBody(paths), {{"Depth", "1"}});
        if (!answer)
            return answer.failure();
        if (answer->status != 207)
            return answerFailure(QStringLiteral("The contacts cannot be fetched."), *answer);
        const Result<Multistatus> parsed = parseMultistatus(answer->body);
        if (!parsed)
            return Failure::server(
                serverProblem(QStringLiteral("The server's answer cannot be read."),
                              m_account.addressBook, parsed.error()));
        const Multistatus &status = *parsed;
        for (const DavResource &resource : status.responses) {
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
QStringList Sync::unconfirmedToCheck() const
{
    QStringList hrefs;
    for (const QString &href : std::as_const(m_unconfirmed)) {
        if (m_delta && !m_serverEtags.contains(href) && !m_serverDeleted.contains(href))
            hrefs << href;
    }
    return hrefs; // none when everything was listed
}

Result<void> Sync::checkUnconfirmed(const QStringList &hrefs)
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

Result<std::optional<ServerCard>> Sync::get(const QString &href)
{
    const Result<DavResponse> answer = m_client->send("GET", urlOf(href));
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

Result<DavResponse> Sync::write(const QByteArray &method,
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
    const Result<DavResponse> answer = m_client->send(method, url, card, headers);
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

void Sync::logConflicts(const QString &href,
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

// Sends the merge of local and server (or of local and the last synced card when server is
// null) and reports whether it went; a 412 fetches the new copy, merges and tries once more.
Result<bool> Sync::putMerged(SyncedState &state,
                             const ContactValues &local,
                             const ServerCard *server,
                             ContactValues &merged,
                             bool retried)
{
    const QByteArray &card = server ? server->vcard : state.vcard;
    const ContactValues serverValues = server ? server->values : state.base;
    const QString etag = server ? server->etag : state.etag;
    const MergeResult merge = mergeThreeWay(state.base, local, serverValues);
    merged = merge.merged;
    if (sameContent(merged, serverValues)) {
        logConflicts(state.href, merged, merge.conflicts);
        if (server) {
            state.etag = server->etag;
            state.vcard = server->vcard;
        }
        return true;
    }
    const Result<PatchedCard> patched = patchCard(card, merged);
    if (!patched) {
        m_report.notices << QStringLiteral("%1 (%2): not sent: %3")
                                .arg(namedContact(local), state.href, patched.error());
        return false;
    }
    const Result<DavResponse> answer = write("PUT", state.href, patched->card, etag);
    if (!answer)
        return answer.failure();
    if (answer->status == 412 || answer->status == 404) {
        if (retried) {
            m_report.notices << QStringLiteral("%1 (%2): changed on the server again while "
                                               "this sync ran; left for the next sync.")
                                    .arg(namedContact(local), state.href);
            return false;
        }
        const Result<std::optional<ServerCard>> fresh = get(state.href);
        if (!fresh)
            return fresh.failure();
        if (!*fresh) {
            // Deleted meanwhile: sent up again as new.
            SyncedState again = state;
            again.etag.clear();
            ServerCard gone{QString(), state.vcard, state.base, state.uid};
            Result<bool> sent = putMerged(again, local, &gone, merged, true);
            if (sent && *sent)
                state = again;
            return sent;
        }
        const ServerCard copy = **fresh;
        return putMerged(state, local, &copy, merged, true);
    }
    logConflicts(state.href, merged, merge.conflicts);
    state.etag = QString::fromUtf8(answer->header("etag"));
    state.vcard = patched->card;
    m_wrote = true;
    // Kept here as the card reads, so that both sides hold the same.
    QStringList moved;
    for (int i = 1; i < contactFieldCount; ++i) {
        if (patched->values[i] != merged[i]) {
            moved << fieldCaption(fieldAt(i));
            merged[i] = patched->values[i];
        }
    }
    if (!moved.isEmpty())
        m_report.notices << QStringLiteral("%1 (%2): %3 taken as the server's card reads them.")
                                .arg(namedContact(merged), state.href,
                                     moved.join(QStringLiteral(", ")));
    return true;
}

// A contact not yet on the server, whose state (address, UID) was stored before this PUT.
Result<void> Sync::newLocal(SyncedState state, const ContactValues &values)
{
    // Made again from the values of now: they may have been edited since an earlier run
    // stored the state.
    state.vcard = newCard(values, state.uid);
    const Result<DavResponse> answer = write("PUT", state.href, state.vcard, QString());
    if (!answer)
        return answer.failure();
    if (answer->status == 412) {
        // Already there: an earlier run's PUT went through. Found again by its UID.
        const Result<std::optional<ServerCard>> there = get(state.href);
        if (!there)
            return there.failure();
        if (!*there || (*there)->uid != state.uid) {
            m_report.notices << QStringLiteral("%1: the server holds another contact at %2; "
                                               "not sent.")
                                    .arg(namedContact(values), state.href);
            return {};
        }
        m_fetched.insert(state.href, **there);
        return both(state, values);
    }
    state.etag = QString::fromUtf8(answer->header("etag"));
    state.pending = false;
    state.base = values;
    ++m_report.addedThere;
    m_outcomes.append({state.rowid, values, Outcome::Local::Keep, values, false, state});
    return {};
}

Result<void> Sync::newServer(const QString &href, const ServerCard &card)
{
    SyncedState state;
    state.href = href;
    state.etag = card.etag;
    state.uid = card.uid;
    state.vcard = card.vcard;
    state.base = card.values;
    ++m_report.addedHere;
    m_outcomes.append({0, std::nullopt, Outcome::Local::Write, card.values, false, state});
    return {};
}

// A contact known on both sides.
Result<void> Sync::both(SyncedState state, const ContactValues &local)
{
    const auto fetched = m_fetched.constFind(state.href);
    const ServerCard *server = fetched == m_fetched.constEnd() ? nullptr : &*fetched;
    const bool localChanged = !sameContent(local, state.base);
    const bool serverChanged = server && !sameContent(server->values, state.base);
    if (!localChanged && !server)
        return {};
    ContactValues merged = local;
    m_wrote = false;
    const Result<bool> sent = putMerged(state, local, server, merged, false);
    if (!sent)
        return sent.failure();
    if (!*sent)
        return {}; // left as it was, for the next sync
    if (localChanged && serverChanged)
        ++m_report.bothSides;
    if (m_wrote)
        ++m_report.changedThere;
    const bool writeHere = !sameContent(merged, local);
    if (writeHere)
        ++m_report.changedHere;
    merged[fieldIndex(ContactField::ContactId)] = local[fieldIndex(ContactField::ContactId)];
    state.base = merged;
    state.pending = false;
    m_outcomes.append({state.rowid, local, writeHere ? Outcome::Local::Write : Outcome::Local::Keep,
                       merged, false, state});
    return {};
}

Result<void> Sync::deletedHere(const SyncedState &state)
{
    const auto fetched = m_fetched.constFind(state.href);
    // A new ETag on the same content (a server that rewrote the card, or this program's own
    // PUT whose answer was lost) is no change.
    if (fetched == m_fetched.constEnd() || sameContent(fetched->values, state.base)) {
        const QString etag = fetched == m_fetched.constEnd() ? state.etag : fetched->etag;
        const Result<DavResponse> answer = write("DELETE", state.href, {}, etag);
        if (!answer)
            return answer.failure();
        if (answer->status != 412) {
            if (answer->status != 404)
                ++m_report.deletedThere;
            m_outcomes.append({state.rowid, std::nullopt, Outcome::Local::Keep, {}, true, state});
            return {};
        }
        const Result<std::optional<ServerCard>> fresh = get(state.href);
        if (!fresh)
            return fresh.failure();
        if (!*fresh) {
            m_outcomes.append({state.rowid, std::nullopt, Outcome::Local::Keep, {}, true, state});
            return {};
        }
        m_fetched.insert(state.href, **fresh);
    }
    // Changed on the server after it was deleted here: brought back.
    const ServerCard &card = m_fetched[state.href];
    m_report.notices << QStringLiteral("%1: deleted here but changed on the server; brought back.")
                            .arg(namedContact(card.values));
    m_outcomes.append({state.rowid, std::nullopt, Outcome::Local::Keep, {}, true, state});
    return newServer(state.href, card);
}

Result<void> Sync::deletedThere(const SyncedState &state, const ContactValues &local)
{
    if (sameContent(local, state.base)) {
        ++m_report.deletedHere;
        m_outcomes.append({state.rowid, local, Outcome::Local::Remove, {}, true, state});
        return {};
    }
    // Changed here after it was deleted on the server: sent up again, at its old address.
    SyncedState again = state;
    again.etag.clear();
    ServerCard gone{QString(), state.vcard, state.base, state.uid};
    ContactValues merged;
    const Result<bool> sent = putMerged(again, local, &gone, merged, false);
    if (!sent)
        return sent.failure();
    if (!*sent)
        return {};
    m_report.notices << QStringLiteral("%1: deleted on the server but changed here; sent up again.")
                            .arg(namedContact(local));
    ++m_report.addedThere;
    again.base = local;
    m_outcomes.append({state.rowid, local, Outcome::Local::Keep, local, false, again});
    return {};
}

Result<void> Sync::storePending(const QList<SyncedState> &pending)
{
    if (pending.isEmpty())
        return {};
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    sqlite::Statement insert(m_db, QStringLiteral("INSERT OR REPLACE INTO carddav_contact "
                                                  "(contact_rowid, href, etag, uid, vcard, base, "
                                                  "pending) VALUES (?, ?, NULL, ?, ?, ?, 1)"));
    sqlite::Statement forget(m_db,
                             QStringLiteral("DELETE FROM carddav_deleted WHERE contact_rowid = ?"));
    bool ok = transaction.isActive() && insert.isValid() && forget.isValid();
    for (const SyncedState &state : pending) {
        ok = ok && forget.bindInt64(1, state.rowid)
             && forget.step() == sqlite::Statement::Step::Done && forget.reset()
             && insert.bindInt64(1, state.rowid) && insert.bindText(2, state.href)
             && insert.bindText(3, state.uid) && insert.bindText(4, QString::fromUtf8(state.vcard))
             && insert.bindText(5, baseText(state.base))
             && insert.step() == sqlite::Statement::Step::Done && insert.reset();
    }
    if (!ok || !transaction.commit())
        return databaseFailure(m_options.databasePath, m_db.errorMessage());
    for (const SyncedState &state : pending) {
        m_states.insert(state.rowid, state);
        m_knownEtags.insert(state.href, QString());
    }
    return {};
}

Result<void> Sync::commit(bool tokenFollowsWrites)
{
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    if (!transaction.isActive())
        return databaseFailure(m_options.databasePath, m_db.errorMessage());
    auto failed = [&] {
        return databaseFailure(m_options.databasePath, m_db.errorMessage());
    };

    QStringList columns;
    QStringList placeholders;
    QStringList assignments;
    for (int i = 0; i < contactFieldCount; ++i) {
        columns << quotedColumnName(fieldAt(i));
        placeholders << QStringLiteral("?");
        if (i > 0)
            assignments << quotedColumnName(fieldAt(i)) + QStringLiteral(" = ?");
    }
    sqlite::Statement read(m_db, QStringLiteral("SELECT %1 FROM contactsdb WHERE rowid = ?")
                                     .arg(columns.join(QStringLiteral(", "))));
    sqlite::Statement insert(m_db, QStringLiteral("INSERT INTO contactsdb (%1) VALUES (%2)")
                                       .arg(columns.join(QStringLiteral(", ")),
                                            placeholders.join(QStringLiteral(", "))));
    sqlite::Statement update(m_db, QStringLiteral("UPDATE contactsdb SET %1 WHERE rowid = ?")
                                       .arg(assignments.join(QStringLiteral(", "))));
    sqlite::Statement remove(m_db, QStringLiteral("DELETE FROM contactsdb WHERE rowid = ?"));
    sqlite::Statement keep(m_db, QStringLiteral("INSERT OR REPLACE INTO carddav_contact "
                                                "(contact_rowid, href, etag, uid, vcard, base, "
                                                "pending) VALUES (?, ?, ?, ?, ?, ?, 0)"));
    sqlite::Statement drop(m_db, QStringLiteral("DELETE FROM carddav_contact WHERE href = ?"));
    sqlite::Statement forget(m_db,
                             QStringLiteral("DELETE FROM carddav_deleted WHERE contact_rowid = ?"));
    sqlite::Statement dropHref(m_db, QStringLiteral("DELETE FROM carddav_contact WHERE href = ?"));
    if (!read.isValid() || !insert.isValid() || !update.isValid() || !remove.isValid()
        || !keep.isValid() || !drop.isValid() || !dropHref.isValid())
        return failed();

    // New ids by the program's rule for Add.
    qint64 nextId = 1;
    {
        sqlite::Statement ids(m_db, QStringLiteral("SELECT count(*), max(CASE WHEN "
                                                   "typeof(contactid) = 'integer' THEN contactid "
                                                   "END) FROM contactsdb"));
        if (!ids.isValid() || ids.step() != sqlite::Statement::Step::Row)
            return failed();
        nextId = std::max(ids.columnInt64(0), ids.columnInt64(1)) + 1;
    }

    for (Outcome &outcome : m_outcomes) {
        if (outcome.expected) {
            // The program may have changed the contact while the sync ran: then it is left
            // as it is now, and its state as it was, for the next sync to merge.
            if (!read.bindInt64(1, outcome.rowid))
                return failed();
            const sqlite::Statement::Step step = read.step();
            if (step == sqlite::Statement::Step::Error)
                return failed();
            ContactValues now;
            for (int i = 0; step == sqlite::Statement::Step::Row && i < contactFieldCount; ++i)
                now[i] = read.columnText(i);
            const bool unchanged = step == sqlite::Statement::Step::Row && now == *outcome.expected;
            if (!read.reset())
                return failed();
            if (!unchanged)
                continue;
        }
        bool ok = true;
        if (outcome.local == Outcome::Local::Write && outcome.rowid == 0) {
            outcome.values[0] = QString::number(nextId++);
            for (int i = 0; i < contactFieldCount && ok; ++i)
                ok = i == 0 ? insert.bindInt64(1, outcome.values[0].toLongLong())
                            : insert.bindText(i + 1, outcome.values[i]);
            ok = ok && insert.step() == sqlite::Statement::Step::Done && insert.reset();
            outcome.state.rowid = m_db.lastInsertRowid();
            outcome.state.base = outcome.values;
        } else if (outcome.local == Outcome::Local::Write) {
            for (int i = 1; i < contactFieldCount && ok; ++i)
                ok = update.bindText(i, outcome.values[i]);
            ok = ok && update.bindInt64(contactFieldCount, outcome.rowid)
                 && update.step() == sqlite::Statement::Step::Done && update.reset();
        } else if (outcome.local == Outcome::Local::Remove) {
            ok = remove.bindInt64(1, outcome.rowid)
                 && remove.step() == sqlite::Statement::Step::Done && remove.reset();
        }
        if (outcome.dropState) {
            ok = ok && drop.bindText(1, outcome.state.href)
                 && drop.step() == sqlite::Statement::Step::Done && drop.reset();
        } else {
            const SyncedState &s = outcome.state;
            ok = ok && dropHref.bindText(1, s.href)
                 && dropHref.step() == sqlite::Statement::Step::Done && dropHref.reset()
                 && keep.bindInt64(1, s.rowid) && keep.bindText(2, s.href)
                 && keep.bindText(3, s.etag) && keep.bindText(4, s.uid)
                 && keep.bindText(5, QString::fromUtf8(s.vcard))
                 && keep.bindText(6, baseText(s.base))
                 && keep.step() == sqlite::Statement::Step::Done && keep.reset();
        }
        if (!ok)
            return failed();
    }
    // The deletions noted by the trigger are dealt with, this sync's own among them.
    QSet<qint64> dealtWith = m_deletedRowids;
    for (const Outcome &outcome : std::as_const(m_outcomes)) {
        if (outcome.local == Outcome::Local::Remove)
            dealtWith.insert(outcome.rowid);
    }
    for (qint64 rowid : std::as_const(dealtWith)) {
        if (!forget.bindInt64(1, rowid) || forget.step() != sqlite::Statement::Step::Done
            || !forget.reset())
            return failed();
    }
    sqlite::Statement unconfirmed(m_db,
                                  QStringLiteral("INSERT INTO carddav_unconfirmed VALUES (?)"));
    if (!unconfirmed.isValid() || !m_db.exec(QStringLiteral("DELETE FROM carddav_unconfirmed")))
        return failed();
    if (!tokenFollowsWrites && !m_newToken.isEmpty()) {
        for (auto it = m_written.constBegin(); it != m_written.constEnd(); ++it) {
            if (!unconfirmed.bindText(1, it.key())
                || unconfirmed.step() != sqlite::Statement::Step::Done || !unconfirmed.reset())
                return failed();
        }
    }
    sqlite::Statement account(m_db, QStringLiteral("UPDATE carddav_account SET sync_token = ?, "
                                                   "last_sync = ?, last_result = ?, "
                                                   "certificate = ?"));
    const bool ok = account.isValid() && account.bindText(1, m_newToken)
                    && account.bindText(2, QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
                    && account.bindText(3, m_report.summary())
                    && account.bindText(4, m_account.certificate)
                    && account.step() == sqlite::Statement::Step::Done;
    if (!ok || !transaction.commit())
        return failed();
    return {};
}

Result<SyncReport> Sync::run()
{
    if (Result<void> opened = openDatabase(m_db, m_options.databasePath, m_options.busyTimeoutMs);
        !opened)
        return opened.failure();
    const Result<std::optional<Account>> account = loadAccount(m_options.databasePath);
    if (!account)
        return account.failure();
    if (!*account)
        return Failure::usage(
            fileProblem(QStringLiteral("There is no account to sync with."), m_options.databasePath,
                        QStringLiteral("Run \"pelmora-contacts sync setup URL --user "
                                       "NAME\" first.")));
    m_account = **account;
    if (!m_options.acceptCertificate.isEmpty())
        m_account.certificate = m_options.acceptCertificate;
    m_client
        = std::make_unique<DavClient>(m_account.user, m_options.password, m_account.certificate);
    m_client->setTimeoutMs(m_options.timeoutMs);

    if (Result<void> loaded = loadLocal(); !loaded)
        return loaded.failure();
    if (Result<void> listed = listServer(); !listed)
        return listed.failure();

    // The server side of each known contact: gone, unchanged, or changed (fetched).
    auto onServer = [&](const SyncedState &state) -> std::optional<QString> {
        if (m_serverDeleted.contains(state.href))
            return std::nullopt;
        const auto etag = m_serverEtags.constFind(state.href);
        if (etag != m_serverEtags.constEnd())
            return *etag;
        if (m_delta && !state.pending)
            return state.etag; // not in the changes: as it was
        return std::nullopt;
    };
    const QStringList toCheck = unconfirmedToCheck();
    QStringList toFetch;
    for (auto it = m_serverEtags.constBegin(); it != m_serverEtags.constEnd(); ++it) {
        const auto known = m_knownEtags.constFind(it.key());
        if (known == m_knownEtags.constEnd() || *known != it.value() || it.value().isEmpty())
            toFetch << it.key();
    }
    int writes = 0;
    for (qint64 rowid : std::as_const(m_localOrder)) {
        const auto state = m_states.constFind(rowid);
        if (state == m_states.constEnd() || !sameContent(m_local[rowid], state->base))
            ++writes;
    }
    for (const SyncedState &state : std::as_const(m_states))
        writes += m_local.contains(state.rowid) ? 0 : 1;
    writes += int(m_orphans.size());
    m_total = int(toCheck.size() + toFetch.size()) + writes;
    if (Result<void> checked = checkUnconfirmed(toCheck); !checked)
        return checked.failure();
    if (Result<void> fetched = fetch(toFetch); !fetched)
        return fetched.failure();

    // New local contacts get their state first, so that a PUT whose answer is lost is
    // recognised by the next run rather than sent twice.
    QList<SyncedState> pending;
    for (qint64 rowid : std::as_const(m_localOrder)) {
        if (m_states.contains(rowid))
            continue;
        SyncedState state;
        state.rowid = rowid;
        state.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        state.href = hrefKey(m_account.addressBook.path()) + state.uid + QStringLiteral(".vcf");
        state.vcard = newCard(m_local[rowid], state.uid);
        state.base = m_local[rowid];
        state.pending = true;
        pending << state;
    }
    if (Result<void> stored = storePending(pending); !stored)
        return stored.failure();
    // Each known contact: those whose rowid is theirs, then the orphans. Nothing below changes
    // m_states, so it is walked in place rather than copied (100,000 states at most).
    auto settle = [&](const SyncedState &state, bool owned) -> Result<void> {
        const auto local = owned ? m_local.constFind(state.rowid) : m_local.constEnd();
        const std::optional<QString> etag = onServer(state);
        if (state.pending && !etag && local != m_local.constEnd())
            return newLocal(state, *local);
        if (local == m_local.constEnd() && etag)
            return deletedHere(state);
        if (local == m_local.constEnd()) { // gone on both sides
            m_outcomes.append({state.rowid, std::nullopt, Outcome::Local::Keep, {}, true, state});
            return {};
        }
        if (!etag)
            return deletedThere(state, *local);
        return both(state, *local);
    };
    for (const SyncedState &state : std::as_const(m_states)) {
        if (Result<void> done = settle(state, true); !done)
            return done.failure();
    }
    for (const SyncedState &state : std::as_const(m_orphans)) {
        if (Result<void> done = settle(state, false); !done)
            return done.failure();
    }
    for (auto it = m_fetched.constBegin(); it != m_fetched.constEnd(); ++it) {
        if (!m_knownEtags.contains(it.key()))
            if (Result<void> added = newServer(it.key(), it.value()); !added)
                return added.failure();
    }
    // Asking for the changes once more costs a server about as much as listing them did; a
    // few writes are cheaper for the next sync to fetch again.
    constexpr int fewWrites = 100;
    const bool tokenFollowsWrites
        = m_written.size() > fewWrites ? confirmToken() : m_written.isEmpty();
    if (Result<void> committed = commit(tokenFollowsWrites); !committed)
        return committed.failure();
    return m_report;
}

} // namespace

Result<SyncReport> synchronise(const SyncOptions &options)
{
    Sync sync(options);
    return sync.run();
}

} // namespace carddav
