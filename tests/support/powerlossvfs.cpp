#include "powerlossvfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <random>
#include <vector>

namespace support {

namespace {

constexpr qint64 sectorSize = 512;
constexpr int recordedTypes
    = SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL | SQLITE_OPEN_WAL;
constexpr int journalTypes = SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL | SQLITE_OPEN_WAL;

struct Change
{
    enum class Kind { Adopt, Create, Delete, Write, Truncate, Sync };
    Kind kind = Kind::Write;
    int inode = -1;
    QString path;      // Adopt, Create, Delete
    qint64 offset = 0; // where a write starts; the size a truncation leaves
    QByteArray data;   // the bytes written; an adopted file's content
    bool syncsFolder = false;
};

// What the recording layer knows; the callbacks reach it through the VFS's pAppData.
struct Record
{
    sqlite3_vfs vfs{};
    sqlite3_vfs *real = nullptr;
    QByteArray name = "pelmora-powerloss";
    std::vector<Change> changes;
    // The folder as the process sees it: path -> inode.
    std::map<QString, int> live;
    int nextInode = 0;
};

struct RecordingFile
{
    sqlite3_file base;
    Record *record;
    sqlite3_file *real;
    int inode;
    bool syncsFolderAtFirstSync;
};

RecordingFile *recording(sqlite3_file *file)
{
    return reinterpret_cast<RecordingFile *>(file);
}

sqlite3_file *real(sqlite3_file *file)
{
    return recording(file)->real;
}

void record(RecordingFile *file, Change change)
{
    change.inode = file->inode;
    file->record->changes.push_back(std::move(change));
}

int fileClose(sqlite3_file *file)
{
    return real(file)->pMethods->xClose(real(file));
}

int fileRead(sqlite3_file *file, void *buffer, int amount, sqlite3_int64 offset)
{
    return real(file)->pMethods->xRead(real(file), buffer, amount, offset);
}

int fileWrite(sqlite3_file *file, const void *buffer, int amount, sqlite3_int64 offset)
{
    const int rc = real(file)->pMethods->xWrite(real(file), buffer, amount, offset);
    if (rc == SQLITE_OK && recording(file)->inode >= 0) {
        Change change;
        change.kind = Change::Kind::Write;
        change.offset = offset;
        change.data = QByteArray(static_cast<const char *>(buffer), amount);
        record(recording(file), std::move(change));
    }
    return rc;
}

int fileTruncate(sqlite3_file *file, sqlite3_int64 size)
{
    const int rc = real(file)->pMethods->xTruncate(real(file), size);
    if (rc == SQLITE_OK && recording(file)->inode >= 0) {
        Change change;
        change.kind = Change::Kind::Truncate;
        change.offset = size;
        record(recording(file), std::move(change));
    }
    return rc;
}

int fileSync(sqlite3_file *file, int flags)
{
    RecordingFile *f = recording(file);
    // A recorded file's disk is the simulated one: syncing the real file would only cost
    // time, thousands of times per run.
    if (f->inode < 0)
        return real(file)->pMethods->xSync(real(file), flags);
    Change change;
    change.kind = Change::Kind::Sync;
    change.syncsFolder = f->syncsFolderAtFirstSync;
    f->syncsFolderAtFirstSync = false;
    record(f, std::move(change));
    return SQLITE_OK;
}

int fileSize(sqlite3_file *file, sqlite3_int64 *size)
{
    return real(file)->pMethods->xFileSize(real(file), size);
}

int fileLock(sqlite3_file *file, int level)
{
    return real(file)->pMethods->xLock(real(file), level);
}

int fileUnlock(sqlite3_file *file, int level)
{
    return real(file)->pMethods->xUnlock(real(file), level);
}

int fileCheckReservedLock(sqlite3_file *file, int *result)
{
    return real(file)->pMethods->xCheckReservedLock(real(file), result);
}

int fileControl(sqlite3_file *file, int op, void *argument)
{
    return real(file)->pMethods->xFileControl(real(file), op, argument);
}

int fileSectorSize(sqlite3_file *file)
{
    return real(file)->pMethods->xSectorSize(real(file));
}

int fileDeviceCharacteristics(sqlite3_file *file)
{
    return real(file)->pMethods->xDeviceCharacteristics(real(file));
}

int fileShmMap(sqlite3_file *file, int page, int pageSize, int extend, void volatile **memory)
{
    return real(file)->pMethods->xShmMap(real(file), page, pageSize, extend, memory);
}

int fileShmLock(sqlite3_file *file, int offset, int n, int flags)
{
    return real(file)->pMethods->xShmLock(real(file), offset, n, flags);
}

void fileShmBarrier(sqlite3_file *file)
{
    real(file)->pMethods->xShmBarrier(real(file));
}

int fileShmUnmap(sqlite3_file *file, int deleteFlag)
{
    return real(file)->pMethods->xShmUnmap(real(file), deleteFlag);
}

// Version 2: without xFetch SQLite never maps the file into memory, so every write it makes
// passes through xWrite and is recorded.
const sqlite3_io_methods recordingMethods = {
    2,
    fileClose,
    fileRead,
    fileWrite,
    fileTruncate,
    fileSync,
    fileSize,
    fileLock,
    fileUnlock,
    fileCheckReservedLock,
    fileControl,
    fileSectorSize,
    fileDeviceCharacteristics,
    fileShmMap,
    fileShmLock,
    fileShmBarrier,
    fileShmUnmap,
    nullptr,
    nullptr,
};

Record *recordOf(sqlite3_vfs *vfs)
{
    return static_cast<Record *>(vfs->pAppData);
}

int vfsOpen(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    Record *rec = recordOf(vfs);
    auto *f = recording(file);
    f->base.pMethods = nullptr;
    f->record = rec;
    f->real = reinterpret_cast<sqlite3_file *>(f + 1);
    f->real->pMethods = nullptr;
    f->inode = -1;
    f->syncsFolderAtFirstSync = false;

    const bool recorded = name && (flags & recordedTypes) && !(flags & SQLITE_OPEN_DELETEONCLOSE);
    int existed = 0;
    if (recorded
        && rec->real->xAccess(rec->real, name, SQLITE_ACCESS_EXISTS, &existed) != SQLITE_OK)
        existed = 0;
    const int rc = rec->real->xOpen(rec->real, name, f->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (f->real->pMethods)
            f->real->pMethods->xClose(f->real);
        return rc;
    }
    f->base.pMethods = &recordingMethods;
    if (!recorded)
        return SQLITE_OK;

    const QString path = QString::fromUtf8(name);
    if (const auto known = rec->live.find(path); known != rec->live.end()) {
        f->inode = known->second;
    } else {
        f->inode = rec->nextInode++;
        rec->live[path] = f->inode;
        Change change;
        change.path = path;
        if (existed) {
            change.kind = Change::Kind::Adopt;
            sqlite3_int64 size = 0;
            if (f->real->pMethods->xFileSize(f->real, &size) == SQLITE_OK && size > 0) {
                change.data.resize(size);
                // A short read fills with zeros, which is what the file holds there anyway.
                f->real->pMethods->xRead(f->real, change.data.data(), int(size), 0);
            }
        } else {
            change.kind = Change::Kind::Create;
        }
        record(f, std::move(change));
    }
    f->syncsFolderAtFirstSync = (flags & SQLITE_OPEN_CREATE) && (flags & journalTypes);
    return SQLITE_OK;
}

int vfsDelete(sqlite3_vfs *vfs, const char *name, int syncFolder)
{
    Record *rec = recordOf(vfs);
    const int rc = rec->real->xDelete(rec->real, name, syncFolder);
    if (rc != SQLITE_OK)
        return rc;
    const QString path = QString::fromUtf8(name);
    if (const auto known = rec->live.find(path); known != rec->live.end()) {
        Change change;
        change.kind = Change::Kind::Delete;
        change.inode = known->second;
        change.path = path;
        change.syncsFolder = syncFolder & 1;
        rec->changes.push_back(std::move(change));
        rec->live.erase(known);
    }
    return SQLITE_OK;
}

int vfsAccess(sqlite3_vfs *vfs, const char *name, int flags, int *result)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xAccess(r, name, flags, result);
}

int vfsFullPathname(sqlite3_vfs *vfs, const char *name, int size, char *out)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xFullPathname(r, name, size, out);
}

