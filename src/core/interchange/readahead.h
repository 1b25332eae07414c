#pragma once

#include <core/base/result.h>
#include <core/interchange/readsink.h>

#include <functional>

class QIODevice;

namespace interchange {

// How much read-ahead may wait at a time, counted in the memory its contacts and skips hold:
// what the reader has gathered, what waits, and what is being delivered. One contact larger
// than this still goes, alone.
constexpr qsizetype readAheadBytes = 16 * 1024 * 1024;

// Reads a file on a thread of its own while the calling thread takes what was read, so that
// a large import parses and writes the address book on two cores at once. read runs on the
// other thread and is the only user of input meanwhile; deliver's calls run on this thread,
// in file order, and progress (if given) gets the input's position as each batch arrives.
// The reader waits while readAheadBytes are in flight, so memory stays small whatever the
// file's size and however large its contacts. A failure of deliver.contact stops the reader
// at its next contact and is what this returns; otherwise it returns what read returned,
// once everything it read has been delivered.
Result<void> readAhead(QIODevice &input,
                       const std::function<Result<void>(const ReadSink &)> &read,
                       const ReadSink &deliver,
                       const std::function<void(qint64 position)> &progress = {});

} // namespace interchange
