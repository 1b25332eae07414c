#include <core/interchange/contactimport.h>

#include <core/contacts/contactdatabase.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <optional>

namespace interchange {

namespace {

Failure databaseFailure(const QString &path, const QString &reason)
{
    return Failure::database(
        fileProblem(QStringLiteral("The contact database could not be used."), path, reason));
}

Result<void> openExisting(sqlite::Connection &db, const QString &path, bool writable)
{
    // SQLite would report a missing file only as "unable to open database file".
    const QFileInfo file(path);
    if (!file.exists())
        return databaseFailure(path, QStringLiteral("The file was not found."));
    if (file.isDir())
        return databaseFailure(path, QStringLiteral("The path is a folder, not a database file."));
    if (!db.open(path, writable ? sqlite::Connection::Mode::ReadWrite
                                : sqlite::Connection::Mode::ReadOnly))
        return databaseFailure(path, db.errorMessage());
    if (Result<void> table = cntdb::checkContactTable(db); !table)
        return databaseFailure(path, table.error());
    return {};
}

QString notesWithExtras(QString notes, const QStringList &extras)
{
    if (extras.isEmpty())
        return notes;
    if (!notes.isEmpty())
        notes += QStringLiteral("\r\n\r\n");
    return notes + extras.join(QStringLiteral("\r\n"));
}

} // namespace

struct ContactImporter::Private
{
    QString path;
    ImportOptions options;
    sqlite::Connection db;
    std::optional<sqlite::Transaction> transaction;
    std::optional<sqlite::Statement> insert;
    QSet<QString> takenIds;
    qint64 next = 1;
    ImportSummary summary;

