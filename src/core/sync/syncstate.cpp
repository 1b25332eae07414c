#include <core/sync/syncstate.h>

#include <core/contacts/contactdatabase.h>
#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace carddav {

namespace {

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

Failure databaseFailure(const QString &path, const QString &reason)
{
    return Failure::database(
        fileProblem(QStringLiteral("The contact database could not be used."), path, reason));
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

bool done(sqlite::Statement &statement)
{
    return statement.step() == sqlite::Statement::Step::Done && statement.reset();
}

} // namespace

LocalChange LocalChange::keep(SyncedState state)
{
    LocalChange change;
    change.m_state = std::move(state);
    return change;
}

LocalChange LocalChange::insert(const ContactValues &values, SyncedState state)
{
    LocalChange change;
    change.m_row = Row::Insert;
    change.m_values = values;
    change.m_state = std::move(state);
    return change;
}

LocalChange
LocalChange::update(const ContactValues &expected, const ContactValues &values, SyncedState state)
{
    LocalChange change;
    change.m_row = Row::Update;
    change.m_expected = expected;
    change.m_values = values;
    change.m_state = std::move(state);
    return change;
}

LocalChange LocalChange::remove(const ContactValues &expected, const SyncedState &state)
{
    LocalChange change;
    change.m_row = Row::Remove;
    change.m_expected = expected;
    change.m_state = state;
    change.m_forget = true;
    return change;
}

LocalChange LocalChange::forget(const SyncedState &state)
{
    LocalChange change;
    change.m_state = state;
    change.m_forget = true;
    return change;
}

LocalChange LocalChange::keepIfUnchanged(const ContactValues &expected, SyncedState state)
{
    LocalChange change = keep(std::move(state));
    change.m_expected = expected;
    return change;
}

SyncState::~SyncState() = default;

Result<std::unique_ptr<SyncState>> SyncState::open(const QString &databasePath, int busyTimeoutMs)
{
    std::unique_ptr<SyncState> state(new SyncState);
    state->m_path = databasePath;
    sqlite::Connection &db = state->m_db;
    if (!QFileInfo(databasePath).isFile())
        return databaseFailure(databasePath, QStringLiteral("The file was not found."));
    if (!db.open(databasePath, sqlite::Connection::Mode::ReadWrite))
        return databaseFailure(databasePath, db.errorMessage());
    db.setBusyTimeout(busyTimeoutMs);
    if (Result<void> table = cntdb::checkContactTable(db); !table)
        return databaseFailure(databasePath, table.error());
    if (!db.exec(cntdb::durableCommitsStatement()) || !db.exec(QLatin1String(stateTables)))
        return databaseFailure(databasePath, db.errorMessage());
    return state;
}

Failure SyncState::failure() const
{
    return databaseFailure(m_path, m_db.errorMessage());
}

Result<std::optional<Account>> SyncState::account()
{
    sqlite::Statement select(
        m_db, QStringLiteral("SELECT server, username, addressbook, addressbook_name, certificate, "
                             "sync_token, last_sync, last_result FROM carddav_account"));
    if (!select.isValid())
        return failure();
    const sqlite::Statement::Step step = select.step();
    if (step == sqlite::Statement::Step::Error)
        return failure();
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

Result<void> SyncState::saveAccount(const Account &account)
{
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    sqlite::Statement insert(
        m_db,
        QStringLiteral("INSERT OR REPLACE INTO carddav_account (id, server, username, "
                       "addressbook, addressbook_name, certificate) VALUES (1, ?, ?, ?, ?, ?)"));
    const bool ok
        = transaction.isActive() && insert.isValid()
          && m_db.exec(QStringLiteral("DELETE FROM carddav_contact"))
          && m_db.exec(QStringLiteral("DELETE FROM carddav_deleted"))
          && m_db.exec(QStringLiteral("DELETE FROM carddav_unconfirmed"))
          && insert.bindText(1, account.server.toString()) && insert.bindText(2, account.user)
          && insert.bindText(3, account.addressBook.toString())
          && insert.bindText(4, account.addressBookName) && insert.bindText(5, account.certificate)
          && insert.step() == sqlite::Statement::Step::Done;
    if (!ok || !transaction.commit())
        return failure();
    return {};
}

Result<KnownContacts> SyncState::load()
{
    KnownContacts known;
    sqlite::Statement::Step step;
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
        known.states.insert(state.rowid, state);
    }
    if (!states.isValid() || step == sqlite::Statement::Step::Error)
        return failure();

    sqlite::Statement deleted(m_db, QStringLiteral("SELECT contact_rowid FROM carddav_deleted"));
    while (deleted.isValid() && (step = deleted.step()) == sqlite::Statement::Step::Row)
        known.deletedRowids.insert(deleted.columnInt64(0));
    if (!deleted.isValid() || step == sqlite::Statement::Step::Error)
        return failure();
    sqlite::Statement unconfirmed(m_db, QStringLiteral("SELECT href FROM carddav_unconfirmed"));
    while (unconfirmed.isValid() && (step = unconfirmed.step()) == sqlite::Statement::Step::Row)
        known.unconfirmed << unconfirmed.columnText(0);
    if (!unconfirmed.isValid() || step == sqlite::Statement::Step::Error)
        return failure();
    return known;
}

Result<void> SyncState::forEachContact(
    const std::function<void(qint64 rowid, const ContactValues &values)> &visit)
{
    QStringList columns;
    for (int i = 0; i < contactFieldCount; ++i)
        columns << quotedColumnName(fieldAt(i));
    sqlite::Statement select(m_db, QStringLiteral("SELECT rowid, %1 FROM contactsdb ORDER BY rowid")
                                       .arg(columns.join(QStringLiteral(", "))));
    sqlite::Statement::Step step;
    ContactValues values;
    while (select.isValid() && (step = select.step()) == sqlite::Statement::Step::Row) {
        for (int i = 0; i < contactFieldCount; ++i)
            values[i] = select.columnText(i + 1);
        visit(select.columnInt64(0), values);
    }
    if (!select.isValid() || step == sqlite::Statement::Step::Error)
        return failure();
    return {};
}

Result<void> SyncState::storePending(const QList<SyncedState> &pending)
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
        ok = ok && forget.bindInt64(1, state.rowid) && done(forget)
             && insert.bindInt64(1, state.rowid) && insert.bindText(2, state.href)
             && insert.bindText(3, state.uid) && insert.bindText(4, QString::fromUtf8(state.vcard))
             && insert.bindText(5, baseText(state.base)) && done(insert);
    }
    if (!ok || !transaction.commit())
        return failure();
    return {};
}

