// Fuzzes the CSV reader with arbitrary bytes as the file: reading never crashes or hangs, and
// the contacts it gives, written in the program's own format and read again, give the same
// seventeen values.
#include <core/interchange/csv.h>

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

Result<ReadContacts> readBytes(QBuffer &buffer, const QString &name)
{
    ReadContacts read;
    const Result<void> done
        = interchange::readCsv(buffer, name, nullptr, interchange::keepingIn(read));
    if (!done)
        return done.failure();
    return read;
}

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(detail));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QBuffer buffer(&input);
    buffer.open(QIODevice::ReadOnly);
    const Result<ReadContacts> read = readBytes(buffer, QStringLiteral("fuzz.csv"));
    if (!read) {
        if (read.error().isEmpty())
            fail("a failure without a message", {});
        return 0;
    }
    for (const ImportedContact &contact : read->contacts) {
        if (contact.line < 1)
            fail("a contact without its line", {});
    }

    const interchange::CsvPreset &own = *interchange::csvPreset(QStringLiteral("pelmora"));
    QByteArray written = interchange::csvHeader(own);
    for (const ImportedContact &contact : read->contacts)
        written += interchange::csvRow(contact.values, own);
    QBuffer again(&written);
    again.open(QIODevice::ReadOnly);
    const Result<ReadContacts> reread = readBytes(again, QStringLiteral("again.csv"));
    if (read->contacts.isEmpty()) {
        // Only a header: the written file is one too, and says so.
        if (reread)
            fail("a header-only file was read", {});
        return 0;
    }
    if (!reread)
        fail("what was written cannot be read", reread.error());
    if (!reread->skipped.isEmpty())
        fail("a written row was skipped", reread->skipped.first().reason);
    if (reread->contacts.size() != read->contacts.size())
        fail("the number of contacts changed", QString::number(reread->contacts.size()));
    for (qsizetype c = 0; c < read->contacts.size(); ++c) {
        if (reread->contacts[c].values != read->contacts[c].values)
            fail("values changed in contact", QString::number(c));
    }
    return 0;
}
