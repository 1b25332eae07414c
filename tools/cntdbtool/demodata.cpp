#include "demodata.h"

#include <QRandomGenerator>
#include <QStringList>

namespace cntdb {

namespace {

const QStringList lastNames = {
    QStringLiteral("Smith"),     QStringLiteral("Müller"),    QStringLiteral("García"),
    QStringLiteral("O'Brien"),   QStringLiteral("Nguyen"),    QStringLiteral("Kowalski"),
    QStringLiteral("Johansson"), QStringLiteral("Dubois"),    QStringLiteral("Rossi"),
    QStringLiteral("Novák"),     QStringLiteral("Andersen"),  QStringLiteral("Brown"),
    QStringLiteral("Łukasik"),   QStringLiteral("Fernández"), QStringLiteral("Yılmaz"),
    QStringLiteral("Schröder"),  QStringLiteral("Walker"),    QStringLiteral("Papadopoulos"),
    QStringLiteral("Ødegaard"),  QStringLiteral("Taylor"),    QStringLiteral("Martin"),
    QStringLiteral("Nakamura"),  QStringLiteral("Clark"),     QStringLiteral("Lefèvre"),
    QStringLiteral("Evans"),     QStringLiteral("Ćosić"),     QStringLiteral("Hughes"),
    QStringLiteral("van Dijk"),  QStringLiteral("Moreau"),    QStringLiteral("Wright"),
};

const QStringList firstNames = {
    QStringLiteral("Ann"),     QStringLiteral("José"),   QStringLiteral("Zoë"),
    QStringLiteral("Peter"),   QStringLiteral("Mary"),   QStringLiteral("Björn"),
    QStringLiteral("Chloé"),   QStringLiteral("David"),  QStringLiteral("Ingrid"),
    QStringLiteral("Luis"),    QStringLiteral("Sarah"),  QStringLiteral("Tomás"),
    QStringLiteral("Emma"),    QStringLiteral("Noah"),   QStringLiteral("Agnès"),
    QStringLiteral("Michael"), QStringLiteral("Jürgen"), QStringLiteral("Olivia"),
    QStringLiteral("Raúl"),    QStringLiteral("Hannah"), QStringLiteral("Søren"),
    QStringLiteral("Grace"),   QStringLiteral("Kenji"),  QStringLiteral("Élodie"),
};

const QStringList nickNames
    = {QStringLiteral("Annie"), QStringLiteral("Pete"), QStringLiteral("Bee"),
       QStringLiteral("Doc"),   QStringLiteral("Max"),  QStringLiteral("Sunny")};

const QStringList streets
    = {QStringLiteral("Main Street"), QStringLiteral("Oak Avenue"),  QStringLiteral("Rue de Lyon"),
       QStringLiteral("Hauptstraße"), QStringLiteral("Calle Mayor"), QStringLiteral("High Street"),
       QStringLiteral("Birch Lane"),  QStringLiteral("Harbour Road")};

struct Place
{
    const char *city;
    const char *state;
    const char *country;
};

const Place places[] = {
    {"Springfield", "IL", "USA"},        {"Portland", "OR", "USA"},
    {"München", "Bayern", "Germany"},    {"Sevilla", "Andalucía", "Spain"},
    {"Kraków", "Małopolskie", "Poland"}, {"Lyon", "Rhône", "France"},
    {"Toronto", "ON", "Canada"},         {"Bergen", "Vestland", "Norway"},
};

QString phone(QRandomGenerator &random)
{
    return QStringLiteral("(%1) %2-%3")
        .arg(random.bounded(200, 999))
        .arg(random.bounded(200, 999))
        .arg(random.bounded(0, 9999), 4, 10, QLatin1Char('0'));
}

QString mailName(const QString &name)
{
    QString ascii;
    for (const QChar c : name.normalized(QString::NormalizationForm_D)) {
        if (c.isLetter() && c.unicode() < 128)
            ascii += c.toLower();
    }
    return ascii.isEmpty() ? QStringLiteral("contact") : ascii;
}

} // namespace

QList<ContactValues> demoContacts(int count, quint32 seed, int firstId)
{
    QRandomGenerator random(seed);
    QList<ContactValues> contacts;
    contacts.reserve(count);
    for (int i = 0; i < count; ++i) {
        ContactValues c;
        const QString last = lastNames[random.bounded(int(lastNames.size()))];
        const QString first = firstNames[random.bounded(int(firstNames.size()))];
        const Place &place = places[random.bounded(int(std::size(places)))];
        c[fieldIndex(ContactField::ContactId)] = QString::number(firstId + i);
        c[fieldIndex(ContactField::LastName)] = last;
        c[fieldIndex(ContactField::FirstName)] = first;
        c[fieldIndex(ContactField::Middle)]
            = random.bounded(3) == 0 ? QString(QChar(u'A' + random.bounded(26))) : QString();
        c[fieldIndex(ContactField::NickName)]
            = random.bounded(4) == 0 ? nickNames[random.bounded(int(nickNames.size()))] : QString();
        c[fieldIndex(ContactField::Address)]
            = QStringLiteral("%1 %2")
                  .arg(random.bounded(1, 999))
                  .arg(streets[random.bounded(int(streets.size()))]);
        c[fieldIndex(ContactField::State)] = QString::fromUtf8(place.state);
        c[fieldIndex(ContactField::City)] = QString::fromUtf8(place.city);
        c[fieldIndex(ContactField::Zip)] = QString::number(random.bounded(10000, 99999));
        c[fieldIndex(ContactField::Country)] = QString::fromUtf8(place.country);
        c[fieldIndex(ContactField::HomePhone)] = phone(random);
        c[fieldIndex(ContactField::WorkPhone)] = random.bounded(3) ? phone(random) : QString();
        c[fieldIndex(ContactField::Cell)] = random.bounded(2) ? phone(random) : QString();
        c[fieldIndex(ContactField::Fax)] = random.bounded(5) == 0 ? phone(random) : QString();
        const QString mail = mailName(first) + QLatin1Char('.') + mailName(last);
        c[fieldIndex(ContactField::Email1)] = mail + QStringLiteral("@example.com");
        c[fieldIndex(ContactField::Email2)]
            = random.bounded(3) == 0 ? mail + QStringLiteral("@mail.example.org") : QString();
        c[fieldIndex(ContactField::Notes)]
            = random.bounded(2) ? QStringLiteral("Met at the %1 conference.\r\nPrefers e-mail.")
                                      .arg(2000 + random.bounded(26))
                                : QString();
        contacts.append(c);
    }
    return contacts;
}

} // namespace cntdb
