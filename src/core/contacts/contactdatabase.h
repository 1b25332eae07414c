#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>

#include <QList>
#include <QString>

namespace sqlite {
class Connection;
}

// The one definition of the table contactsdb: how it is made, and what the program needs of
// a table it finds.
namespace cntdb {

// The CREATE TABLE statement of contactsdb: contactid INTEGER, the other sixteen fields TEXT,
// compared without regard to case when sorting.
QString createTableStatement();

// Whether the open database's contactsdb can serve the program; the failure says what keeps
// it from doing so (no such table, a field missing, the database unreadable). Fields are
// matched without regard to case; their order and extra fields do not matter.
Result<void> checkContactTable(sqlite::Connection &connection);

// Every connection that commits contacts runs this first: a commit that returned success
// survives a power loss. FULL is not enough: it syncs the rollback journal and the database
// but not the folder after the journal is deleted, so after a power loss the journal can be
// back and roll the acknowledged commit back.
QString durableCommitsStatement();

// Creates a new database file with the empty table contactsdb. Fails if the file exists.
Result<void> createDatabase(const QString &path);

// Appends contacts in one transaction. Values are written as text; an empty string is
// written as empty text, never as NULL.
Result<void> insertContacts(const QString &path, const QList<ContactValues> &contacts);

} // namespace cntdb
