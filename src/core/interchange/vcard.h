#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>
#include <core/interchange/importedcontact.h>

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

namespace interchange {

// Reads every card of a vCard file (2.1, 3.0 and 4.0, in any mix), one card at a time: the
// file is never held whole. A card that cannot be read is skipped with its first line and
// the reason; the call fails only when the file is not a vCard file at all (empty, binary,
// no BEGIN:VCARD). fileName only names the file in messages.
//
// contactid is filled only from X-PELMORA-CONTACTID, which the program writes itself, so
// that its own files read back the same seventeen values.
Result<ReadContacts> readVCards(QIODevice &input, const QString &fileName);

// The same, handing over each contact and each skip as soon as its card is read, for a
// caller that stores them as they come: 100,000 contacts held as strings take about 200 MB.
Result<void> readVCards(QIODevice &input,
                        const QString &fileName,
                        const std::function<void(ImportedContact &&)> &contactRead,
                        const std::function<void(SkippedEntry &&)> &cardSkipped);

enum class VCardVersion { V3, V4 };

// One card: UTF-8, CR LF, folded at 75 octets, empty fields left out, FN always present.
QByteArray writeVCard(const ContactValues &values, VCardVersion version);

} // namespace interchange
