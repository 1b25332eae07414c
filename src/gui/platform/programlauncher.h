#pragma once

#include <core/base/result.h>

#include <QString>

namespace platform {

// Starts another executable in its own process, without waiting for it.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;
    // A failure holds the reason the program could not be started.
    virtual Result<void> start(const QString &program) = 0;
};

Result<void> startProgram(const QString &program);

// Installs a launcher (not owned); nullptr restores the default.
void setProgramLauncher(ProgramLauncher *launcher);

} // namespace platform
