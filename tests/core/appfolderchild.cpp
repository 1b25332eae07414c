// Opens the application folder as the program does at its start, from wherever this copy of
// the executable lies, and prints the folder (standard output) or the message (standard error).
// Tests copy it into a made-up prefix and run it with a HOME of their choice, as another user
// when the folder must be denied.
#include <core/files/apppath.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Result<QString> folder = files::openAppFolder();
    if (!folder) {
        std::fprintf(stderr, "%s\n", qPrintable(folder.error()));
        return 1;
    }
    std::printf("%s\n%s\n", qPrintable(*folder), qPrintable(files::helperDir()));
    return 0;
}
