#pragma once

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

// Says what keeps the open database's contactsdb from serving the program (no such table,
// a field missing, the database unreadable), or returns an empty string when it can.
// Fields are matched without regard to case; their order and extra fields do not matter.
QString checkContactTable(sqlite::Connection &connection);

// Creates a new database file with the empty table contactsdb. Fails if the file exists.
bool createDatabase(const QString &path, QString *error);

// Appends contacts in one transaction. Values are written as text; an empty string is
// written as empty text, never as NULL.
bool insertContacts(const QString &path, const QList<ContactValues> &contacts, QString *error);

} // namespace cntdb
