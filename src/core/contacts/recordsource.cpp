#include <core/contacts/recordsource.h>

#include <QRegularExpression>

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

std::optional<ContactField> nameOrderOf(const QString &statement)
{
    static const QRegularExpression orderBy(
        QStringLiteral("\\border\\s+by\\s+(\\w+)(\\s+asc)?\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = orderBy.match(statement);
    if (!match.hasMatch())
        return std::nullopt;
    for (ContactField field : {ContactField::LastName, ContactField::FirstName}) {
        if (match.captured(1).compare(columnName(field), Qt::CaseInsensitive) == 0)
            return field;
    }
    return std::nullopt;
}
