#pragma once

#include <core/base/result.h>
#include <core/interchange/jetimport.h>

#include <QString>

// Turning an address book kept in the Access (Jet) format into the program's SQLite file, in
// place. At every instant the file at path is either the untouched original or the complete
// converted database; the original's bytes are kept beside it under jetBackupPath().
namespace interchange {

struct JetConversionOptions
{
    JetReadOptions read;
    // Keep the original by a hard link; false keeps it by a synced copy, as on file systems
    // without links (tests take that way on purpose).
    bool linkBackup = true;
};

struct JetConversion
{
    JetReadReport report;
    QString backupPath;
};

// path + ".jet": where the original stays.
QString jetBackupPath(const QString &path);

// Reads the Jet file at path into a new SQLite file beside it (every row as it is, ids and
// all), syncs it, keeps the original under the backup name, renames the new file over path
// and syncs the folder. A failure leaves the folder as it was and names the file and the
// reason. A backup name that holds another file is a failure: it is never overwritten.
Result<JetConversion> convertJetDatabase(const QString &path,
                                         const JetConversionOptions &options = {});

} // namespace interchange
