#pragma once

#include <core/contacts/contactfields.h>

#include <QList>
#include <QString>

namespace carddav {

// A field changed on both sides to different values: the local value was kept on both.
struct FieldConflict
{
    ContactField field;
    QString local;
    QString server;
};

struct MergeResult
{
    ContactValues merged;
    QList<FieldConflict> conflicts;
};

// Three-way merge per field against the values as last synced: a field changed on one side
// takes that side's value; changed on both to different values, the local value wins and the
// server's is reported. contactid is the program's own and always stays local.
MergeResult
mergeThreeWay(const ContactValues &base, const ContactValues &local, const ContactValues &server);

} // namespace carddav