void *vfsDlOpen(sqlite3_vfs *vfs, const char *name)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xDlOpen(r, name);
}

void vfsDlError(sqlite3_vfs *vfs, int size, char *message)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    r->xDlError(r, size, message);
}

void (*vfsDlSym(sqlite3_vfs *vfs, void *library, const char *symbol))(void)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xDlSym(r, library, symbol);
}

void vfsDlClose(sqlite3_vfs *vfs, void *library)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    r->xDlClose(r, library);
}

int vfsRandomness(sqlite3_vfs *vfs, int size, char *out)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xRandomness(r, size, out);
}

int vfsSleep(sqlite3_vfs *vfs, int microseconds)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xSleep(r, microseconds);
}

int vfsCurrentTime(sqlite3_vfs *vfs, double *now)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xCurrentTime(r, now);
}

int vfsGetLastError(sqlite3_vfs *vfs, int size, char *message)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xGetLastError(r, size, message);
}

int vfsCurrentTimeInt64(sqlite3_vfs *vfs, sqlite3_int64 *now)
{
    sqlite3_vfs *r = recordOf(vfs)->real;
    return r->xCurrentTimeInt64(r, now);
}

// Replays the record up to a point: what the disk holds for sure, and what waits in its
// cache.
class Replay
{
public:
    void apply(const Change &change)
    {
        switch (change.kind) {
        case Change::Kind::Adopt:
            m_inodes[change.inode].durable = change.data;
            m_folder[change.path] = change.inode;
            break;
        case Change::Kind::Create:
            m_inodes[change.inode];
            m_folderPending.push_back(&change);
            break;
        case Change::Kind::Delete:
            m_folderPending.push_back(&change);
            if (change.syncsFolder)
                syncFolder();
            break;
        case Change::Kind::Write:
        case Change::Kind::Truncate:
            m_inodes[change.inode].pending.push_back(&change);
            break;
        case Change::Kind::Sync: {
            Inode &inode = m_inodes[change.inode];
            for (const Change *pending : inode.pending)
                applyWhole(inode.durable, *pending);
            inode.pending.clear();
            if (change.syncsFolder)
                syncFolder();
            break;
        }
        }
    }

