#include "searchtarget.h"

#include <sqlite/connection.h>
#include <sqlite/statement.h>

namespace bench {

const std::array<SearchTarget, 5> &searchTargets()
{
    // "Ž" sorts after every demo last name (Łukasik is the last of them); the phone numbers
    // use an area code that demo data never draws (200-998).
    static const std::array<SearchTarget, 5> targets{{
        {ContactField::LastName, "optLast", QStringLiteral("Žukauskas-Benchmark")},
        {ContactField::FirstName, "optFirst", QStringLiteral("Benchfirst")},
        {ContactField::NickName, "optNick", QStringLiteral("Benchnick")},
        {ContactField::HomePhone, "optHome", QStringLiteral("(100) 000-0001")},
        {ContactField::WorkPhone, "optWork", QStringLiteral("(100) 000-0002")},
    }};
    return targets;
}

bool markLastRecord(const QString &databasePath, QString *error)
{
    sqlite::Connection db;
    if (!db.open(databasePath, sqlite::Connection::Mode::ReadWrite)) {
        *error = db.errorMessage();
        return false;
    }
    QString assignments;
    for (const SearchTarget &target : searchTargets()) {
        if (!assignments.isEmpty())
            assignments += QStringLiteral(", ");
        assignments += quotedColumnName(target.field) + QStringLiteral(" = ?");
    }
    sqlite::Statement update(db, QStringLiteral("UPDATE contactsdb SET %1 WHERE rowid = "
                                                "(SELECT max(rowid) FROM contactsdb)")
                                     .arg(assignments));
    int parameter = 1;
    for (const SearchTarget &target : searchTargets())
        update.bindText(parameter++, target.value);
    if (!update.isValid() || update.step() != sqlite::Statement::Step::Done) {
        *error = db.errorMessage();
        return false;
    }

    sqlite::Statement last(db, QStringLiteral("SELECT count(*) FROM (SELECT lastname FROM "
                                              "contactsdb ORDER BY lastname ASC) WHERE lastname "
                                              ">= ?"));
    last.bindText(1, searchTargets()[0].value);
    if (!last.isValid() || last.step() != sqlite::Statement::Step::Row
        || last.columnInt64(0) != 1) {
        *error = QStringLiteral("the marked record does not sort last by last name");
        return false;
    }
    return true;
}

} // namespace bench
