#include "childprocess.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

bool canDropPrivileges()
{
    return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

namespace {

ChildResult
run(QProcess &process, const QString &program, const QStringList &arguments, int timeoutMs)
{
    ChildResult result;
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

} // namespace

ChildResult runChild(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    return run(process, program, arguments, timeoutMs);
}

bool capAddressSpace(long headroomMb)
{
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return false;
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    if (!read)
        return false;
    const rlim_t limit
        = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + rlim_t(headroomMb) * 1024 * 1024;
    const rlimit cap{limit, limit};
    return ::setrlimit(RLIMIT_AS, &cap) == 0;
}

ChildResult runChildCapped(const QString &program,
                           const QStringList &arguments,
                           qint64 addressSpaceBytes,
                           int timeoutMs)
{
    QProcess process;
    // Between fork and exec: the cap holds from the program's first instruction.
    process.setChildProcessModifier([addressSpaceBytes] {
        const rlimit cap{rlim_t(addressSpaceBytes), rlim_t(addressSpaceBytes)};
        if (::setrlimit(RLIMIT_AS, &cap) != 0)
            ::_exit(126);
    });
    return run(process, program, arguments, timeoutMs);
}

ChildResult runAsNobody(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QStringList all{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                    QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
    all << arguments;
    return runChild(QStringLiteral("setpriv"), all, timeoutMs);
}