Result<void> SyncState::commit(QList<LocalChange> &changes, const Ending &ending)
{
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    if (!transaction.isActive())
        return failure();

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
    sqlite::Statement dropHref(m_db, QStringLiteral("DELETE FROM carddav_contact WHERE href = ?"));
    sqlite::Statement forget(m_db,
                             QStringLiteral("DELETE FROM carddav_deleted WHERE contact_rowid = ?"));
    if (!read.isValid() || !insert.isValid() || !update.isValid() || !remove.isValid()
        || !keep.isValid() || !dropHref.isValid() || !forget.isValid())
        return failure();

    // New ids by the program's rule for Add.
    qint64 nextId = 1;
    {
        sqlite::Statement ids(m_db, QStringLiteral("SELECT count(*), max(CASE WHEN "
                                                   "typeof(contactid) = 'integer' THEN contactid "
                                                   "END) FROM contactsdb"));
        if (!ids.isValid() || ids.step() != sqlite::Statement::Step::Row)
            return failure();
        nextId = std::max(ids.columnInt64(0), ids.columnInt64(1)) + 1;
    }

    QSet<qint64> dealtWith = ending.deletionsDealtWith;
    for (LocalChange &change : changes) {
        SyncedState &state = change.state();
        if (change.expected()) {
            // The program may have changed the contact while the sync ran: then it is left
            // as it is now, and its state as it was, for the next sync to merge.
            if (!read.bindInt64(1, state.rowid))
                return failure();
            const sqlite::Statement::Step step = read.step();
            if (step == sqlite::Statement::Step::Error)
                return failure();
            ContactValues now;
            for (int i = 0; step == sqlite::Statement::Step::Row && i < contactFieldCount; ++i)
                now[i] = read.columnText(i);
            const bool unchanged
                = step == sqlite::Statement::Step::Row && now == *change.expected();
            if (!read.reset())
                return failure();
            if (!unchanged)
                continue;
        }
        bool ok = true;
        switch (change.row()) {
        case LocalChange::Row::Keep:
            break;
        case LocalChange::Row::Insert: {
            ContactValues values = change.values();
            values[0] = QString::number(nextId++);
            for (int i = 0; i < contactFieldCount && ok; ++i)
                ok = i == 0 ? insert.bindInt64(1, values[0].toLongLong())
                            : insert.bindText(i + 1, values[i]);
            ok = ok && done(insert);
            state.rowid = m_db.lastInsertRowid();
            state.base = values;
            break;
        }
        case LocalChange::Row::Update:
            for (int i = 1; i < contactFieldCount && ok; ++i)
                ok = update.bindText(i, change.values()[i]);
            ok = ok && update.bindInt64(contactFieldCount, state.rowid) && done(update);
            break;
        case LocalChange::Row::Remove:
            ok = remove.bindInt64(1, state.rowid) && done(remove);
            dealtWith.insert(state.rowid);
            break;
        }
        ok = ok && dropHref.bindText(1, state.href) && done(dropHref);
        if (!change.forgetsState()) {
            ok = ok && keep.bindInt64(1, state.rowid) && keep.bindText(2, state.href)
                 && keep.bindText(3, state.etag) && keep.bindText(4, state.uid)
                 && keep.bindText(5, QString::fromUtf8(state.vcard))
                 && keep.bindText(6, baseText(state.base)) && done(keep);
        }
        if (!ok)
            return failure();
    }
    // The deletions noted by the trigger are dealt with, this sync's own among them.
    for (qint64 rowid : std::as_const(dealtWith)) {
        if (!forget.bindInt64(1, rowid) || !done(forget))
            return failure();
    }
    sqlite::Statement unconfirmed(m_db,
                                  QStringLiteral("INSERT INTO carddav_unconfirmed VALUES (?)"));
    if (!unconfirmed.isValid() || !m_db.exec(QStringLiteral("DELETE FROM carddav_unconfirmed")))
        return failure();
    for (const QString &href : ending.unconfirmed) {
        if (!unconfirmed.bindText(1, href) || !done(unconfirmed))
            return failure();
    }
    sqlite::Statement account(m_db, QStringLiteral("UPDATE carddav_account SET sync_token = ?, "
                                                   "last_sync = ?, last_result = ?, "
                                                   "certificate = ?"));
    const bool ok = account.isValid() && account.bindText(1, ending.syncToken)
                    && account.bindText(2, QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
                    && account.bindText(3, ending.summary)
                    && account.bindText(4, ending.certificate)
                    && account.step() == sqlite::Statement::Step::Done;
    if (!ok || !transaction.commit())
        return failure();
    return {};
}

} // namespace carddav
