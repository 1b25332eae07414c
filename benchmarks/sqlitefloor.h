#pragma once

#include <QString>

namespace bench {

// The floor a figure is compared with: SQLite reading the statement in full through its C
// API, the connection opened and closed around it and every column of every row copied out
// into std::string. Returns the milliseconds taken, or a negative number on failure (the
// reason then goes to stderr). rowsRead, when given, receives the number of rows.
double
readStatementInFull(const QString &databasePath, const QString &sql, int *rowsRead = nullptr);

} // namespace bench
