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

// Creates a new database file with the empty table contactsdb. Fails if the file exists.
Result<void> createDatabase(const QString &path);

// Appends contacts in one transaction. Values are written as text; an empty string is
// written as empty text, never as NULL.
Result<void> insertContacts(const QString &path, const QList<ContactValues> &contacts);

} // namespace cntdb
