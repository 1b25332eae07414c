#include "childprocess.h"

#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

bool canDropPrivileges()
{
    return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

ChildResult runChild(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ChildResult result;
    QProcess process;
    process.start(program, arguments);
    result.started = process.waitForStarted();
    if (!result.started)
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

ChildResult runAsNobody(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QStringList all{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                    QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
    all << arguments;
    return runChild(QStringLiteral("setpriv"), all, timeoutMs);
}
