#pragma once

namespace platform {

// Ends the program at once: the event loop stops, and windows still open close with the
// program without running their close handlers.
class ProgramTerminator
{
public:
    virtual ~ProgramTerminator() = default;
    virtual void endNow() = 0;
};

void endProgram();

// True once endProgram() has been asked for; windows use it never to bring another window
// back while the program ends.
bool programIsEnding();

// Installs a terminator (not owned); nullptr restores the default. Installing one also clears
// the "ending" state, so each test starts afresh.
void setProgramTerminator(ProgramTerminator *terminator);

} // namespace platform
