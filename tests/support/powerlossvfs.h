#pragma once

#include <core/base/result.h>

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

namespace support {

// What a disk holds after a simulated power loss: the content of every file that survived,
// by the full path it had when it was recorded.
using DiskImage = std::map<QString, QByteArray>;

// A file layer for SQLite, for tests only. While installed it is SQLite's default, so every
// connection the program opens goes through it without the program knowing; it hands every
// call to the layer it replaced and records each change to a database, rollback journal or
// WAL file: writes, truncations, syncs, creations and deletions, in the order they were made.
// Syncs of recorded files are recorded only: the disk that matters is the simulated one.
//
// From that record it answers what the disk could hold had the power failed after any
// recorded change, as a disk with a write cache behaves:
// - a file's content as of its last sync survives; each change made since survives or not,
//   at random, and a write that survives may be torn at 512-byte sector boundaries;
// - a creation or deletion survives once the folder was synced: SQLite's Unix layer syncs
//   the folder at the first sync of a journal or WAL it created, and after deleting one only
//   when asked to; the changes to the folder since its last sync survive in order, up to a
//   random point, as a journalling file system keeps them.
// A file that exists when it is first opened is taken as on the disk already. Temporary
// files and the WAL's shared-memory index are not recorded: nothing reads them after a loss.
//
// One at a time; no connection may be open through it when it is uninstalled or destroyed.
class PowerLossVfs
{
public:
    PowerLossVfs();
    ~PowerLossVfs();
    PowerLossVfs(const PowerLossVfs &) = delete;
    PowerLossVfs &operator=(const PowerLossVfs &) = delete;

    // Makes this layer SQLite's default, or gives that role back to the layer it wraps.
    void install();
    void uninstall();

    // How many changes have been recorded: a point in the record. A loss at point n keeps
    // (some of) the changes before n and none from n on.
    qint64 changeCount() const;
    // The change at a point, in words, for failure messages.
    QString describeChange(qint64 point) const;
    // The files the disk holds after a loss at point, the random choices made from seed.
    DiskImage diskAfterLoss(qint64 point, quint64 seed) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes image into folder, each file under its own file name, after removing every file
// the folder holds: what the machine finds after the power came back.
Result<void> writeDisk(const DiskImage &image, const QString &folder);

} // namespace support
