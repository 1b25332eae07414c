#include <gui/platform/programlauncher.h>

#include <QFileInfo>
#include <QProcess>

namespace platform {

namespace {

class DetachedProcessLauncher final : public ProgramLauncher
{
public:
    bool start(const QString &program, QString *reason) override
    {
        const QFileInfo info(program);
        if (!info.exists()) {
            *reason = QStringLiteral("The file does not exist.");
            return false;
        }
        if (!info.isFile() || !info.isExecutable()) {
            *reason = QStringLiteral("The file is not an executable program.");
            return false;
        }
        QProcess process;
        process.setProgram(program);
        process.setWorkingDirectory(info.absolutePath());
        if (!process.startDetached()) {
            *reason = process.errorString();
            return false;
        }
        return true;
    }
};

ProgramLauncher *&installedLauncher()
{
    static ProgramLauncher *launcher = nullptr;
    return launcher;
}

} // namespace

bool startProgram(const QString &program, QString *reason)
{
    static DetachedProcessLauncher defaultLauncher;
    ProgramLauncher *launcher = installedLauncher() ? installedLauncher() : &defaultLauncher;
    QString ignored;
    return launcher->start(program, reason ? reason : &ignored);
}

void setProgramLauncher(ProgramLauncher *launcher)
{
    installedLauncher() = launcher;
}

} // namespace platform
