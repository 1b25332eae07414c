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

// status is the program's exit status: 0 for an ending the user chose, 1 when it cannot go on.
void endProgram(int status = 0);

// True once endProgram() has been asked for; windows use it never to bring another window
// back while the program ends.
bool programIsEnding();

// Installs a terminator (not owned); nullptr restores the default. Installing one also clears
// the "ending" state, so each test starts afresh.
void setProgramTerminator(ProgramTerminator *terminator);

} // namespace platform
