#pragma once

#include <core/base/result.h>
#include <core/interchange/importedcontact.h>

#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace interchange {

struct ImportOptions
{
    // Whatever did not fit a field is added to Notes as "Label: value" lines.
    bool extrasToNotes = false;
    // Everything is checked and counted, nothing is written.
    bool dryRun = false;
    // How long to wait for another program's lock (the program itself while it commits).
    int busyTimeoutMs = 10000;
};

struct ImportSummary
{
    int imported = 0;
    // Ids a contact brought that could not be kept, and the id it got instead.
    QList<QPair<QString, QString>> renumbered;
};

// Adds contacts to contactsdb of an existing database in one transaction: all of them or,
// on any failure or when the importer goes away unfinished, none. The database is never
// created. A contact keeps the id it brings when that is a whole number from 1 to
// 2,147,483,647 that no contact has; any other gets the next id by the program's rule for
// Add (contacts::ContactIds). Contacts go in as they are read, so a large file is never held
// whole.
class ContactImporter
{
public:
    ~ContactImporter();
    ContactImporter(const ContactImporter &) = delete;
    ContactImporter &operator=(const ContactImporter &) = delete;

    // Opens the database and takes its write lock (waiting for another program's commit).
    static Result<std::unique_ptr<ContactImporter>> begin(const QString &databasePath,
                                                          const ImportOptions &options);
    Result<void> add(const ImportedContact &contact);
    // Commits (or, for a dry run, rolls back) and says what was done.
    Result<ImportSummary> finish();

private:
    struct Private;
    explicit ContactImporter(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

// The same for contacts already read.
Result<ImportSummary> importContacts(const QString &databasePath,
                                     const QList<ImportedContact> &contacts,
                                     const ImportOptions &options);

// Hands every contact of the database to visit, in the table's order, all seventeen fields
// as text, one at a time so that no address book is held whole; with a field and a text,
// only the contacts whose field holds that text (case ignored). Answers how many there were.
Result<int> forEachContact(const QString &databasePath,
                           const std::function<void(const ContactValues &)> &visit,
                           ContactField whereField = ContactField::ContactId,
                           const QString &whereText = QString());

} // namespace interchange
