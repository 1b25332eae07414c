// pelmora-jetreader FILE: writes the table contactsdb of a Jet (Access) file to standard
// output as frames. libmdb was never hardened against hostile files, so it runs only here:
// a crash or a hang ends this process, never the program that started it.
// Exit status: 0 the table was read whole; 1 a failure frame was written; 2 bad usage.
#include "jetdump.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelmora-jetreader FILE\n");
        return 2;
    }
    jetreader::prepareEnvironment();
    // Frames go out in large blocks; the caller reads them as they come.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    MdbHandle *mdb = mdb_open(argv[1], MDB_NOFLAGS);
    if (!mdb) {
        jetreader::writeFailure(stdout, "The file is not a Jet database libmdb can open.");
        return 1;
    }
    const bool read = jetreader::dumpContacts(mdb, stdout);
    mdb_close(mdb);
    return std::fflush(stdout) == 0 && read ? 0 : 1;
}
