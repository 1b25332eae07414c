#pragma once

#include <core/base/result.h>
#include <core/contacts/contacttable.h>

#include <QList>
#include <QString>
#include <QStringList>

namespace contacts {

// Contacts that are likely one person, and why, the surest reason first.
struct DuplicateGroup
{
    enum class Reason { SameEmail, SamePhone, SameName, SwappedName };
    QList<qint64> rowids;
    QList<Reason> reasons;
};

QString reasonText(DuplicateGroup::Reason reason);

// Groups of likely duplicates, most certain first: the same e-mail ignoring case; the same
// phone digits (the last seven at least); names equal once case, accents and blanks are
// folded by the user's locale; first and last name swapped.
QList<DuplicateGroup> findDuplicates(const QList<StoredContact> &contacts);

// Every contact of the database with its rowid, in the table's order.
Result<QList<StoredContact>> readStoredContacts(const QString &databasePath);

struct MergeOutcome
{
    QStringList filled;      // fields of KEEP that were empty and took OTHER's value
    QStringList conflicting; // fields where both had different values; KEEP's stays
    bool notesJoined = false;
};

// Fills KEEP's empty fields from OTHER, joins different Notes, keeps KEEP's value where both
// differ (listed), and deletes OTHER; in one transaction (or none, for a dry run).
Result<MergeOutcome>
mergeContacts(const QString &databasePath, qint64 keepRowid, qint64 otherRowid, bool dryRun);

} // namespace contacts
