#include <core/contacts/contactstore.h>

#include <core/contacts/contactdatabase.h>
#include <core/contacts/recordsource.h>

#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <QFileInfo>
#include <QStringList>

#include <limits>
#include <numeric>

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
    const QFileInfo file(m_databaseName);
    if (!file.exists())
        return Failure{QStringLiteral("The file was not found.")};
    if (file.isDir())
        return Failure{QStringLiteral("The path is a folder, not a database file.")};
    if (!m_db.open(m_databaseName, sqlite::Connection::Mode::ReadWrite))
        return databaseFailure();
    m_db.setBusyTimeout(m_busyTimeout);
    Result<void> usable = readyForUse();
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
    m_db.close();
}

Result<void> ContactStore::readyForUse()
{
    // Each commit reaches the disk before it is acknowledged.
    if (!m_db.exec(cntdb::durableCommitsStatement()))
        return databaseFailure();
    if (Result<void> table = cntdb::checkContactTable(m_db); !table)
        return table;
    return readRecordset();
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
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    sqlite::Statement remove(m_db, QStringLiteral("DELETE FROM contactsdb WHERE rowid = ?"));
    if (!transaction.isActive() || !remove.isValid() || !remove.bindInt64(1, m_rows[m_row].rowid)
        || remove.step() != sqlite::Statement::Step::Done || !transaction.commit())
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
    Row &row = m_rows[m_row];
    ContactValues values = row.values.values();
    QStringList assignments;
    for (int i = 0; i < contactFieldCount; ++i) {
        if (!m_changed.test(i))
            continue;
        assignments << quotedColumnName(fieldAt(i)) + QStringLiteral(" = ?");
        values[i] = withLineBreaksOf(values[i], fieldText(fieldAt(i)));
    }

    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    sqlite::Statement update(m_db, QStringLiteral("UPDATE contactsdb SET %1 WHERE rowid = ?")
                                       .arg(assignments.join(QStringLiteral(", "))));
    if (!transaction.isActive() || !update.isValid())
        return databaseFailure();
    int parameter = 1;
    bool bound = true;
    for (int i = 0; i < contactFieldCount; ++i) {
        if (m_changed.test(i))
            bound = bound && update.bindText(parameter++, values[i]);
    }
    bound = bound && update.bindInt64(parameter, row.rowid);
    if (!bound || update.step() != sqlite::Statement::Step::Done)
        return databaseFailure();
    if (m_db.changes() != 1)
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
    ContactValues values;
    QStringList columns;
    QStringList placeholders;
    for (int i = 0; i < contactFieldCount; ++i) {
        values[i] = fieldText(fieldAt(i));
        columns << quotedColumnName(fieldAt(i));
        placeholders << QStringLiteral("?");
    }
    sqlite::Transaction transaction(m_db, sqlite::Transaction::Kind::Immediate);
    sqlite::Statement insert(m_db, QStringLiteral("INSERT INTO contactsdb (%1) VALUES (%2)")
                                       .arg(columns.join(QStringLiteral(", ")),
                                            placeholders.join(QStringLiteral(", "))));
    if (!transaction.isActive() || !insert.isValid())
        return databaseFailure();
    bool bound = true;
    for (int i = 0; i < contactFieldCount; ++i)
        bound = bound && insert.bindText(i + 1, values[i]);
    if (!bound || insert.step() != sqlite::Statement::Step::Done)
        return databaseFailure();
    const qint64 rowid = m_db.lastInsertRowid();
    if (!transaction.commit())
        return databaseFailure();

    // A new contact joins the end of the recordset until the records are read again.
    m_rows.push_back({rowid, PackedRecord::fromValues(values)});
    m_pendingNew = false;
    m_changed.reset();
    emit rowAppended(recordCount() - 1);
    return {};
}

Result<qint64> ContactStore::nextContactId()
{
    sqlite::Statement query(m_db, QStringLiteral("SELECT max(contactid) FROM contactsdb "
                                                 "WHERE typeof(contactid) = 'integer'"));
    if (!query.isValid() || query.step() != sqlite::Statement::Step::Row)
        return databaseFailure();
    qint64 largest = std::max<qint64>(recordCount(), query.columnInt64(0));
    if (m_pendingNew) {
        bool isNumber = false;
        const qint64 pendingId = fieldText(ContactField::ContactId).toLongLong(&isNumber);
        if (isNumber)
            largest = std::max(largest, pendingId);
    }
    if (largest >= std::numeric_limits<qint32>::max())
        return Failure{QStringLiteral("Contact ids have reached %1, the largest id there can be.")
                           .arg(std::numeric_limits<qint32>::max())};
    return largest + 1;
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
