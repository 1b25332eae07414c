#pragma once

#include <core/base/result.h>

#include <QList>
#include <QString>
#include <QStringList>

namespace reportengine {

// The rows of a report's data source, copied out of the database as text.
struct ReportData
{
    QStringList columns;
    QList<QStringList> rows;

    // The index of a column by name (SQL names ignore case), or -1.
    int columnIndex(const QString &name) const;
};

// Opens the database read-only (never creating it), runs the SELECT inside one short read
// transaction, copies every row out and closes the connection before returning, so a
// report never holds a lock while it is being viewed. A failure names the database file
// (followed by namedBy, which may say where that name came from) and SQLite's reason.
Result<ReportData> readReportData(const QString &databasePath,
                                  const QString &query,
                                  const QString &namedBy = QString());

} // namespace reportengine
