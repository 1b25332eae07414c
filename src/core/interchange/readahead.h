#pragma once

#include <core/base/result.h>
#include <core/interchange/importedcontact.h>

#include <functional>

class QIODevice;

namespace interchange {

// Where a reader hands what it reads: each contact, each card or row it had to skip.
struct ReadSink
{
    std::function<void(ImportedContact &&)> contact;
    std::function<void(SkippedEntry &&)> skipped;
};

// Reads a file on a thread of its own while the calling thread takes what was read, so that
// a large import parses and writes the address book on two cores at once. read runs on the
// other thread and is the only user of input meanwhile; deliver's calls run on this thread,
// in file order, and progress (if given) gets the input's position as each batch arrives.
// Only a few batches wait at a time, so memory stays small whatever the file's size.
// Returns what read returned, once everything it read has been delivered.
Result<void> readAhead(QIODevice &input,
                       const std::function<Result<void>(const ReadSink &)> &read,
                       const ReadSink &deliver,
                       const std::function<void(qint64 position)> &progress = {});

} // namespace interchange
