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

QString checkContactTable(sqlite::Connection &connection)
{
    // An empty answer means "usable", so a failure always carries words.
    const auto unreadable = [&connection] {
        const QString reason = connection.errorMessage();
        return reason.isEmpty() ? QStringLiteral("The table \"contactsdb\" could not be read.")
                                : reason;
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
        return QStringLiteral("The database has no table \"contactsdb\".");
    for (int i = 0; i < contactFieldCount; ++i) {
        const QString name = columnName(fieldAt(i));
        if (!columns.contains(name, Qt::CaseInsensitive))
            return QStringLiteral("The table \"contactsdb\" has no field \"%1\".").arg(name);
    }
    return {};
}

bool createDatabase(const QString &path, QString *error)
{
    if (QFileInfo::exists(path)) {
        *error = QStringLiteral("%1 already exists").arg(path);
        return false;
    }
    sqlite::Connection db;
    if (!db.open(path, sqlite::Connection::Mode::ReadWriteCreate)
        || !db.exec(createTableStatement())) {
        *error = QStringLiteral("%1: %2").arg(path, db.errorMessage());
        return false;
    }
    return true;
}

bool insertContacts(const QString &path, const QList<ContactValues> &contacts, QString *error)
{
    sqlite::Connection db;
    if (!db.open(path, sqlite::Connection::Mode::ReadWrite)) {
        *error = QStringLiteral("%1: %2").arg(path, db.errorMessage());
        return false;
    }
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
        for (int i = 0; i < contactFieldCount; ++i)
            insert.bindText(i + 1, contact[i]);
        ok = insert.step() == sqlite::Statement::Step::Done && insert.reset();
    }
    if (ok)
        ok = transaction.commit();
    if (!ok)
        *error = QStringLiteral("%1: %2").arg(path, db.errorMessage());
    return ok;
}

} // namespace cntdb
