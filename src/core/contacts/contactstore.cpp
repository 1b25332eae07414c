#include <core/contacts/contactstore.h>

#include <core/contacts/recordsource.h>

#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <numeric>

using contacts::ContactTable;

namespace {

// The record source as written, with the rowid added to the selected columns.
QString withRowid(const QString &statement)
{
    static const QString select = QStringLiteral("select ");
    if (statement.startsWith(select, Qt::CaseInsensitive))
        return statement.left(select.size()) + QStringLiteral("rowid, ")
               + statement.mid(select.size());
    return statement;
}

// An edited value keeps the line-break style of the value it replaces: a text box hands
// back lone line feeds, but notes written elsewhere may use CR LF or CR.
QString withLineBreaksOf(const QString &stored, QString typed)
{
    QString breakStyle;
    if (stored.contains(QLatin1String("\r\n")))
        breakStyle = QStringLiteral("\r\n");
    else if (stored.contains(QLatin1Char('\r')))
        breakStyle = QStringLiteral("\r");
    else
        return typed;
    typed.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    typed.replace(QLatin1Char('\n'), breakStyle);
    return typed;
}

} // namespace

ContactStore::ContactStore(QObject *parent)
    : QObject(parent)
{}

ContactStore::~ContactStore() = default;

void ContactStore::setBusyTimeout(int milliseconds)
{
    m_busyTimeout = milliseconds;
    m_db.setBusyTimeout(milliseconds);
}

Result<void> ContactStore::open()
{
    close();
    // The window names the file in its own words: the table's failures give the reason alone.
    Result<void> usable = ContactTable::open(m_db, m_databaseName, ContactTable::Access::ReadWrite,
                                             m_busyTimeout, ContactTable::Failures::ReasonOnly);
    if (usable) {
        m_table.emplace(m_db, ContactTable::Failures::ReasonOnly);
        usable = readRecordset();
    }
    if (!usable) {
        close();
        return usable;
    }
    m_position = m_rows.empty() ? Position::BeforeFirst : Position::OnRow;
    m_row = 0;
    m_pendingNew = false;
    emit recordsetChanged();
    showCurrent();
    return {};
}

void ContactStore::close()
{
    m_table.reset();
    m_db.close();
}

Result<void> ContactStore::readRecordset()
{
    sqlite::Statement select(m_db, withRowid(m_recordSource));
    if (!select.isValid())
        return databaseFailure();

    std::array<int, contactFieldCount> columnOf{};
    columnOf.fill(-1);
    for (int column = 1; column < select.columnCount(); ++column) {
        const QString name = select.columnName(column);
        for (int i = 0; i < contactFieldCount; ++i) {
            if (columnOf[i] < 0 && name.compare(columnName(fieldAt(i)), Qt::CaseInsensitive) == 0)
                columnOf[i] = column;
        }
    }
    for (int i = 0; i < contactFieldCount; ++i) {
        if (columnOf[i] < 0)
            return Failure{QStringLiteral("The record source does not select the field \"%1\".")
                               .arg(columnName(fieldAt(i)))};
    }

    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    sqlite::Statement::Step step;
    while ((step = select.step()) == sqlite::Statement::Step::Row) {
        rows.push_back({select.columnInt64(0), PackedRecord::fromUtf8([&](int field) {
                            return select.columnUtf8(columnOf[field]);
                        })});
    }
    if (step == sqlite::Statement::Step::Error)
        return databaseFailure();
    if (const std::optional<ContactField> field = nameOrderOf(m_recordSource))
        sortByName(rows, *field);
    m_rows = std::move(rows);
    return {};
}

void ContactStore::sortByName(std::vector<Row> &rows, ContactField field) const
{
    // SQLite's NOCASE order folds ASCII letters only; the rows take the locale's order, and
    // rows whose names compare equal keep SQLite's order among themselves. One key per row:
    // comparing keys is cheap, comparing names through the collator is not.
    const int column = fieldIndex(field);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(rows.size());
    for (const Row &row : rows)
        keys.push_back(m_collator.sortKey(row.values.value(column)));
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (int index : order)
        sorted.push_back(std::move(rows[index]));
    rows = std::move(sorted);
}

Result<void> ContactStore::refresh()
{
    if (Result<void> committed = commit(); !committed)
        return committed;
    if (!m_db.isOpen())
        return open();
    if (Result<void> read = readRecordset(); !read)
        return read;
    m_position = m_rows.empty() ? Position::BeforeFirst : Position::OnRow;
    m_row = 0;
    emit recordsetChanged();
    showCurrent();
    return {};
}

Result<void> ContactStore::addNew()
{
    if (Result<void> committed = commit(); !committed)
        return committed;
    m_pendingNew = true;
    showCurrent();
    return {};
}

Result<void> ContactStore::deleteCurrent()
{
    if (m_pendingNew)
        return Failure{QStringLiteral("A new contact is being entered and is not stored yet.")};
    if (!hasCurrentRecord())
        return Failure{QStringLiteral("There is no current record.")};
    const Result<ContactTable *> table = this->table();
    if (!table)
        return table.failure();
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    if (!transaction.isActive())
        return databaseFailure();
    if (const Result<bool> removed = (*table)->remove(m_rows[m_row].rowid); !removed)
        return removed.failure();
    if (!transaction.commit())
        return databaseFailure();
    m_rows.erase(m_rows.begin() + m_row);
    m_position = Position::BeforeFirst;
    emit recordsetChanged();
    showCurrent();
    return {};
}

