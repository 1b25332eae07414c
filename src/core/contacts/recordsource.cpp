#include <core/contacts/recordsource.h>

QString recordSourceForSortType(const QString &sortType)
{
    if (sortType == QLatin1String("lastname"))
        return QStringLiteral("select * from contactsdb order by lastname asc");
    if (sortType == QLatin1String("firstname"))
        return QStringLiteral("select * from contactsdb order by firstname");
    if (sortType == QLatin1String("contactid"))
        return QStringLiteral("select * from contactsdb order by contactid");
    return QStringLiteral("select * from contactsdb order by lastname");
}
