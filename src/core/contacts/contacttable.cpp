#include <core/contacts/contacttable.h>

#include <core/contacts/contactdatabase.h>

#include <sqlite/connection.h>

#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace contacts {

namespace {

using Step = sqlite::Statement::Step;

Failure tableFailure(const QString &path, const QString &reason, ContactTable::Failures failures)
{
    if (failures == ContactTable::Failures::ReasonOnly)
        return Failure::database(reason);
    return Failure::database(
        fileProblem(QStringLiteral("The contact database could not be used."), path, reason));
}

// The column lists, built once.
struct Sql
{
    QString selectAll;
    QString selectRow;
    QString insert;
    QString update;
    QString remove;
    QString idCounts;
    QString freeRanges;

    Sql()
    {
        QStringList columns;
        QStringList placeholders;
        QStringList assignments;
        for (int i = 0; i < contactFieldCount; ++i) {
            const QString column = quotedColumnName(fieldAt(i));
            columns << column;
            placeholders << QStringLiteral("?");
            // A field bound to NULL keeps what is stored: one statement writes any set of
            // fields. The values written are never NULL (an empty value is empty text).
            assignments << QStringLiteral("%1 = coalesce(?%2, %1)").arg(column).arg(i + 1);
        }
        const QString columnList = columns.join(QStringLiteral(", "));
        selectAll = QStringLiteral("SELECT rowid, %1 FROM contactsdb").arg(columnList);
        selectRow = QStringLiteral("SELECT %1 FROM contactsdb WHERE rowid = ?").arg(columnList);
        insert = QStringLiteral("INSERT INTO contactsdb (%1) VALUES (%2)")
                     .arg(columnList, placeholders.join(QStringLiteral(", ")));
        update = QStringLiteral("UPDATE contactsdb SET %1 WHERE rowid = ?%2")
                     .arg(assignments.join(QStringLiteral(", ")))
                     .arg(contactFieldCount + 1);
        remove = QStringLiteral("DELETE FROM contactsdb WHERE rowid = ?");
        idCounts = QStringLiteral("SELECT count(*), max(CASE WHEN typeof(contactid) = 'integer' "
                                  "THEN contactid END) FROM contactsdb");
        // The gaps between the whole-number ids from 1 to the largest id, the one past the
        // largest closing the last gap: one sorted pass, however the ids lie.
        freeRanges
            = QStringLiteral("WITH ids(id) AS (SELECT contactid FROM contactsdb "
                             "WHERE typeof(contactid) = 'integer' AND contactid BETWEEN 1 AND %1 "
                             "UNION SELECT %2) "
                             "SELECT previous + 1, id - 1 FROM "
                             "(SELECT id, lag(id, 1, 0) OVER (ORDER BY id) AS previous FROM ids) "
                             "WHERE id > previous + 1 ORDER BY id")
                  .arg(ContactIds::largestId)
                  .arg(ContactIds::largestId + 1);
    }
};

const Sql &sql()
{
    static const Sql statements;
    return statements;
}

// Leaves a statement reset, however the call that used it ends.
class ResetAfterUse
{
public:
    explicit ResetAfterUse(sqlite::Statement &statement)
        : m_statement(statement)
    {}
    ~ResetAfterUse() { m_statement.reset(); }
    ResetAfterUse(const ResetAfterUse &) = delete;
    ResetAfterUse &operator=(const ResetAfterUse &) = delete;

private:
    sqlite::Statement &m_statement;
};

// A contactid written plainly as a whole number goes in as a number, as SQLite's INTEGER
// column would store it, and stays one in a table whose contactid has no type.
bool bindValue(sqlite::Statement &statement, int parameter, int field, const QString &value)
{
    if (field == fieldIndex(ContactField::ContactId)) {
        bool isNumber = false;
        const qint64 number = value.toLongLong(&isNumber);
        if (isNumber && QString::number(number) == value)
            return statement.bindInt64(parameter, number);
    }
    return statement.bindText(parameter, value);
}

} // namespace

// ContactIds

ContactIds::ContactIds(ContactTable &table, qint64 rows, qint64 largest)
    : m_table(&table)
    , m_rows(rows)
    , m_largest(largest)
{}

