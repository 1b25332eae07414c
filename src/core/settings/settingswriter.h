#pragma once

#include <core/base/result.h>

#include <QString>

namespace settings {

// The record orders a user can choose; stored as "sorttype" in settings.ini.
enum class SortType { LastName, FirstName, ContactId };

// The word stored for a sort type: "lastname", "firstname" or "contactid".
QString sortTypeWord(SortType type);

// Replaces the file at path with exactly the two lines "[settings]" and "sorttype=<word>",
// each ended by CR LF.
//
// The new content goes to a temporary file in the same folder, is flushed to disk and then
// renamed over the old file, so the file is at every moment either the old one or the new
// one, whole. When anything fails (missing or read-only folder, full disk) the old file is
// left untouched and the failure names the file and the reason.
Result<void> writeSortType(const QString &path, SortType type);

} // namespace settings
