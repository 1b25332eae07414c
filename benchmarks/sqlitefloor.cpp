#include "sqlitefloor.h"

#include "samples.h"

#include <sqlite3.h>

#include <cstdio>
#include <deque>
#include <string>

namespace bench {

double readStatementInFull(const QString &databasePath, const QString &sql, int *rowsRead)
{
    QElapsedTimer timer;
    timer.start();
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        != SQLITE_OK) {
        std::fprintf(stderr, "floor: %s: %s\n", qPrintable(databasePath), sqlite3_errmsg(db));
        sqlite3_close(db);
        return -1;
    }
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "floor: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return -1;
    }
    const int columns = sqlite3_column_count(statement);
    // One string per value, as a program that keeps the rows must at least do. A deque
    // grows without moving what it holds, so the floor pays for no reallocation.
    std::deque<std::string> values;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        for (int column = 0; column < columns; ++column) {
            const auto *text
                = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
            values.emplace_back(text ? text : "", size_t(sqlite3_column_bytes(statement, column)));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (rc != SQLITE_DONE) {
        std::fprintf(stderr, "floor: reading stopped with SQLite code %d\n", rc);
        return -1;
    }
    const double ms = elapsedMs(timer);
    if (rowsRead)
        *rowsRead = columns ? int(values.size() / size_t(columns)) : 0;
    return ms;
}

} // namespace bench
