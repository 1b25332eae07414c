#include <core/contacts/contactdatabase.h>

#include <sqlite/connection.h>
#include <sqlite/statement.h>
#include <sqlite/transaction.h>

#include <QFileInfo>
#include <QStringList>

namespace cntdb {

QString createTableStatement()
{
    QStringList columns;
    for (int i = 0; i < contactFieldCount; ++i) {
        const ContactField field = fieldAt(i);
        columns << quotedColumnName(field)
                       + (field == ContactField::ContactId
                              ? QStringLiteral(" INTEGER")
                              : QStringLiteral(" TEXT COLLATE NOCASE"));
    }
    return QStringLiteral("CREATE TABLE contactsdb (") + columns.join(QStringLiteral(", "))
           + QLatin1Char(')');
}

Result<void> checkContactTable(sqlite::Connection &connection)
{
    const auto unreadable = [&connection] {
        const QString reason = connection.errorMessage();
        return Failure{reason.isEmpty()
                           ? QStringLiteral("The table \"contactsdb\" could not be read.")
                           : reason};
    };
    sqlite::Statement info(connection, QStringLiteral("PRAGMA table_info(contactsdb)"));
    if (!info.isValid())
        return unreadable();
    QStringList columns;
    sqlite::Statement::Step step;
    while ((step = info.step()) == sqlite::Statement::Step::Row)
        columns << info.columnText(1);
    if (step == sqlite::Statement::Step::Error)
        return unreadable();
    if (columns.isEmpty())
        return Failure{QStringLiteral("The database has no table \"contactsdb\".")};
    for (int i = 0; i < contactFieldCount; ++i) {
        const QString name = columnName(fieldAt(i));
        if (!columns.contains(name, Qt::CaseInsensitive))
            return Failure{
                QStringLiteral("The table \"contactsdb\" has no field \"%1\".").arg(name)};
    }
    return {};
}

QString durableCommitsStatement()
{
    return QStringLiteral("PRAGMA synchronous=EXTRA");
}

Result<void> createDatabase(const QString &path)
{
    if (QFileInfo::exists(path))
        return Failure{QStringLiteral("%1 already exists").arg(path)};
    sqlite::Connection db;
    if (!db.open(path, sqlite::Connection::Mode::ReadWriteCreate)
        || !db.exec(createTableStatement()))
        return Failure{QStringLiteral("%1: %2").arg(path, db.errorMessage())};
    return {};
}

Result<void> insertContacts(const QString &path, const QList<ContactValues> &contacts)
{
    sqlite::Connection db;
    if (!db.open(path, sqlite::Connection::Mode::ReadWrite))
        return Failure{QStringLiteral("%1: %2").arg(path, db.errorMessage())};
    sqlite::Transaction transaction(db, sqlite::Transaction::Kind::Immediate);
    QStringList placeholders;
    for (int i = 0; i < contactFieldCount; ++i)
        placeholders << QStringLiteral("?");
    sqlite::Statement insert(db, QStringLiteral("INSERT INTO contactsdb VALUES (%1)")
                                     .arg(placeholders.join(QLatin1Char(','))));
    bool ok = transaction.isActive() && insert.isValid();
    for (const ContactValues &contact : contacts) {
        if (!ok)
            break;
        for (int i = 0; i < contactFieldCount && ok; ++i)
            ok = insert.bindText(i + 1, contact[i]);
        ok = ok && insert.step() == sqlite::Statement::Step::Done && insert.reset();
    }
    if (ok)
        ok = transaction.commit();
    if (!ok)
        return Failure{QStringLiteral("%1: %2").arg(path, db.errorMessage())};
    return {};
}

} // namespace cntdb
