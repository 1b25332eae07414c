#pragma once

#include <core/base/result.h>
#include <core/interchange/importedcontact.h>
#include <core/interchange/readsink.h>

#include <QString>
#include <QStringList>

// Reading the table contactsdb of a Jet (Access .mdb) file. libmdb does the reading in a
// process of ours, pelmora-jetreader, never in this one: a file that crashes or hangs libmdb
// ends that process only. The reader writes frames to its standard output:
//
//   frame:  one byte kind, payload length (u32), payload      (u32: 32 bits, little-endian)
//   'H'     the columns: count (u32), then that many strings
//   'R'     one row: count (u32, the header's), then that many values
//   'E'     the end: the number of rows sent (u32); the last frame
//   'X'     the reader failed: the reason, UTF-8; the last frame
//   string: length (u32), then that many bytes of UTF-8; length 0xFFFFFFFF is NULL
//
// Every frame is checked here; anything else ends the read as a failure.
namespace interchange {

struct JetReadOptions
{
    // The reader is given up when it writes nothing for this long...
    int idleTimeoutMs = 15000;
    // ...or has not finished after this long (a looping file can write rows for ever).
    int totalTimeoutMs = 300000;
};

struct JetReadReport
{
    int rows = 0;
    // Fields of the program the table lacks (they come in empty), and columns of the table
    // that are no field of the program (not read).
    QStringList missingFields;
    QStringList extraColumns;
};

// Whether the file starts as a Jet 3/4 or ACE database does ("Standard Jet DB" or
// "Standard ACE DB" at byte 4), whatever its name.
bool isJetFile(const QString &path);

// Reads contactsdb of the Jet file at path, handing each row to the sink as it arrives,
// fields matched by name without regard to case, NULL as empty, contactid as a whole number.
// No row is skipped: a row the reader cannot send whole fails the read. A failure of the
// sink ends the read with that failure; any other names the file and the reason. On a
// failure the caller drops what it was given (the importer rolls back).
Result<JetReadReport>
readJetFile(const QString &path, const ReadSink &sink, const JetReadOptions &options = {});

// Where the reader process lies: beside the executable.
QString jetReaderPath();
// Tests start another reader; an empty path restores the default.
void setJetReaderPathForTesting(const QString &path);

} // namespace interchange
