#include "syscalltrace.h"

#include "childprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace support {

namespace {

const QString tracedCalls = QStringLiteral(
    "open,openat,openat2,creat,dup,dup2,dup3,close,write,pwrite64,writev,pwritev,pwritev2,"
    "fsync,fdatasync,sync,syncfs,rename,renameat,renameat2,link,linkat,unlink,unlinkat");

// Splits an argument list at its top-level commas; quotes, brackets and the paths strace
// adds in angle brackets may hold commas of their own.
QStringList splitArguments(const QString &text)
{
    QStringList arguments;
    QString current;
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            current += c;
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                current += text[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = true;
        else if (QStringLiteral("([{<").contains(c))
            ++depth;
        else if (QStringLiteral(")]}>").contains(c))
            --depth;
        else if (c == QLatin1Char(',') && depth == 0) {
            arguments << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        arguments << current.trimmed();
    return arguments;
}

// The end of the argument list: the bracket that closes the one at open.
qsizetype closingParenthesis(const QString &line, qsizetype open)
{
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = open; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = true;
        else if (QStringLiteral("([{<").contains(c))
            ++depth;
        else if (QStringLiteral(")]}>").contains(c) && --depth == 0)
            return i;
    }
    return -1;
}

QString unquoted(const QString &argument)
{
    if (!argument.startsWith(QLatin1Char('"')))
        return argument;
    QByteArray bytes;
    const qsizetype end = argument.lastIndexOf(QLatin1Char('"'));
    for (qsizetype i = 1; i < end; ++i) {
        const QChar c = argument[i];
        if (c != QLatin1Char('\\') || i + 1 >= end) {
            bytes += QString(c).toUtf8();
            continue;
        }
        const QChar e = argument[++i];
        if (e == QLatin1Char('x') && i + 2 < end) {
            bytes += char(argument.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else if (e == QLatin1Char('n')) {
            bytes += '\n';
        } else if (e == QLatin1Char('t')) {
            bytes += '\t';
        } else if (e == QLatin1Char('r')) {
            bytes += '\r';
        } else {
            bytes += QString(e).toUtf8();
        }
    }
    return QFile::decodeName(bytes);
}

// "3</tmp/a>" -> 3; "AT_FDCWD</tmp>" -> -100.
int descriptor(const QString &argument)
{
    if (argument.startsWith(QLatin1String("AT_FDCWD")))
        return -100;
    bool ok = false;
    const int fd = argument.section(QLatin1Char('<'), 0, 0).toInt(&ok);
    return ok ? fd : -1;
}

// The path strace shows for a descriptor: "3</tmp/a>(deleted)" -> "/tmp/a".
QString annotatedPath(const QString &argument)
{
    const qsizetype open = argument.indexOf(QLatin1Char('<'));
    const qsizetype close = argument.indexOf(QLatin1Char('>'), open);
    return open < 0 || close < 0 ? QString() : argument.mid(open + 1, close - open - 1);
}

// A path argument made absolute against the folder argument before it (a *at call) or the
// working folder strace printed with AT_FDCWD.
QString resolved(const QString &pathArgument, const QString &folderArgument)
{
    const QString path = unquoted(pathArgument);
    if (QDir::isAbsolutePath(path) || folderArgument.isEmpty())
        return QDir::cleanPath(path);
    return QDir::cleanPath(annotatedPath(folderArgument) + QLatin1Char('/') + path);
}

} // namespace

QString straceProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("strace"));
}

Result<QList<SystemCall>> traceFileCalls(const QString &program, const QStringList &arguments)
{
    const QString strace = straceProgram();
    if (strace.isEmpty())
        return Failure{QStringLiteral("strace is not installed")};
    QTemporaryDir dir;
    if (!dir.isValid())
        return Failure{QStringLiteral("no temporary folder for the trace")};
    const QString output = dir.filePath(QStringLiteral("trace"));
    // LeakSanitizer stops the process with ptrace to look for leaks, which a traced process
    // cannot; the program's leaks are looked for in its untraced runs.
    QString sanitizerOptions = qEnvironmentVariable("ASAN_OPTIONS");
    if (!sanitizerOptions.isEmpty())
        sanitizerOptions += QLatin1Char(':');
    sanitizerOptions += QStringLiteral("detect_leaks=0");
    QStringList all{QStringLiteral("-f"),
                    QStringLiteral("-y"),
                    QStringLiteral("-qq"),
                    QStringLiteral("-e"),
                    QStringLiteral("trace=") + tracedCalls,
                    QStringLiteral("-E"),
                    QStringLiteral("ASAN_OPTIONS=") + sanitizerOptions,
                    QStringLiteral("-o"),
                    output,
                    program};
    all << arguments;
    const ChildResult run = runChild(strace, all);
    if (!run.started)
        return Failure{QStringLiteral("strace did not start")};
    if (run.exitCode != 0)
        return Failure{QStringLiteral("%1 under strace ended with %2: %3")
                           .arg(program)
                           .arg(run.exitCode)
                           .arg(QString::fromLocal8Bit(run.errors))};
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{QStringLiteral("%1: %2").arg(output, file.errorString())};
    return parseStraceOutput(QString::fromUtf8(file.readAll()));
}

QList<SystemCall> parseStraceOutput(const QString &output)
{
    static const QRegularExpression head(QStringLiteral("^(\\d+)\\s+(.*)$"));
    static const QRegularExpression resumed(QStringLiteral("^<\\.\\.\\. \\w+ resumed>\\s?(.*)$"));
    static const QRegularExpression call(QStringLiteral("^(\\w+)\\("));
    static const QRegularExpression outcome(QStringLiteral("^\\s*=\\s*(-?\\d+)(<[^>]*>)?"));
    QHash<int, QString> unfinished;
    QList<SystemCall> calls;
    for (const QString &raw : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch headMatch = head.match(raw);
        int pid = 0;
        QString text = raw;
        if (headMatch.hasMatch()) {
            pid = headMatch.captured(1).toInt();
            text = headMatch.captured(2);
        }
        if (text.endsWith(QLatin1String("<unfinished ...>"))) {
            unfinished[pid] = text.chopped(int(sizeof("<unfinished ...>") - 1));
            continue;
        }
        if (const QRegularExpressionMatch more = resumed.match(text); more.hasMatch())
            text = unfinished.take(pid) + more.captured(1);

        const QRegularExpressionMatch callMatch = call.match(text);
        if (!callMatch.hasMatch())
            continue; // signals, exits
        const qsizetype open = callMatch.capturedEnd(0) - 1;
        const qsizetype close = closingParenthesis(text, open);
        if (close < 0)
            continue;
        SystemCall parsed;
        parsed.pid = pid;
        parsed.name = callMatch.captured(1);
        parsed.arguments = splitArguments(text.mid(open + 1, close - open - 1));
        parsed.line = raw;
        const QRegularExpressionMatch result = outcome.match(text.mid(close + 1));
        if (!result.hasMatch())
            continue; // a call that never returned
        parsed.result = result.captured(1).toLongLong();
        parsed.resultPath = annotatedPath(result.captured(2));
        calls << parsed;
    }
    return calls;
}

Result<void> checkDurableReplacement(const QList<SystemCall> &trace, const QString &target)
{
    const QString targetPath = QDir::cleanPath(target);
    const QString folder = QFileInfo(targetPath).path();

    // Files are followed as objects, not names: a descriptor keeps its file across renames,
    // and a file made with O_TMPFILE has no name until it is linked.
    struct FileObject
    {
        QString path;
        std::vector<qsizetype> writes;
        std::vector<qsizetype> syncs;
    };
    std::vector<FileObject> objects;
    std::map<std::pair<int, int>, size_t> descriptors;
    std::map<QString, size_t> names;
    const auto objectNamed = [&](const QString &path) {
        if (const auto found = names.find(path); found != names.end())
            return found->second;
        objects.push_back({path, {}, {}});
        names[path] = objects.size() - 1;
        return objects.size() - 1;
    };
    const auto objectOf = [&](int pid, const QString &argument) -> std::optional<size_t> {
        if (const auto found = descriptors.find({pid, descriptor(argument)});
            found != descriptors.end())
            return found->second;
        const QString path = annotatedPath(argument);
        if (path.isEmpty())
            return std::nullopt;
        return objectNamed(path);
    };

    qsizetype replacement = -1;
    std::optional<size_t> replacedBy;
    std::vector<qsizetype> folderSyncs;
    for (qsizetype i = 0; i < trace.size(); ++i) {
        const SystemCall &c = trace[i];
        const QStringList &a = c.arguments;
        if (c.result < 0)
            continue;
        const QString &name = c.name;
        if (name == QLatin1String("open") || name == QLatin1String("openat")
            || name == QLatin1String("openat2") || name == QLatin1String("creat")) {
            const bool at = name.startsWith(QLatin1String("openat"));
            const bool anonymous
                = a.size() > (at ? 2 : 1) && a[at ? 2 : 1].contains(QLatin1String("O_TMPFILE"));
            QString path = c.resultPath;
            if (path.isEmpty() && a.size() > (at ? 1 : 0))
                path = at ? resolved(a[1], a[0]) : resolved(a[0], QString());
            size_t object;
            if (anonymous) {
                objects.push_back({path, {}, {}});
                object = objects.size() - 1;
            } else {
                object = objectNamed(path);
            }
            descriptors[{c.pid, int(c.result)}] = object;
        } else if (name.startsWith(QLatin1String("dup")) && !a.isEmpty()) {
            if (const std::optional<size_t> object = objectOf(c.pid, a[0]))
                descriptors[{c.pid, int(c.result)}] = *object;
        } else if (name == QLatin1String("close") && !a.isEmpty()) {
            descriptors.erase({c.pid, descriptor(a[0])});
        } else if (name.contains(QLatin1String("write")) && !a.isEmpty()) {
            if (const std::optional<size_t> object = objectOf(c.pid, a[0]))
                objects[*object].writes.push_back(i);
        } else if ((name == QLatin1String("fsync") || name == QLatin1String("fdatasync"))
                   && !a.isEmpty()) {
            if (const std::optional<size_t> object = objectOf(c.pid, a[0])) {
                objects[*object].syncs.push_back(i);
                if (objects[*object].path == folder)
                    folderSyncs.push_back(i);
            }
        } else if (name == QLatin1String("sync") || name == QLatin1String("syncfs")) {
            for (FileObject &object : objects)
                object.syncs.push_back(i);
            folderSyncs.push_back(i);
        } else if (name.startsWith(QLatin1String("rename"))
                   || name.startsWith(QLatin1String("link"))) {
            const bool at
                = name.endsWith(QLatin1String("at")) || name.endsWith(QLatin1String("at2"));
            if (a.size() < (at ? 4 : 2))
                continue;
            const QString from = at ? resolved(a[1], a[0]) : resolved(a[0], QString());
            const QString to = at ? resolved(a[3], a[2]) : resolved(a[1], QString());
            size_t object;
            static const QRegularExpression procFd(QStringLiteral("^/proc/(self|\\d+)/fd/(\\d+)$"));
            const QRegularExpressionMatch viaProc = procFd.match(unquoted(at ? a[1] : a[0]));
            const bool emptyPath
                = at && a.size() > 4 && a[4].contains(QLatin1String("AT_EMPTY_PATH"));
            if (viaProc.hasMatch() && descriptors.count({c.pid, viaProc.captured(2).toInt()}))
                object = descriptors[{c.pid, viaProc.captured(2).toInt()}];
            else if (emptyPath && descriptors.count({c.pid, descriptor(a[0])}))
                object = descriptors[{c.pid, descriptor(a[0])}];
            else
                object = objectNamed(from);
            if (name.startsWith(QLatin1String("rename")))
                names.erase(from);
            names[to] = object;
            objects[object].path = to;
            if (to == targetPath) {
                replacement = i;
                replacedBy = object;
            }
        } else if (name.startsWith(QLatin1String("unlink")) && !a.isEmpty()) {
            names.erase(name == QLatin1String("unlinkat") && a.size() > 1
                            ? resolved(a[1], a[0])
                            : resolved(a[0], QString()));
        }
    }

    if (replacement < 0)
        return Failure{QStringLiteral("%1 was not replaced by a rename: written in place or not "
                                      "at all")
                           .arg(targetPath)};
    const FileObject &replaced = objects[*replacedBy];
    qsizetype lastWrite = -1;
    for (qsizetype write : replaced.writes) {
        if (write < replacement)
            lastWrite = write;
    }
    if (lastWrite < 0)
        return Failure{
            QStringLiteral("nothing was written to the file renamed over %1").arg(targetPath)};
    const bool synced
        = std::any_of(replaced.syncs.begin(), replaced.syncs.end(),
                      [&](qsizetype sync) { return sync > lastWrite && sync < replacement; });
    if (!synced)
        return Failure{QStringLiteral("the new file was not synced between its last write (%1) "
                                      "and the rename over %2 (%3)")
                           .arg(trace[lastWrite].line, targetPath, trace[replacement].line)};
    const bool folderSynced = std::any_of(folderSyncs.begin(), folderSyncs.end(),
                                          [&](qsizetype sync) { return sync > replacement; });
    if (!folderSynced)
        return Failure{QStringLiteral("the folder %1 was not synced after the rename (%2)")
                           .arg(folder, trace[replacement].line)};
    return {};
}

} // namespace support
