#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>
#include <core/interchange/importedcontact.h>
#include <core/interchange/readsink.h>

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

namespace interchange {

// Reads every card of a vCard file (2.1, 3.0 and 4.0, in any mix), one card at a time: the
// file is never held whole. Each contact goes to the sink as soon as its card is read; a card
// that cannot be read is skipped with its first line and the reason. The call fails when the
// file is not a vCard file at all (empty, binary, no BEGIN:VCARD), or with the sink's failure.
// fileName only names the file in messages.
//
// contactid is filled only from X-PELMORA-CONTACTID, which the program writes itself, so
// that its own files read back the same seventeen values.
Result<void> readVCards(QIODevice &input, const QString &fileName, const ReadSink &sink);

// The same for a caller that takes every contact (the sync reading one card).
Result<void> readVCards(QIODevice &input,
                        const QString &fileName,
                        const std::function<void(ImportedContact &&)> &contactRead,
                        const std::function<void(SkippedEntry &&)> &cardSkipped);

enum class VCardVersion { V3, V4 };

// One card: UTF-8, CR LF, folded at 75 octets, empty fields left out, FN always present.
QByteArray writeVCard(const ContactValues &values, VCardVersion version);

} // namespace interchange
