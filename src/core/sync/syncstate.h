#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>

#include <sqlite/connection.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace carddav {

// The one account of a database, kept in its table carddav_account. Never the password.
struct Account
{
    QUrl server;
    QString user;
    QUrl addressBook;
    QString addressBookName;
    QString certificate; // the pinned SHA-256 fingerprint, if any
    QString syncToken;
    QString lastSync;   // when the last sync ended (UTC, ISO 8601), empty before the first
    QString lastResult; // what it did, in the words it printed
};

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

// What a sync starts from: every state, and what happened here since the last sync.
struct KnownContacts
{
    QHash<qint64, SyncedState> states;
    // Synced contacts deleted here since (noted by a trigger), by rowid.
    QSet<qint64> deletedRowids;
    // Addresses the last sync wrote after its token was taken, to be fetched once more.
    QStringList unconfirmed;
};

// What a sync writes here for one contact, at its end.
class LocalChange
{
public:
    enum class Row { Keep, Insert, Update, Remove };

    // The contact stays as it is here; its state is kept.
    static LocalChange keep(SyncedState state);
    // A contact new from the server: inserted with a new id; the state follows its rowid.
    static LocalChange insert(const ContactValues &values, SyncedState state);
    // The contact takes values, if it still holds expected.
    static LocalChange
    update(const ContactValues &expected, const ContactValues &values, SyncedState state);
    // Removed here, if it still holds expected; its state is forgotten.
    static LocalChange remove(const ContactValues &expected, const SyncedState &state);
    // Only the state is forgotten (the contact is gone on both sides, or comes back as new).
    static LocalChange forget(const SyncedState &state);
    // As keep(), but only if the contact still holds expected, so that an edit made here
    // meanwhile is merged by the next sync.
    static LocalChange keepIfUnchanged(const ContactValues &expected, SyncedState state);

    Row row() const { return m_row; }
    const std::optional<ContactValues> &expected() const { return m_expected; }
    const ContactValues &values() const { return m_values; }
    const SyncedState &state() const { return m_state; }
    SyncedState &state() { return m_state; }
    bool forgetsState() const { return m_forget; }

private:
    Row m_row = Row::Keep;
    std::optional<ContactValues> m_expected;
    ContactValues m_values;
    SyncedState m_state;
    bool m_forget = false;
};

// The sync's tables beside contactsdb (carddav_account, carddav_contact, carddav_deleted,
// carddav_unconfirmed) over the one connection a sync uses from start to end.
class SyncState
{
public:
    ~SyncState();
    SyncState(const SyncState &) = delete;
    SyncState &operator=(const SyncState &) = delete;

    // Opens the database (never creating it), checks contactsdb and makes the sync's tables
    // where there are none.
    static Result<std::unique_ptr<SyncState>> open(const QString &databasePath,
                                                   int busyTimeoutMs = 10000);

    QString databasePath() const { return m_path; }
    sqlite::Connection &connection() { return m_db; }

    Result<std::optional<Account>> account();
    // Stores the account, replacing an earlier one and forgetting its sync state: the new
    // address book starts over.
    Result<void> saveAccount(const Account &account);

    Result<KnownContacts> load();
    // Hands every contact here to visit, in rowid order.
    Result<void>
    forEachContact(const std::function<void(qint64 rowid, const ContactValues &values)> &visit);
    // The states of contacts about to be sent for the first time, stored before their PUT so
    // that a PUT whose answer is lost is recognised by the next run rather than sent twice.
    Result<void> storePending(const QList<SyncedState> &pending);

    struct Ending
    {
        QString syncToken;
        QString summary;
        QString certificate;
        QSet<qint64> deletionsDealtWith;
        QStringList unconfirmed; // this run's writes the kept token does not show
    };
    // Writes the changes here and the states in one transaction, and the account's token and
    // result. A change whose expected values no longer match what the row holds (the program
    // changed it while the sync ran) is left for the next sync. Fills in the rowid and id of
    // each inserted contact.
    Result<void> commit(QList<LocalChange> &changes, const Ending &ending);

    Failure failure() const;

private:
    SyncState() = default;

    QString m_path;
    sqlite::Connection m_db;
};

} // namespace carddav