    // A file that was on the disk before the record began is there at any point before the
    // record first opened it.
    void adoptIfUnknown(const Change &change)
    {
        if (m_inodes.count(change.inode))
            return;
        for (const Change *pending : m_folderPending) {
            if (pending->path == change.path)
                return;
        }
        if (!m_folder.count(change.path))
            apply(change);
    }

    DiskImage lose(std::mt19937_64 &random) const
    {
        std::map<QString, int> folder = m_folder;
        const size_t survivingFolderChanges = random() % (m_folderPending.size() + 1);
        for (size_t i = 0; i < survivingFolderChanges; ++i)
            changeFolder(folder, *m_folderPending[i]);
        DiskImage image;
        for (const auto &[path, inodeId] : folder) {
            const Inode &inode = m_inodes.at(inodeId);
            QByteArray content = inode.durable;
            for (const Change *pending : inode.pending) {
                if (random() % 2)
                    continue;
                if (pending->kind == Change::Kind::Truncate || random() % 2) {
                    applyWhole(content, *pending);
                    continue;
                }
                // Torn: each sector the write touches reaches the disk or not.
                const qint64 end = pending->offset + pending->data.size();
                for (qint64 start = pending->offset; start < end;) {
                    const qint64 sectorEnd = std::min(end, (start / sectorSize + 1) * sectorSize);
                    if (random() % 2)
                        writeAt(content, start,
                                QByteArrayView(pending->data)
                                    .sliced(start - pending->offset, sectorEnd - start));
                    start = sectorEnd;
                }
            }
            image[path] = content;
        }
        return image;
    }

private:
    struct Inode
    {
        QByteArray durable;
        std::vector<const Change *> pending;
    };

    static void writeAt(QByteArray &content, qint64 offset, QByteArrayView bytes)
    {
        if (content.size() < offset + bytes.size())
            content.resize(offset + bytes.size(), '\0');
        std::copy(bytes.begin(), bytes.end(), content.begin() + offset);
    }

    static void applyWhole(QByteArray &content, const Change &change)
    {
        if (change.kind == Change::Kind::Truncate)
            content.resize(change.offset, '\0');
        else
            writeAt(content, change.offset, change.data);
    }

    static void changeFolder(std::map<QString, int> &folder, const Change &change)
    {
        if (change.kind == Change::Kind::Create)
            folder[change.path] = change.inode;
        else
            folder.erase(change.path);
    }

    void syncFolder()
    {
        for (const Change *change : m_folderPending)
            changeFolder(m_folder, *change);
        m_folderPending.clear();
    }

