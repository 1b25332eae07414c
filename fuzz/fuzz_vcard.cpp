// Fuzzes the vCard reader: reading must never crash, and every contact it reads, written as
// 3.0 and as 4.0 and read again, must read as the same seventeen values.
#include <core/interchange/vcard.h>

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

Result<ReadContacts> readBytes(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ReadContacts read;
    const Result<void> done
        = interchange::readVCards(buffer, QStringLiteral("fuzz.vcf"), interchange::keepingIn(read));
    if (!done)
        return done.failure();
    return read;
}

void checkRoundTrip(const ContactValues &values, interchange::VCardVersion version)
{
    const QByteArray card = interchange::writeVCard(values, version);
    const Result<ReadContacts> again = readBytes(card);
    if (!again || again->contacts.size() != 1 || !again->skipped.isEmpty()) {
        std::fprintf(stderr, "the written card does not read back:\n%s\n", card.constData());
        std::abort();
    }
    const ContactValues &read = again->contacts.front().values;
    for (int i = 0; i < contactFieldCount; ++i) {
        if (read[i] != values[i]) {
            std::fprintf(stderr, "field %d differs: \"%s\" became \"%s\"\n%s\n", i,
                         qPrintable(values[i]), qPrintable(read[i]), card.constData());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Result<ReadContacts> read
        = readBytes(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!read)
        return 0;
    for (const ImportedContact &contact : read->contacts) {
        checkRoundTrip(contact.values, interchange::VCardVersion::V3);
        checkRoundTrip(contact.values, interchange::VCardVersion::V4);
    }
    return 0;
}
