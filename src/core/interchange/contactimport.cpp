#include <core/interchange/contactimport.h>

#include <core/contacts/contacttable.h>
#include <sqlite/connection.h>
#include <sqlite/transaction.h>

#include <QStringList>

#include <optional>

namespace interchange {

using contacts::ContactIds;
using contacts::ContactTable;

namespace {

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
    ImportOptions options;
    // In this order, so that the table's statements go before the transaction rolls back,
    // and the transaction before the connection closes.
    sqlite::Connection db;
    std::optional<sqlite::Transaction> transaction;
    std::optional<ContactTable> table;
    std::optional<ContactIds> ids;
    ImportSummary summary;
};

ContactImporter::ContactImporter(std::unique_ptr<Private> d)
    : d(std::move(d))
{}

ContactImporter::~ContactImporter() = default;

Result<std::unique_ptr<ContactImporter>> ContactImporter::begin(const QString &databasePath,
                                                                const ImportOptions &options)
{
    auto d = std::make_unique<Private>();
    d->options = options;
    if (Result<void> opened = ContactTable::open(
            d->db, databasePath, ContactTable::Access::ReadWrite, options.busyTimeoutMs);
        !opened)
        return opened.failure();
    d->table.emplace(d->db);

    // The write lock first, so the ids read below stay free until the commit.
    d->transaction.emplace(d->db, sqlite::Transaction::Kind::Immediate);
    if (!d->transaction->isActive())
        return d->table->failure();
    Result<ContactIds> ids = d->table->readIds();
    if (!ids)
        return ids.failure();
    d->ids.emplace(std::move(ids).value());
    return std::unique_ptr<ContactImporter>(new ContactImporter(std::move(d)));
}

Result<void> ContactImporter::add(const ImportedContact &contact)
{
    const int idColumn = fieldIndex(ContactField::ContactId);
    const int notesColumn = fieldIndex(ContactField::Notes);
    ContactValues values = contact.values;
    if (d->options.extrasToNotes)
        values[notesColumn] = notesWithExtras(values[notesColumn], contact.extras);
    const Result<ContactTable::Inserted> inserted
        = d->table->insertWithId(std::move(values), *d->ids);
    if (!inserted)
        return inserted.failure();
    const QString &brought = contact.values[idColumn];
    const QString given = QString::number(inserted->id);
    if (!brought.isEmpty() && brought != given)
        d->summary.renumbered.append({brought, given});
    ++d->summary.imported;
    return {};
}

Result<ImportSummary> ContactImporter::finish()
{
    if (d->options.dryRun)
        d->transaction.reset();
    else if (!d->transaction->commit())
        return d->table->failure();
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
    if (Result<void> opened
        = ContactTable::open(db, databasePath, ContactTable::Access::ReadOnly, 10000);
        !opened)
        return opened.failure();
    ContactTable table(db);
    int count = 0;
    const auto visitOne = [&](const contacts::StoredContact &contact) {
        visit(contact.values);
        ++count;
    };
    const Result<void> walked = whereText.isNull()
                                    ? table.forEachRow(visitOne)
                                    : table.forEachRowWhere(whereField, whereText, visitOne);
    if (!walked)
        return walked.failure();
    return count;
}

} // namespace interchange
