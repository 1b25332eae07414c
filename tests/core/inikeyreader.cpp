// inikeyreader [--headroom-mb N] <path> <section> <key>
//
// Prints the value of one key as UTF-8 on stdout and exits 0, or prints the reader's error on
// stderr and exits 1. With --headroom-mb the address space is capped at what the process
// uses before the read plus N MiB, so a reader that held a long line whole would fail.

#include <core/settings/inireader.h>
#include <support/childprocess.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--headroom-mb") == 0) {
        if (!capAddressSpace(std::atol(argv[2]))) {
            std::fputs("cannot cap the address space\n", stderr);
            return 2;
        }
        first = 3;
    }
    if (argc - first != 3) {
        std::fputs("usage: inikeyreader [--headroom-mb N] <path> <section> <key>\n", stderr);
        return 2;
    }
    const Result<QString> result = settings::readIniKey(QString::fromLocal8Bit(argv[first]),
                                                        QString::fromLocal8Bit(argv[first + 1]),
                                                        QString::fromLocal8Bit(argv[first + 2]));
    if (!result) {
        std::fprintf(stderr, "%s\n", result.error().toUtf8().constData());
        return 1;
    }
    const QByteArray value = result->toUtf8();
    std::fwrite(value.constData(), 1, size_t(value.size()), stdout);
    return 0;
}
