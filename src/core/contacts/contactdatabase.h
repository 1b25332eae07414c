#pragma once

#include <core/contacts/contactfields.h>

#include <QList>
#include <QString>

namespace cntdb {

// The CREATE TABLE statement of contactsdb: contactid INTEGER, the other sixteen fields TEXT,
// compared without regard to case when sorting.
QString createTableStatement();

// Creates a new database file with the empty table contactsdb. Fails if the file exists.
bool createDatabase(const QString &path, QString *error);

// Appends contacts in one transaction. Values are written as text; an empty string is
// written as empty text, never as NULL.
bool insertContacts(const QString &path, const QList<ContactValues> &contacts, QString *error);

} // namespace cntdb
