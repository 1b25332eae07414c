#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>

#include <sqlite/statement.h>

#include <QSet>
#include <QString>

#include <bitset>
#include <functional>
#include <optional>
#include <vector>

namespace sqlite {
class Connection;
}

namespace contacts {

class ContactTable;

// A contact as stored, told apart by its rowid (contact ids may repeat).
struct StoredContact
{
    qint64 rowid = 0;
    ContactValues values;
};

// The ids in use in one table, and the program's one rule for the id of a new contact. Read
// by ContactTable::readIds() and kept up to date by the ids it gives, so it holds only while
// no other program writes: inside the caller's write transaction. It reads the table through
// the ContactTable it came from, which must outlive it.
class ContactIds
{
public:
    // Ids are 32-bit wherever the program shows or writes them.
    static constexpr qint64 largestId = 2147483647;

    // The id a new contact gets, marked as taken. A contact that brings an id keeps it when
    // it is a whole number from 1 to largestId that no contact has. Otherwise: one more than
    // the largest of the row count and the whole-number ids; where that would pass
    // largestId, the lowest id from 1 that no contact has. Fails only when every id is taken
    // or the table cannot be read.
    Result<qint64> take(const QString &brought = QString());
    // Counts id as taken without a row: a new contact being entered and not yet stored.
    void reserve(qint64 id);

private:
    friend class ContactTable;
    struct FreeRange
    {
        qint64 first = 0;
        qint64 last = 0;
    };

    ContactIds(ContactTable &table, qint64 rows, qint64 largest);
    Result<bool> isFree(qint64 id);
    Result<qint64> lowestFree();
    Result<void> readFreeRanges();

    ContactTable *m_table;
    qint64 m_rows;    // rows in the table, the ones given ids since the read included
    qint64 m_largest; // the largest whole-number id, of any size (0 when there is none)
    // The free ids from 1 to largestId when they were read (only once they are needed), and
    // the ids taken since.
    std::optional<std::vector<FreeRange>> m_free;
    QSet<qint64> m_takenSince;
    // Where the search for the lowest free id goes on: it only ever rises, as ids are taken.
    std::size_t m_range = 0;
    qint64 m_candidate = 1;
};

// The one gateway to the table contactsdb: opening and checking it, its statements (each
// prepared once per table, on first use) and the id rule. Rows are told apart by rowid.
// Callers hold the transactions; every call leaves its statement reset, so no read stays
// open between calls.
class ContactTable
{
public:
    enum class Access { ReadOnly, ReadWrite };
    // How failures read: "The contact database could not be used." with the file and the
    // reason, or the reason alone for a caller that names the file in words of its own.
    enum class Failures { NameTheFile, ReasonOnly };
    using FieldSet = std::bitset<contactFieldCount>;
    struct Inserted
    {
        qint64 rowid = 0;
        qint64 id = 0;
    };
    using Visit = std::function<void(const StoredContact &contact)>;

    // Opens the existing database file at path on db, never creating it; waits up to
    // busyTimeoutMs for another program's lock; checks that contactsdb has all seventeen
    // fields (cntdb::checkContactTable). A writable connection commits durably
    // (cntdb::durableCommitsStatement).
    static Result<void> open(sqlite::Connection &db,
                             const QString &path,
                             Access access,
                             int busyTimeoutMs,
                             Failures failures = Failures::NameTheFile);
    // Fields 1 to 16: all but contactid.
    static FieldSet fieldsButId();

    // Over a connection that open() opened; the connection must outlive the table.
    explicit ContactTable(sqlite::Connection &db, Failures failures = Failures::NameTheFile);

    // Every row in rowid order, all seventeen values as text; or only the rows whose field
    // holds text, case ignored as SQLite's NOCASE ignores it.
    Result<void> forEachRow(const Visit &visit);
    Result<void> forEachRowWhere(ContactField field, const QString &text, const Visit &visit);
    // The values of one row, or nothing when there is no such row.
    Result<std::optional<ContactValues>> row(qint64 rowid);

    // Inserts values as they are; answers the new rowid. A contactid that is a whole number
    // written plainly is stored as a number.
    Result<qint64> insert(const ContactValues &values);
    // Inserts values with the id ids.take() gives for the contactid they bring: that one where
    // the rule keeps it, a new one otherwise (always, for an empty contactid). Answers the
    // rowid and the id given.
    Result<Inserted> insertWithId(ContactValues values, ContactIds &ids);
    // Writes the fields named in fields from values; the others stay as stored, whoever wrote
    // them. False when there is no such row.
    Result<bool> update(qint64 rowid, const ContactValues &values, FieldSet fields);
    // False when there is no such row.
    Result<bool> remove(qint64 rowid);

    // The ids in use now, for giving new ones by the rule.
    Result<ContactIds> readIds();
    // The id the next new contact gets by the rule, with alsoTaken (a contact being entered)
    // counted as taken.
    Result<qint64> nextId(std::optional<qint64> alsoTaken = std::nullopt);

    // The one failure text: the connection's last error, or reason, as the reason.
    Failure failure() const;
    Failure failure(const QString &reason) const;

private:
    friend class ContactIds;
    Result<sqlite::Statement *> prepared(sqlite::Statement &statement, const QString &sql);
    Result<void> walk(sqlite::Statement &select, const Visit &visit);

    sqlite::Connection &m_db;
    Failures m_failures;
    sqlite::Statement m_selectAll;
    sqlite::Statement m_selectRow;
    sqlite::Statement m_insert;
    sqlite::Statement m_update;
    sqlite::Statement m_remove;
    sqlite::Statement m_idCounts;
    sqlite::Statement m_freeRanges;
};

} // namespace contacts