Result<qint64> ContactIds::take(const QString &brought)
{
    bool isNumber = false;
    const qint64 wanted = brought.toLongLong(&isNumber);
    if (isNumber && wanted >= 1 && wanted <= largestId) {
        const Result<bool> free = isFree(wanted);
        if (!free)
            return free.failure();
        if (*free) {
            reserve(wanted);
            ++m_rows;
            return wanted;
        }
    }
    // One is added only below largestId, so nothing overflows, whatever ids the table holds.
    qint64 id = std::max(m_rows, m_largest);
    if (id < largestId) {
        ++id;
    } else {
        const Result<qint64> lowest = lowestFree();
        if (!lowest)
            return lowest;
        id = *lowest;
    }
    reserve(id);
    ++m_rows;
    return id;
}

void ContactIds::reserve(qint64 id)
{
    m_largest = std::max(m_largest, id);
    if (id >= 1 && id <= largestId)
        m_takenSince.insert(id);
}

Result<bool> ContactIds::isFree(qint64 id)
{
    if (id > m_largest)
        return true;
    if (m_takenSince.contains(id))
        return false;
    if (Result<void> read = readFreeRanges(); !read)
        return read.failure();
    const auto after = std::upper_bound(
        m_free->cbegin(), m_free->cend(), id,
        [](qint64 value, const FreeRange &range) { return value < range.first; });
    return after != m_free->cbegin() && id <= std::prev(after)->last;
}

Result<qint64> ContactIds::lowestFree()
{
    if (Result<void> read = readFreeRanges(); !read)
        return read.failure();
    for (; m_range < m_free->size(); ++m_range) {
        const FreeRange &range = (*m_free)[m_range];
        for (m_candidate = std::max(m_candidate, range.first); m_candidate <= range.last;
             ++m_candidate) {
            if (!m_takenSince.contains(m_candidate))
                return m_candidate;
        }
    }
    return m_table->failure(
        QStringLiteral("Contact ids have reached %1, the largest id there can be.").arg(largestId));
}

Result<void> ContactIds::readFreeRanges()
{
    if (m_free)
        return {};
    Result<sqlite::Statement *> select = m_table->prepared(m_table->m_freeRanges, sql().freeRanges);
    if (!select)
        return select.failure();
    const ResetAfterUse reset(**select);
    std::vector<FreeRange> ranges;
    Step step;
    while ((step = (*select)->step()) == Step::Row)
        ranges.push_back({(*select)->columnInt64(0), (*select)->columnInt64(1)});
    if (step == Step::Error)
        return m_table->failure();
    m_free = std::move(ranges);
    return {};
}

// ContactTable

Result<void> ContactTable::open(sqlite::Connection &db,
                                const QString &path,
                                Access access,
                                int busyTimeoutMs,
                                Failures failures)
{
    // SQLite would report a missing file only as "unable to open database file".
    const QFileInfo file(path);
    if (!file.exists())
        return tableFailure(path, QStringLiteral("The file was not found."), failures);
    if (file.isDir())
        return tableFailure(path, QStringLiteral("The path is a folder, not a database file."),
                            failures);
    const bool writable = access == Access::ReadWrite;
    if (!db.open(path, writable ? sqlite::Connection::Mode::ReadWrite
                                : sqlite::Connection::Mode::ReadOnly))
        return tableFailure(path, db.errorMessage(), failures);
    db.setBusyTimeout(busyTimeoutMs);
    if (writable && !db.exec(cntdb::durableCommitsStatement()))
        return tableFailure(path, db.errorMessage(), failures);
    if (Result<void> table = cntdb::checkContactTable(db); !table)
        return tableFailure(path, table.error(), failures);
    return {};
}

ContactTable::FieldSet ContactTable::fieldsButId()
{
    return FieldSet().set().reset(fieldIndex(ContactField::ContactId));
}

ContactTable::ContactTable(sqlite::Connection &db, Failures failures)
    : m_db(db)
    , m_failures(failures)
{}

Result<sqlite::Statement *> ContactTable::prepared(sqlite::Statement &statement,
                                                   const QString &text)
{
    if (!statement.isValid())
        statement = sqlite::Statement(m_db, text);
    if (!statement.isValid())
        return failure();
    return &statement;
}

Result<void> ContactTable::walk(sqlite::Statement &select, const Visit &visit)
{
    StoredContact contact;
    Step step;
    while ((step = select.step()) == Step::Row) {
        contact.rowid = select.columnInt64(0);
        for (int i = 0; i < contactFieldCount; ++i)
            contact.values[i] = select.columnText(i + 1);
        visit(contact);
    }
    if (step == Step::Error)
        return failure();
    return {};
}

