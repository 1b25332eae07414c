#pragma once

#include <QByteArray>
#include <QStringList>

// Tests run as root in CI, where file permissions deny nothing. A test of a permission
// failure runs the code under test in a child process that has dropped to the user nobody,
// so the denial really happens.
struct ChildResult
{
    bool started = false;
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

// True when this process may drop privileges (it runs as root and setpriv exists).
bool canDropPrivileges();

// Runs program with arguments as nobody:nogroup without supplementary groups.
ChildResult
runAsNobody(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

// Runs program with arguments as the current user.
ChildResult runChild(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

// Caps this process's address space (RLIMIT_AS) at what it maps now plus headroomMb MiB: a
// child that must show it holds nothing whole calls it before the work.
bool capAddressSpace(long headroomMb);

// Runs program with arguments, its address space capped at addressSpaceBytes from its first
// instruction: an allocation past it fails, so a program that needs more ends, mostly by abort.
ChildResult runChildCapped(const QString &program,
                           const QStringList &arguments,
                           qint64 addressSpaceBytes,
                           int timeoutMs = 60000);