void ContactStore::discardPendingNew()
{
    m_pendingNew = false;
    showCurrent();
}

Result<void> ContactStore::moveNext()
{
    if (Result<void> committed = commit(); !committed)
        return committed;
    advance();
    showCurrent();
    return {};
}

void ContactStore::advance()
{
    if (m_rows.empty())
        return;
    if (m_position == Position::BeforeFirst) {
        m_position = Position::OnRow;
        m_row = 0;
    } else if (m_position == Position::OnRow) {
        if (m_row + 1 < recordCount())
            ++m_row;
        else
            m_position = Position::AfterLast;
    }
}

Result<void> ContactStore::movePrevious()
{
    if (Result<void> committed = commit(); !committed)
        return committed;
    if (m_rows.empty())
        return {};
    if (m_position == Position::AfterLast) {
        m_position = Position::OnRow;
        m_row = recordCount() - 1;
    } else if (m_position == Position::OnRow) {
        if (m_row > 0)
            --m_row;
        else
            m_position = Position::BeforeFirst;
    }
    showCurrent();
    return {};
}

Result<void> ContactStore::moveTo(int row)
{
    if (row < 0 || row >= recordCount())
        return Failure{QStringLiteral("There is no record %1.").arg(row + 1)};
    if (Result<void> committed = commit(); !committed)
        return committed;
    m_position = Position::OnRow;
    m_row = row;
    showCurrent();
    return {};
}

Result<void> ContactStore::commit()
{
    if (m_pendingNew)
        return insertPending();
    if (!hasCurrentRecord() || m_changed.none())
        return {};
    return writeChanges();
}

void ContactStore::setFieldText(ContactField field, const QString &text)
{
    m_shown[fieldIndex(field)] = text;
    m_changed.set(fieldIndex(field));
}

QString ContactStore::value(int row, ContactField field) const
{
    if (row < 0 || row >= recordCount())
        return {};
    return m_rows[row].values.value(fieldIndex(field));
}

Result<void> ContactStore::writeChanges()
{
    const Result<ContactTable *> table = this->table();
    if (!table)
        return table.failure();
    Row &row = m_rows[m_row];
    ContactValues values = row.values.values();
    for (int i = 0; i < contactFieldCount; ++i) {
        if (m_changed.test(i))
            values[i] = withLineBreaksOf(values[i], fieldText(fieldAt(i)));
    }

    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    if (!transaction.isActive())
        return databaseFailure();
    const Result<bool> updated = (*table)->update(row.rowid, values, m_changed);
    if (!updated)
        return updated.failure();
    if (!*updated)
        return Failure{QStringLiteral("The contact is no longer in the database; another program "
                                      "may have deleted it.")};
    if (!transaction.commit())
        return databaseFailure();

    row.values = PackedRecord::fromValues(values);
    m_changed.reset();
    emit rowChanged(m_row);
    return {};
}

Result<void> ContactStore::insertPending()
{
    const Result<ContactTable *> table = this->table();
    if (!table)
        return table.failure();
    const ContactValues values = m_shown;
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    if (!transaction.isActive())
        return databaseFailure();
    const Result<qint64> rowid = (*table)->insert(values);
    if (!rowid)
        return rowid.failure();
    if (!transaction.commit())
        return databaseFailure();

    // A new contact joins the end of the recordset until the records are read again.
    m_rows.push_back({*rowid, PackedRecord::fromValues(values)});
    m_pendingNew = false;
    m_changed.reset();
    emit rowAppended(recordCount() - 1);
    return {};
}

Result<qint64> ContactStore::nextContactId()
{
    const Result<ContactTable *> table = this->table();
    if (!table)
        return table.failure();
    std::optional<qint64> pendingId;
    if (m_pendingNew) {
        bool isNumber = false;
        const qint64 id = fieldText(ContactField::ContactId).toLongLong(&isNumber);
        if (isNumber)
            pendingId = id;
    }
    return (*table)->nextId(pendingId);
}

Result<bool>
ContactStore::findForward(ContactField field, const QString &upperCriterion, qint64 maxSteps)
{
    const int column = fieldIndex(field);
    bool moved = false;
    bool found = false;
    for (qint64 step = 0; step < maxSteps; ++step) {
        if (isEOF())
            break;
        if (hasCurrentRecord() || m_pendingNew) {
            // The first record is compared as the field shows it, typed text included.
            const QString text = moved ? m_rows[m_row].values.value(column) : fieldText(field);
            if (upperCased(text) == upperCriterion) {
                found = true;
                break;
            }
        }
        if (!moved) {
            if (Result<void> committed = commit(); !committed)
                return committed.failure();
            moved = true;
        }
        advance();
    }
    if (moved)
        showCurrent();
    return found;
}

QString ContactStore::upperCased(QString text)
{
    for (QChar &c : text)
        c = c.toUpper();
    return text;
}

void ContactStore::showCurrent()
{
    m_shown = !m_pendingNew && hasCurrentRecord() ? m_rows[m_row].values.values() : ContactValues{};
    m_changed.reset();
    emit currentChanged();
}

Failure ContactStore::databaseFailure() const
{
    return Failure::database(m_db.errorMessage());
}

Result<ContactTable *> ContactStore::table()
{
    if (!m_table)
        return Failure::database(QStringLiteral("The contact database is not open."));
    return &*m_table;
}
