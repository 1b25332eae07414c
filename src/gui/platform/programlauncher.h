#pragma once

#include <QString>

namespace platform {

// Starts another executable in its own process, without waiting for it.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;
    // Returns false and sets *reason when the program could not be started.
    virtual bool start(const QString &program, QString *reason) = 0;
};

bool startProgram(const QString &program, QString *reason);

// Installs a launcher (not owned); nullptr restores the default.
void setProgramLauncher(ProgramLauncher *launcher);

} // namespace platform
