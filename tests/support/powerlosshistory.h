#pragma once

#include <core/base/result.h>
#include <support/powerlossvfs.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace support {

// Operations on a database run through a PowerLossVfs, each with the database's state after
// it, and the check that a power loss anywhere among them leaves one of the states they
// allow: the state after the last operation that returned success, or, when the power failed
// during the next one, the state after that one. Nothing in between, nothing older.
//
// A state is whatever readState answers for a database file, compared whole; the contact
// tables' rows for the store and the imports, more for a caller that keeps more.
class PowerLossHistory
{
public:
    using StateReader = std::function<Result<QStringList>(const QString &databasePath)>;
    // Opens a recovered database as the program would, with SQLite's normal file layer;
    // this is where a hot journal is rolled back.
    using Reopen = std::function<Result<void>(const QString &databasePath)>;

    PowerLossHistory(PowerLossVfs &vfs, const QString &databasePath, StateReader readState);

    // Records the state before the first operation.
    Result<void> start();
    // Runs an operation that must succeed and records its span and the state after it.
    Result<void> run(const QString &name, const std::function<Result<void>()> &operation);
    int operationCount() const { return int(m_operations.size()); }

    struct Tally
    {
        int losses = 0;
        int duringOperation = 0; // of those, how many cut an operation short
        int operationLost = 0;   // of those, how many left the state before it
    };
    // Simulates losses at random points of the record, the random choices made from seed.
    // For each, the disk is written to folder (its files removed first), reopened, checked
    // with integrity_check and its state compared with those allowed. The VFS must be
    // uninstalled. Fails at the first loss that breaks a promise, saying which and where.
    Result<Tally>
    checkLosses(int losses, quint64 seed, const QString &folder, const Reopen &reopen) const;

private:
    struct Operation
    {
        QString name;
        qint64 start = 0;
        qint64 end = 0;
        QStringList stateAfter;
    };

    PowerLossVfs &m_vfs;
    QString m_databasePath;
    StateReader m_readState;
    QStringList m_initialState;
    std::vector<Operation> m_operations;
};

// The program reopening a database after the power came back: the contact store opened on
// it, which rolls a hot journal back. A Reopen for checkLosses.
Result<void> reopenWithStore(const QString &databasePath);

// The rows of contactsdb with their rowids, one text per row, in rowid order.
Result<QStringList> contactRows(const QString &databasePath);

// The seed for a randomised test: the environment variable's value when it is set, so a
// failing run can be repeated, or else a fresh one. Printed either way.
quint64 testSeed(const char *variable);

} // namespace support
