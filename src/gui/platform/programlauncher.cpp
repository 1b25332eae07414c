#include <gui/platform/programlauncher.h>

#include <QFileInfo>
#include <QProcess>

namespace platform {

namespace {

class DetachedProcessLauncher final : public ProgramLauncher
{
public:
    Result<void> start(const QString &program) override
    {
        const QFileInfo info(program);
        if (!info.exists())
            return Failure{QStringLiteral("The file does not exist.")};
        if (!info.isFile() || !info.isExecutable())
            return Failure{QStringLiteral("The file is not an executable program.")};
        QProcess process;
        process.setProgram(program);
        process.setWorkingDirectory(info.absolutePath());
        if (!process.startDetached())
            return Failure{process.errorString()};
        return {};
    }
};

ProgramLauncher *&installedLauncher()
{
    static ProgramLauncher *launcher = nullptr;
    return launcher;
}

} // namespace

Result<void> startProgram(const QString &program)
{
    static DetachedProcessLauncher defaultLauncher;
    ProgramLauncher *launcher = installedLauncher() ? installedLauncher() : &defaultLauncher;
    return launcher->start(program);
}

void setProgramLauncher(ProgramLauncher *launcher)
{
    installedLauncher() = launcher;
}

} // namespace platform
