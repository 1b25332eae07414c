#include <core/interchange/jetconversion.h>

#include <core/contacts/contactdatabase.h>
#include <core/files/filesync.h>

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace interchange {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool sameBytes(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly)
        || first.size() != second.size())
        return false;
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    }
    return true;
}

// A link to the original, not a symbolic one: that would follow the name to the new file.
bool sameFile(const QString &a, const QString &b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    return ::lstat(QFile::encodeName(a).constData(), &first) == 0
           && ::lstat(QFile::encodeName(b).constData(), &second) == 0
           && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool isPlainFile(const QString &path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// The permission bits of the file at path.
Result<mode_t> modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return Failure{QStringLiteral("%1: %2").arg(path, systemReason())};
    return mode_t(info.st_mode & 07777);
}

Result<void> setMode(const QString &path, mode_t mode)
{
    if (::chmod(QFile::encodeName(path).constData(), mode) != 0)
        return Failure{
            QStringLiteral("%1 could not be given its mode: %2").arg(path, systemReason())};
    return {};
}

// A copy under a passing name, synced, then renamed: the backup name never holds part of it.
Result<void> copyWhole(const QString &from, const QString &to)
{
    const QString partial = to + QStringLiteral(".copying");
    QFile::remove(partial);
    if (!QFile::copy(from, partial))
        return Failure{QStringLiteral("%1 could not be copied to %2.").arg(from, partial)};
    Result<void> synced = files::syncFile(partial);
    // QFile::copy lets the owner write the copy; the backup keeps the original's mode.
    if (synced) {
        const Result<mode_t> mode = modeOf(from);
        synced = mode ? setMode(partial, *mode) : mode.failure();
    }
    if (synced
        && ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(to).constData()) != 0)
        synced
            = Failure{QStringLiteral("%1 could not be renamed: %2").arg(partial, systemReason())};
    if (!synced)
        QFile::remove(partial);
    return synced;
}

// Answers whether this call made the backup (and so must take it away on failure).
Result<bool> keepOriginal(const QString &path, const QString &backup, bool link)
{
    if (QFileInfo::exists(backup) || QFileInfo(backup).isSymLink()) {
        // Left by a conversion that was cut short, or a copy of the same bytes: it serves.
        if (isPlainFile(backup) && (sameFile(path, backup) || sameBytes(path, backup)))
            return false;
        return Failure{QStringLiteral("%1 already exists and holds another file; it is never "
                                      "overwritten. Move it away and start again.")
                           .arg(backup)};
    }
    if (link
        && ::link(QFile::encodeName(path).constData(), QFile::encodeName(backup).constData()) == 0)
        return true;
    if (link && errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK
        && errno != ENOSYS)
        return Failure{
            QStringLiteral("%1 could not be kept as %2: %3").arg(path, backup, systemReason())};
    if (Result<void> copied = copyWhole(path, backup); !copied)
        return copied.failure();
    return true;
}

} // namespace

QString jetBackupPath(const QString &path)
{
    return path + QStringLiteral(".jet");
}

Result<JetConversion> convertJetDatabase(const QString &path, const JetConversionOptions &options)
{
    const auto failed = [&path](const QString &reason) {
        return Failure{fileProblem(
            QStringLiteral("The address book could not be converted from the Access (Jet) format."),
            path, reason)};
    };
    const QString folder = QFileInfo(path).absolutePath();
    const QString temporary = path + QStringLiteral(".converting");
    const QString backup = jetBackupPath(path);
    bool backupMade = false;
    bool done = false;
    const auto removeTemporary = [&temporary] {
        QFile::remove(temporary);
        QFile::remove(temporary + QStringLiteral("-journal"));
    };
    // Also what an earlier conversion, killed half-way, left behind.
    removeTemporary();
    const auto undo = qScopeGuard([&] {
        if (done)
            return;
        removeTemporary();
        if (backupMade)
            QFile::remove(backup);
    });

    QList<ContactValues> rows;
    // A Jet table skips no row: one the reader cannot send whole fails the read.
    const ReadSink keepRows{[&rows](ImportedContact &&contact) -> Result<void> {
                                rows.append(std::move(contact.values));
                                return {};
                            },
                            [](SkippedEntry &&) {
                            }};
    const Result<JetReadReport> report = readJetFile(path, keepRows, options.read);
    if (!report)
        return report.failure();
    // The converted book is as private as the original was from before any contact is in it;
    // the owner may write it until it is synced, whatever the original allowed.
    const Result<mode_t> mode = modeOf(path);
    if (!mode)
        return failed(mode.error());
    if (Result<void> created = cntdb::createDatabase(temporary); !created)
        return failed(created.error());
    if (Result<void> writable = setMode(temporary, *mode | S_IRUSR | S_IWUSR); !writable)
        return failed(writable.error());
    if (Result<void> inserted = cntdb::insertContacts(temporary, rows); !inserted)
        return failed(inserted.error());
    if (Result<void> synced = files::syncFile(temporary); !synced)
        return failed(synced.error());
    // After the sync, which opens the file for writing.
    if (Result<void> kept = setMode(temporary, *mode); !kept)
        return failed(kept.error());

    const Result<bool> kept = keepOriginal(path, backup, options.linkBackup);
    if (!kept)
        return failed(kept.error());
    backupMade = *kept;
    // The backup's name reaches the disk before the rename can: after a power cut the
    // original must not be left without a name.
    if (Result<void> synced = files::syncFolder(folder); !synced)
        return failed(synced.error());
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData())
        != 0)
        return failed(QStringLiteral("%1 could not be renamed: %2").arg(temporary, systemReason()));
    done = true;
    // The rename is made; only its reaching the disk is left to ask for.
    if (Result<void> synced = files::syncFolder(folder); !synced)
        return failed(synced.error());
    return JetConversion{*report, backup};
}

} // namespace interchange
