#pragma once

#include <core/base/result.h>
#include <core/interchange/importedcontact.h>

#include <functional>

namespace interchange {

// Where a reader (vCard, CSV, Jet) hands what it reads, in file order, as soon as it has read
// it: no reader holds a file's contacts. Both functions are called on the reader's thread.
struct ReadSink
{
    // Each contact read. A failure ends the read with that failure: the sink could not take
    // it (the address book failed), and nothing after it is wanted.
    std::function<Result<void>(ImportedContact &&)> contact;
    // Each card or row that could not be read: the line it starts on and why.
    std::function<void(SkippedEntry &&)> skipped;
};

// A sink that keeps everything in read: for an input small enough to hold whole (one card,
// a test's file).
inline ReadSink keepingIn(ReadContacts &read)
{
    return {[&read](ImportedContact &&contact) -> Result<void> {
                read.contacts.append(std::move(contact));
                return {};
            },
            [&read](SkippedEntry &&skip) {
                read.skipped.append(std::move(skip));
            }};
}

} // namespace interchange
