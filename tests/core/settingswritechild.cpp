// Writes settings.ini as the program does, so a test can watch its system calls from outside.
#include <core/settings/settingswriter.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: settingswritechild <settings.ini>\n");
        return 2;
    }
    const Result<void> written
        = settings::writeSortType(QString::fromLocal8Bit(argv[1]), settings::SortType::FirstName);
    if (!written) {
        std::fprintf(stderr, "%s\n", qPrintable(written.error()));
        return 1;
    }
    return 0;
}