    std::map<int, Inode> m_inodes;
    std::map<QString, int> m_folder;
    std::vector<const Change *> m_folderPending;
};

} // namespace

struct PowerLossVfs::Private : Record
{
    bool installed = false;
};

PowerLossVfs::PowerLossVfs()
    : d(std::make_unique<Private>())
{
    d->real = sqlite3_vfs_find(nullptr);
    sqlite3_vfs &vfs = d->vfs;
    // Version 2: the system-call overrides of version 3 are for SQLite's own tests.
    vfs.iVersion = 2;
    vfs.szOsFile = int(sizeof(RecordingFile)) + d->real->szOsFile;
    vfs.mxPathname = d->real->mxPathname;
    vfs.zName = d->name.constData();
    vfs.pAppData = static_cast<Record *>(d.get());
    vfs.xOpen = vfsOpen;
    vfs.xDelete = vfsDelete;
    vfs.xAccess = vfsAccess;
    vfs.xFullPathname = vfsFullPathname;
    vfs.xDlOpen = vfsDlOpen;
    vfs.xDlError = vfsDlError;
    vfs.xDlSym = vfsDlSym;
    vfs.xDlClose = vfsDlClose;
    vfs.xRandomness = vfsRandomness;
    vfs.xSleep = vfsSleep;
    vfs.xCurrentTime = vfsCurrentTime;
    vfs.xGetLastError = vfsGetLastError;
    vfs.xCurrentTimeInt64 = vfsCurrentTimeInt64;
}

PowerLossVfs::~PowerLossVfs()
{
    uninstall();
}

void PowerLossVfs::install()
{
    if (d->installed)
        return;
    sqlite3_vfs_register(&d->vfs, 1);
    d->installed = true;
}

void PowerLossVfs::uninstall()
{
    if (!d->installed)
        return;
    sqlite3_vfs_unregister(&d->vfs);
    sqlite3_vfs_register(d->real, 1);
    d->installed = false;
}

qint64 PowerLossVfs::changeCount() const
{
    return qint64(d->changes.size());
}

QString PowerLossVfs::describeChange(qint64 point) const
{
    if (point < 0 || point >= changeCount())
        return QStringLiteral("the end of the record");
    const Change &change = d->changes[size_t(point)];
    QString file;
    for (const Change &c : d->changes) {
        if (c.inode == change.inode && !c.path.isEmpty()) {
            file = QFileInfo(c.path).fileName();
            break;
        }
    }
    switch (change.kind) {
    case Change::Kind::Adopt:
        return QStringLiteral("first opening of %1").arg(file);
    case Change::Kind::Create:
        return QStringLiteral("creation of %1").arg(file);
    case Change::Kind::Delete:
        return QStringLiteral("deletion of %1%2")
            .arg(file, change.syncsFolder ? QStringLiteral(", folder synced") : QString());
    case Change::Kind::Write:
        return QStringLiteral("write of %1 bytes at %2 to %3")
            .arg(change.data.size())
            .arg(change.offset)
            .arg(file);
    case Change::Kind::Truncate:
        return QStringLiteral("truncation of %1 to %2 bytes").arg(file).arg(change.offset);
    case Change::Kind::Sync:
        return QStringLiteral("sync of %1%2")
            .arg(file, change.syncsFolder ? QStringLiteral(" and its folder") : QString());
    }
    return {};
}

DiskImage PowerLossVfs::diskAfterLoss(qint64 point, quint64 seed) const
{
    Replay replay;
    const qint64 end = std::min(point, changeCount());
    for (qint64 i = 0; i < end; ++i)
        replay.apply(d->changes[size_t(i)]);
    for (qint64 i = end; i < changeCount(); ++i) {
        if (d->changes[size_t(i)].kind == Change::Kind::Adopt)
            replay.adoptIfUnknown(d->changes[size_t(i)]);
    }
    std::mt19937_64 random(seed);
    return replay.lose(random);
}

Result<void> writeDisk(const DiskImage &image, const QString &folder)
{
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder))
        return Failure{QStringLiteral("%1: cannot create the folder").arg(folder)};
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!dir.remove(name))
            return Failure{QStringLiteral("%1: cannot remove %2").arg(folder, name)};
    }
    for (const auto &[path, content] : image) {
        QFile file(dir.filePath(QFileInfo(path).fileName()));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return Failure{QStringLiteral("%1: %2").arg(file.fileName(), file.errorString())};
    }
    return {};
}

} // namespace support
