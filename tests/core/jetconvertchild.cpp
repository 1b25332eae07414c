// A child process for the crash test of the Jet conversion: converts PATH with the reader
// READER and prints "converted" or "failed: <reason>". The test kills it at random points.
#include <core/interchange/jetconversion.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 3;
    interchange::setJetReaderPathForTesting(QString::fromLocal8Bit(argv[2]));
    const Result<interchange::JetConversion> converted
        = interchange::convertJetDatabase(QString::fromLocal8Bit(argv[1]));
    if (converted)
        std::printf("converted\n");
    else
        std::printf("failed: %s\n", qPrintable(converted.error()));
    return 0;
}
