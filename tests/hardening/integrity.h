#pragma once

#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QStringList>

// SQLite's own check of the whole file: "ok", its list of problems, or why it could not run.
// Opened for writing, as the program opens it, so a journal left by a crash is rolled back
// first.
inline QString integrity(const QString &path)
{
    sqlite::Connection db;
    if (!db.open(path, sqlite::Connection::Mode::ReadWrite))
        return QStringLiteral("cannot open: ") + db.errorMessage();
    sqlite::Statement check(db, QStringLiteral("PRAGMA integrity_check"));
    QStringList lines;
    sqlite::Statement::Step step;
    while ((step = check.step()) == sqlite::Statement::Step::Row)
        lines << check.columnText(0);
    if (step == sqlite::Statement::Step::Error)
        lines << QStringLiteral("cannot check: ") + db.errorMessage();
    return lines.join(QLatin1Char('\n'));
}