    Failure failure() const { return databaseFailure(path, db.errorMessage()); }
};

ContactImporter::ContactImporter(std::unique_ptr<Private> d)
    : d(std::move(d))
{}

ContactImporter::~ContactImporter()
{
    // The statement goes before the transaction rolls back, the transaction before the
    // connection closes.
    d->insert.reset();
    d->transaction.reset();
}

Result<std::unique_ptr<ContactImporter>> ContactImporter::begin(const QString &databasePath,
                                                                const ImportOptions &options)
{
    auto d = std::make_unique<Private>();
    d->path = databasePath;
    d->options = options;
    if (Result<void> opened = openExisting(d->db, databasePath, true); !opened)
        return opened.failure();
    d->db.setBusyTimeout(options.busyTimeoutMs);
    if (!d->db.exec(cntdb::durableCommitsStatement()))
        return d->failure();

    // The write lock first, so the ids counted below stay free until the commit.
    d->transaction.emplace(d->db, sqlite::Transaction::Kind::Immediate);
    if (!d->transaction->isActive())
        return d->failure();

    qint64 rows = 0;
    qint64 largest = 0;
    {
        sqlite::Statement ids(
            d->db, QStringLiteral("SELECT contactid, typeof(contactid) FROM contactsdb"));
        sqlite::Statement::Step step;
        while ((step = ids.step()) == sqlite::Statement::Step::Row) {
            ++rows;
            d->takenIds.insert(ids.columnText(0));
            if (ids.columnText(1) == QLatin1String("integer"))
                largest = std::max(largest, ids.columnInt64(0));
        }
        if (step == sqlite::Statement::Step::Error)
            return d->failure();
    }
    d->next = std::max(rows, largest) + 1;

    QStringList columns;
    QStringList placeholders;
    for (int i = 0; i < contactFieldCount; ++i) {
        columns << quotedColumnName(fieldAt(i));
        placeholders << QStringLiteral("?");
    }
    d->insert.emplace(d->db, QStringLiteral("INSERT INTO contactsdb (%1) VALUES (%2)")
                                 .arg(columns.join(QStringLiteral(", ")),
                                      placeholders.join(QStringLiteral(", "))));
    if (!d->insert->isValid())
        return d->failure();
    return std::unique_ptr<ContactImporter>(new ContactImporter(std::move(d)));
}

Result<void> ContactImporter::add(const ImportedContact &contact)
{
    const int idColumn = fieldIndex(ContactField::ContactId);
    const int notesColumn = fieldIndex(ContactField::Notes);
    ContactValues values = contact.values;
    const QString brought = values[idColumn];
    if (brought.isEmpty() || d->takenIds.contains(brought)) {
        if (d->next > std::numeric_limits<qint32>::max())
            return databaseFailure(d->path, QStringLiteral("Contact ids have reached %1, the "
                                                           "largest id there can be.")
                                                .arg(std::numeric_limits<qint32>::max()));
        values[idColumn] = QString::number(d->next++);
        if (!brought.isEmpty())
            d->summary.renumbered.append({brought, values[idColumn]});
    } else {
        bool isNumber = false;
        const qint64 id = brought.toLongLong(&isNumber);
        if (isNumber)
            d->next = std::max(d->next, id + 1);
    }
    d->takenIds.insert(values[idColumn]);
    if (d->options.extrasToNotes)
        values[notesColumn] = notesWithExtras(values[notesColumn], contact.extras);
    sqlite::Statement &insert = *d->insert;
    bool ok = true;
    for (int i = 0; i < contactFieldCount && ok; ++i) {
        // The program's own ids are whole numbers: stored as such, as Add stores them.
        bool isNumber = false;
        const qint64 number = i == idColumn ? values[i].toLongLong(&isNumber) : 0;
        ok = isNumber ? insert.bindInt64(i + 1, number) : insert.bindText(i + 1, values[i]);
    }
    if (!ok || insert.step() != sqlite::Statement::Step::Done || !insert.reset())
        return d->failure();
    ++d->summary.imported;
    return {};
}

Result<ImportSummary> ContactImporter::finish()
{
    d->insert.reset();
    if (d->options.dryRun)
        d->transaction.reset();
    else if (!d->transaction->commit())
        return d->failure();
    return d->summary;
}

Result<ImportSummary> importContacts(const QString &databasePath,
                                     const QList<ImportedContact> &contacts,
                                     const ImportOptions &options)
{
    Result<std::unique_ptr<ContactImporter>> importer
        = ContactImporter::begin(databasePath, options);
    if (!importer)
        return importer.failure();
    for (const ImportedContact &contact : contacts) {
        if (Result<void> added = (*importer)->add(contact); !added)
            return added.failure();
    }
    return (*importer)->finish();
}

Result<int> forEachContact(const QString &databasePath,
                           const std::function<void(const ContactValues &)> &visit,
                           ContactField whereField,
                           const QString &whereText)
{
    sqlite::Connection db;
    if (Result<void> opened = openExisting(db, databasePath, false); !opened)
        return opened.failure();
    db.setBusyTimeout(10000);
    QStringList columns;
    for (int i = 0; i < contactFieldCount; ++i)
        columns << quotedColumnName(fieldAt(i));
    QString sql
        = QStringLiteral("SELECT %1 FROM contactsdb").arg(columns.join(QStringLiteral(", ")));
    const bool filtered = !whereText.isNull();
    if (filtered)
        sql += QStringLiteral(" WHERE %1 = ? COLLATE NOCASE").arg(quotedColumnName(whereField));
    sql += QStringLiteral(" ORDER BY rowid");
    sqlite::Statement select(db, sql);
    if (!select.isValid() || (filtered && !select.bindText(1, whereText)))
        return databaseFailure(databasePath, db.errorMessage());
    int count = 0;
    ContactValues values;
    sqlite::Statement::Step step;
    while ((step = select.step()) == sqlite::Statement::Step::Row) {
        for (int i = 0; i < contactFieldCount; ++i)
            values[i] = select.columnText(i);
        visit(values);
        ++count;
    }
    if (step == sqlite::Statement::Step::Error)
        return databaseFailure(databasePath, db.errorMessage());
    return count;
}

} // namespace interchange
