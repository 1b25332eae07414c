#pragma once

#include <core/contacts/contactfields.h>
#include <core/sync/merge.h>
#include <core/sync/syncstate.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace carddav {

// A card as the server holds it now.
struct ServerCard
{
    QString etag;
    QByteArray vcard;
    ContactValues values;
    QString uid;
};

// What the server shows of one contact at this sync.
class ServerSide
{
public:
    enum class Kind { Absent, AsLastSynced, Changed };

    // Not on the server: deleted there, or never sent.
    static ServerSide absent() { return ServerSide(Kind::Absent); }
    // Its ETag is the one last synced (or it is not among the changes since the token).
    static ServerSide asLastSynced() { return ServerSide(Kind::AsLastSynced); }
    // Fetched: new, or changed since the last sync.
    static ServerSide changed(ServerCard card)
    {
        ServerSide side(Kind::Changed);
        side.m_card = std::move(card);
        return side;
    }

    Kind kind() const { return m_kind; }
    bool isThere() const { return m_kind != Kind::Absent; }
    // Only for Changed.
    const ServerCard &card() const { return *m_card; }

private:
    explicit ServerSide(Kind kind)
        : m_kind(kind)
    {}
    Kind m_kind;
    std::optional<ServerCard> m_card;
};

// One contact's three sides: as last synced, here, and on the server.
struct ContactSides
{
    std::optional<SyncedState> known; // none: new on the server, at href
    QString href;
    std::optional<ContactValues> here;
    ServerSide server = ServerSide::absent();
    // A write of this contact met a changed server copy once already in this run.
    bool retried = false;
};

// What to do with one contact. The runner carries it out; a write that meets a 412 (the
// server's copy changed meanwhile) fetches that copy and plans the contact once more.
class SyncAction
{
public:
    enum class Kind {
        Nothing,    // as last synced on both sides, or not sent (see notice)
        Forget,     // gone on both sides: only the state goes
        AddHere,    // new on the server: a new contact here
        RemoveHere, // deleted on the server and unchanged here
        Upload,     // a PUT of card: If-Match etag, or If-None-Match * where etag is empty
        Delete,     // deleted here and unchanged on the server: a DELETE If-Match etag
        TakeServer, // the merge is what the server holds: no write there
    };
    // How an Upload came about, for what is counted and said of it.
    enum class Reason { NewHere, Merged, SentAgain };

    static SyncAction nothing(QString notice = QString());
    static SyncAction forget(const SyncedState &state);
    static SyncAction addHere(SyncedState state, const ContactValues &values, QString notice);
    static SyncAction removeHere(const SyncedState &state);
    static SyncAction
    upload(Reason reason, SyncedState state, const QByteArray &card, const ContactValues &values);
    static SyncAction deleteThere(const SyncedState &state, const QString &etag);
    static SyncAction takeServer(SyncedState state, const ContactValues &values);

    Kind kind() const { return m_kind; }
    Reason reason() const { return m_reason; }
    // The state to keep if the action goes through (its ETag is the server's answer's).
    const SyncedState &state() const { return m_state; }
    SyncedState &state() { return m_state; }
    const QByteArray &card() const { return m_card; }
    const QString &etag() const { return m_etag; }
    // The values here after the action.
    const ContactValues &values() const { return m_values; }
    QList<FieldConflict> conflicts;
    // Fields that came back moved from the card (a layout the card cannot hold).
    QList<ContactField> moved;
    QString notice;
    bool localChanged = false;
    bool serverChanged = false;

private:
    Kind m_kind = Kind::Nothing;
    Reason m_reason = Reason::Merged;
    SyncedState m_state;
    QByteArray m_card;
    QString m_etag;
    ContactValues m_values;
};

// The sync's decision for one contact, from its three sides; it has no other input and
// does nothing itself.
SyncAction planContact(const ContactSides &sides);

// How a contact is named in messages.
QString namedContact(const ContactValues &values);

// The fields a sync compares: all but contactid, which stays the program's own.
bool sameContent(const ContactValues &a, const ContactValues &b);

} // namespace carddav
