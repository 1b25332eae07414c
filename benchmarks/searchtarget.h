#pragma once

#include <core/contacts/contactfields.h>

#include <QString>

#include <array>

namespace bench {

// The record the search figures look for. Demo data repeats its names and numbers, so the
// benchmark gives one record values found nowhere else and makes it sort last by last name:
// each search then walks the whole recordset to its one match.
struct SearchTarget
{
    ContactField field;
    const char *option; // the search dialog's option button
    QString value;
};

const std::array<SearchTarget, 5> &searchTargets();

// Writes the values into the row with the largest rowid and checks that it is now the last
// record of the statement sorted by last name. Returns false with the reason in error.
bool markLastRecord(const QString &databasePath, QString *error);

} // namespace bench
