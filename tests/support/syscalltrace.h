#pragma once

#include <core/base/result.h>

#include <QList>
#include <QString>
#include <QStringList>

namespace support {

// One system call as `strace -f -y` printed it: file descriptors carry the path they refer
// to ("3</tmp/a/settings.ini>"), strings are quoted as in C.
struct SystemCall
{
    int pid = 0;
    QString name;
    QStringList arguments; // as printed
    qint64 result = -1;
    QString resultPath; // for a call that returns a descriptor
    QString line;
};

// The strace program, or empty when it is not installed.
QString straceProgram();

// Runs program under strace and answers the calls it made (all its processes) to open,
// write, sync, rename, link, unlink and close files.
Result<QList<SystemCall>> traceFileCalls(const QString &program, const QStringList &arguments);

// The calls in strace's output; a call split by another process's output is joined again.
QList<SystemCall> parseStraceOutput(const QString &output);

// Checks that target was replaced the way that survives a power loss at any moment: the new
// content written to another file, that file synced after its last write, then renamed (or
// linked) over target, then target's folder synced. The failure names the first step that
// is missing. Only calls that succeeded count.
Result<void> checkDurableReplacement(const QList<SystemCall> &trace, const QString &target);

} // namespace support
