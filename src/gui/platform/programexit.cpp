#include <gui/platform/programexit.h>

#include <QCoreApplication>

namespace platform {

namespace {

ProgramTerminator *&installedTerminator()
{
    static ProgramTerminator *terminator = nullptr;
    return terminator;
}

bool &endingFlag()
{
    static bool ending = false;
    return ending;
}

} // namespace

void endProgram(int status)
{
    endingFlag() = true;
    if (ProgramTerminator *terminator = installedTerminator())
        terminator->endNow();
    else
        QCoreApplication::exit(status);
}

bool programIsEnding()
{
    return endingFlag();
}

void setProgramTerminator(ProgramTerminator *terminator)
{
    installedTerminator() = terminator;
    endingFlag() = false;
}

} // namespace platform
