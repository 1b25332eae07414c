// The Jet reader process's parsing: libmdb opens the input in memory and the table
// contactsdb is written as frames to /dev/null. libmdb itself is not built for fuzzing here,
// so this finds what crashes it, not every bad read inside it.
#include "../tools/jetreader/jetdump.h"

#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::FILE *sink = [] {
        jetreader::prepareEnvironment();
        return std::fopen("/dev/null", "w");
    }();
    std::vector<uint8_t> bytes(data, data + size);
    MdbHandle *mdb = mdb_open_buffer(bytes.data(), bytes.size(), MDB_NOFLAGS);
    if (!mdb)
        return 0;
    // Memos up to 64 KiB: a damaged header asks libmdb for room for a long memo, which at
    // the reader's own 16 MiB would spend the run in the allocator.
    jetreader::dumpContacts(mdb, sink, 64 * 1024);
    mdb_close(mdb);
    return 0;
}