Result<void> ContactTable::forEachRow(const Visit &visit)
{
    Result<sqlite::Statement *> select
        = prepared(m_selectAll, sql().selectAll + QStringLiteral(" ORDER BY rowid"));
    if (!select)
        return select.failure();
    const ResetAfterUse reset(**select);
    return walk(**select, visit);
}

Result<void>
ContactTable::forEachRowWhere(ContactField field, const QString &text, const Visit &visit)
{
    sqlite::Statement select(m_db, sql().selectAll
                                       + QStringLiteral(" WHERE %1 = ? COLLATE NOCASE ORDER BY "
                                                        "rowid")
                                             .arg(quotedColumnName(field)));
    if (!select.isValid() || !select.bindText(1, text))
        return failure();
    return walk(select, visit);
}

Result<std::optional<ContactValues>> ContactTable::row(qint64 rowid)
{
    Result<sqlite::Statement *> select = prepared(m_selectRow, sql().selectRow);
    if (!select)
        return select.failure();
    sqlite::Statement &statement = **select;
    const ResetAfterUse reset(statement);
    if (!statement.bindInt64(1, rowid))
        return failure();
    switch (statement.step()) {
    case Step::Error:
        return failure();
    case Step::Done:
        return std::optional<ContactValues>();
    case Step::Row:
        break;
    }
    ContactValues values;
    for (int i = 0; i < contactFieldCount; ++i)
        values[i] = statement.columnText(i);
    return std::optional<ContactValues>(std::move(values));
}

Result<qint64> ContactTable::insert(const ContactValues &values)
{
    Result<sqlite::Statement *> insert = prepared(m_insert, sql().insert);
    if (!insert)
        return insert.failure();
    sqlite::Statement &statement = **insert;
    const ResetAfterUse reset(statement);
    for (int i = 0; i < contactFieldCount; ++i) {
        if (!bindValue(statement, i + 1, i, values[i]))
            return failure();
    }
    if (statement.step() != Step::Done)
        return failure();
    return m_db.lastInsertRowid();
}

Result<ContactTable::Inserted> ContactTable::insertWithId(ContactValues values, ContactIds &ids)
{
    const Result<qint64> id = ids.take(values[fieldIndex(ContactField::ContactId)]);
    if (!id)
        return id.failure();
    values[fieldIndex(ContactField::ContactId)] = QString::number(*id);
    const Result<qint64> rowid = insert(values);
    if (!rowid)
        return rowid.failure();
    return Inserted{*rowid, *id};
}

Result<bool> ContactTable::update(qint64 rowid, const ContactValues &values, FieldSet fields)
{
    Result<sqlite::Statement *> update = prepared(m_update, sql().update);
    if (!update)
        return update.failure();
    sqlite::Statement &statement = **update;
    const ResetAfterUse reset(statement);
    for (int i = 0; i < contactFieldCount; ++i) {
        if (!(fields.test(i) ? bindValue(statement, i + 1, i, values[i])
                             : statement.bindNull(i + 1)))
            return failure();
    }
    if (!statement.bindInt64(contactFieldCount + 1, rowid) || statement.step() != Step::Done)
        return failure();
    return m_db.changes() == 1;
}

Result<bool> ContactTable::remove(qint64 rowid)
{
    Result<sqlite::Statement *> remove = prepared(m_remove, sql().remove);
    if (!remove)
        return remove.failure();
    sqlite::Statement &statement = **remove;
    const ResetAfterUse reset(statement);
    if (!statement.bindInt64(1, rowid) || statement.step() != Step::Done)
        return failure();
    return m_db.changes() == 1;
}

Result<ContactIds> ContactTable::readIds()
{
    Result<sqlite::Statement *> counts = prepared(m_idCounts, sql().idCounts);
    if (!counts)
        return counts.failure();
    sqlite::Statement &statement = **counts;
    const ResetAfterUse reset(statement);
    if (statement.step() != Step::Row)
        return failure();
    return ContactIds(*this, statement.columnInt64(0), statement.columnInt64(1));
}

Result<qint64> ContactTable::nextId(std::optional<qint64> alsoTaken)
{
    Result<ContactIds> ids = readIds();
    if (!ids)
        return ids.failure();
    ContactIds taken = std::move(ids).value();
    if (alsoTaken)
        taken.reserve(*alsoTaken);
    return taken.take();
}

Failure ContactTable::failure() const
{
    return failure(m_db.errorMessage());
}

Failure ContactTable::failure(const QString &reason) const
{
    return tableFailure(m_db.path(), reason, m_failures);
}

} // namespace contacts
