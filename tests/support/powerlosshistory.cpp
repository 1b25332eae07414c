#include "powerlosshistory.h"

#include <core/contacts/contactstore.h>
#include <core/contacts/recordsource.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QDir>
#include <QRandomGenerator>

#include <random>

namespace support {

namespace {

Result<QStringList> integrityProblems(const QString &databasePath)
{
    sqlite::Connection db;
    if (!db.open(databasePath, sqlite::Connection::Mode::ReadOnly))
        return Failure{db.errorMessage()};
    sqlite::Statement check(db, QStringLiteral("PRAGMA integrity_check"));
    QStringList problems;
    sqlite::Statement::Step step;
    while ((step = check.step()) == sqlite::Statement::Step::Row)
        problems << check.columnText(0);
    if (step == sqlite::Statement::Step::Error)
        return Failure{db.errorMessage()};
    if (problems == QStringList{QStringLiteral("ok")})
        problems.clear();
    return problems;
}

QString clipped(const QString &text)
{
    return text.size() > 100 ? text.left(100) + QStringLiteral("...") : text;
}

// How state differs from expected, short enough for a failure message.
QString difference(const QStringList &state, const QStringList &expected)
{
    for (qsizetype row = 0; row < std::max(state.size(), expected.size()); ++row) {
        const QString got = row < state.size() ? state[row] : QStringLiteral("no row");
        const QString want = row < expected.size() ? expected[row] : QStringLiteral("no row");
        if (got != want)
            return QStringLiteral("%1 rows instead of %2; row %3 is %4 instead of %5")
                .arg(state.size())
                .arg(expected.size())
                .arg(row + 1)
                .arg(clipped(got), clipped(want));
    }
    return QStringLiteral("the same rows");
}

} // namespace

PowerLossHistory::PowerLossHistory(PowerLossVfs &vfs,
                                   const QString &databasePath,
                                   StateReader readState)
    : m_vfs(vfs)
    , m_databasePath(databasePath)
    , m_readState(std::move(readState))
{}

Result<void> PowerLossHistory::start()
{
    Result<QStringList> state = m_readState(m_databasePath);
    if (!state)
        return Failure{state.error()};
    m_initialState = *state;
    m_operations.clear();
    return {};
}

Result<void> PowerLossHistory::run(const QString &name,
                                   const std::function<Result<void>()> &operation)
{
    Operation done;
    done.name = name;
    done.start = m_vfs.changeCount();
    if (Result<void> result = operation(); !result)
        return Failure{QStringLiteral("%1: %2").arg(name, result.error())};
    done.end = m_vfs.changeCount();
    Result<QStringList> state = m_readState(m_databasePath);
    if (!state)
        return Failure{
            QStringLiteral("%1, reading the state after it: %2").arg(name, state.error())};
    done.stateAfter = *state;
    m_operations.push_back(std::move(done));
    return {};
}

Result<PowerLossHistory::Tally> PowerLossHistory::checkLosses(int losses,
                                                              quint64 seed,
                                                              const QString &folder,
                                                              const Reopen &reopen) const
{
    std::mt19937_64 random(seed);
    const QString recovered = QDir(folder).filePath(QFileInfo(m_databasePath).fileName());
    Tally tally;
    for (int loss = 0; loss < losses; ++loss) {
        const qint64 point = qint64(random() % quint64(m_vfs.changeCount() + 1));
        const quint64 lossSeed = random();

        // The last operation that returned before the loss, and the one it cut short.
        int returned = -1;
        while (returned + 1 < operationCount() && m_operations[size_t(returned + 1)].end <= point)
            ++returned;
        const int next = returned + 1;
        const bool during = next < operationCount() && m_operations[size_t(next)].start < point;
        const QStringList &kept
            = returned < 0 ? m_initialState : m_operations[size_t(returned)].stateAfter;

        const auto failure = [&](const QString &what) {
            const QString where
                = during ? QStringLiteral("during \"%1\"").arg(m_operations[size_t(next)].name)
                  : returned >= 0
                      ? QStringLiteral("after \"%1\"").arg(m_operations[size_t(returned)].name)
                      : QStringLiteral("before the first operation");
            return Failure{QStringLiteral("loss %1 of %2 (seed %3) at point %4 of %5, %6, "
                                          "before the %7: %8")
                               .arg(loss + 1)
                               .arg(losses)
                               .arg(seed)
                               .arg(point)
                               .arg(m_vfs.changeCount())
                               .arg(where, m_vfs.describeChange(point), what)};
        };

        if (Result<void> written = writeDisk(m_vfs.diskAfterLoss(point, lossSeed), folder);
            !written)
            return Failure{written.error()};
        if (Result<void> opened = reopen(recovered); !opened)
            return failure(QStringLiteral("the database does not open: ") + opened.error());
        Result<QStringList> problems = integrityProblems(recovered);
        if (!problems)
            return failure(QStringLiteral("integrity_check failed: ") + problems.error());
        if (!problems->isEmpty())
            return failure(QStringLiteral("integrity_check: ")
                           + problems->join(QLatin1String("; ")));
        Result<QStringList> state = m_readState(recovered);
        if (!state)
            return failure(QStringLiteral("the state cannot be read: ") + state.error());

        ++tally.losses;
        if (*state == kept) {
            if (during) {
                ++tally.duringOperation;
                if (kept != m_operations[size_t(next)].stateAfter)
                    ++tally.operationLost;
            }
            continue;
        }
        if (during && *state == m_operations[size_t(next)].stateAfter) {
            ++tally.duringOperation;
            continue;
        }
        // Naming the recorded state the database went back to says most.
        QString which;
        if (*state == m_initialState)
            which = QStringLiteral("the state before the first operation");
        for (const Operation &operation : m_operations) {
            if (*state == operation.stateAfter)
                which = QStringLiteral("the state after \"%1\"").arg(operation.name);
        }
        if (which.isEmpty())
            which = QStringLiteral("a state no operation left: ") + difference(*state, kept);
        return failure(QStringLiteral("the database holds %1").arg(which));
    }
    return tally;
}

Result<QStringList> contactRows(const QString &databasePath)
{
    sqlite::Connection db;
    if (!db.open(databasePath, sqlite::Connection::Mode::ReadOnly))
        return Failure{db.errorMessage()};
    sqlite::Statement select(db, QStringLiteral("SELECT rowid, * FROM contactsdb ORDER BY rowid"));
    if (!select.isValid())
        return Failure{db.errorMessage()};
    QStringList rows;
    sqlite::Statement::Step step;
    while ((step = select.step()) == sqlite::Statement::Step::Row) {
        QStringList values;
        for (int column = 0; column < select.columnCount(); ++column)
            values << (select.columnIsNull(column)
                           ? QStringLiteral("NULL")
                           : QLatin1Char('"') + select.columnText(column) + QLatin1Char('"'));
        rows << values.join(QLatin1Char(' '));
    }
    if (step == sqlite::Statement::Step::Error)
        return Failure{db.errorMessage()};
    return rows;
}

quint64 testSeed(const char *variable)
{
    bool given = false;
    quint64 seed = qEnvironmentVariable(variable).toULongLong(&given);
    if (!given)
        seed = QRandomGenerator::system()->generate64();
    qInfo("%s=%llu%s", variable, static_cast<unsigned long long>(seed),
          given ? " (from the environment)" : " (set it to repeat this run)");
    return seed;
}

Result<void> reopenWithStore(const QString &databasePath)
{
    ContactStore store;
    store.setDatabaseName(databasePath);
    store.setRecordSource(recordSourceForSortType(QStringLiteral("lastname")));
    return store.open();
}

} // namespace support
