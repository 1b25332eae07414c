#include <report/reportdata.h>

#include <core/text/collation.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <QFileInfo>

#include <memory>

namespace reportengine {

int ReportData::columnIndex(const QString &name) const
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

Result<ReportData>
readReportData(const QString &databasePath, const QString &query, const QString &namedBy)
{
    auto failed = [&](const QString &reason) {
        return Failure::database(QStringLiteral("The data source \"%1\"%2 cannot be read: %3.")
                                     .arg(databasePath, namedBy, reason));
    };
    // SQLite would report a missing file only as "unable to open database file".
    if (!QFileInfo::exists(databasePath))
        return failed(QStringLiteral("the file does not exist"));

    sqlite::Connection connection;
    if (!connection.open(databasePath, sqlite::Connection::Mode::ReadOnly))
        return failed(connection.errorMessage());
    // The main window may be committing; wait for it rather than fail at once.
    connection.setBusyTimeout(5000);
    // Names are ordered as the main window lists them, by the user's language: the query's
    // ORDER BY over the table's NOCASE fields takes the locale's order on this read-only
    // connection, while the file keeps its schema for every other tool.
    const auto collator = std::make_shared<NameCollator>();
    if (!connection.createCollation(
            QStringLiteral("NOCASE"), [collator](QByteArrayView a, QByteArrayView b) {
                return collator->compare(QString::fromUtf8(a), QString::fromUtf8(b));
            }))
        return failed(connection.errorMessage());

    ReportData result;
    {
        sqlite::Transaction transaction(connection, sqlite::Transaction::Kind::Deferred);
        if (!transaction.isActive())
            return failed(connection.errorMessage());
        sqlite::Statement statement(connection, query);
        if (!statement.isValid())
            return failed(connection.errorMessage());
        const int count = statement.columnCount();
        for (int c = 0; c < count; ++c)
            result.columns.append(statement.columnName(c));
        for (;;) {
            const sqlite::Statement::Step step = statement.step();
            if (step == sqlite::Statement::Step::Done)
                break;
            if (step == sqlite::Statement::Step::Error)
                return failed(connection.errorMessage());
            QStringList row;
            row.reserve(count);
            for (int c = 0; c < count; ++c)
                row.append(statement.columnText(c));
            result.rows.append(std::move(row));
        }
        statement = sqlite::Statement();
        if (!transaction.commit())
            return failed(connection.errorMessage());
    }
    connection.close();
    return result;
}

} // namespace reportengine
