#include <core/interchange/importedcontact.h>

#include <algorithm>

namespace {

// Calls visit with each word of the types, a vCard's TYPE=cell,voice and a webmail's
// "Work Fax" alike.
template<typename Visit>
void forEachWord(const QStringList &types, Visit visit)
{
    for (const QString &type : types) {
        for (QStringView word : QStringView(type).tokenize(u' ', Qt::SkipEmptyParts))
            visit(word);
    }
}

bool same(QStringView word, QStringView name)
{
    return word.size() == name.size() && word.compare(name, Qt::CaseInsensitive) == 0;
}

struct PhoneKind
{
    std::optional<ContactField> field;
    bool untyped = false;
};

PhoneKind phoneKind(const QStringList &types)
{
    bool fax = false, cell = false, home = false, work = false, untypedOnly = true;
    forEachWord(types, [&](QStringView word) {
        fax = fax || same(word, u"fax");
        cell = cell || same(word, u"cell") || same(word, u"mobile");
        home = home || same(word, u"home");
        work = work || same(word, u"work");
        untypedOnly = untypedOnly
                      && (same(word, u"voice") || same(word, u"internet") || same(word, u"other")
                          || same(word, u"main") || word.startsWith(u"x-", Qt::CaseInsensitive));
    });
    PhoneKind kind;
    if (fax)
        kind.field = ContactField::Fax;
    else if (cell)
        kind.field = ContactField::Cell;
    else if (home)
        kind.field = ContactField::HomePhone;
    else if (work)
        kind.field = ContactField::WorkPhone;
    kind.untyped = !kind.field && untypedOnly;
    return kind;
}

bool namesHome(const QStringList &types)
{
    bool home = false;
    forEachWord(types, [&](QStringView word) { home = home || same(word, u"home"); });
    return home;
}

QString readable(const PostalAddress &address)
{
    QStringList parts{address.street, address.city, address.state, address.zip, address.country};
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

template<typename List>
void byPreference(List &list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const auto &a, const auto &b) { return a.preference < b.preference; });
}

} // namespace

bool isOneLineField(ContactField field)
{
    return field != ContactField::Notes;
}

QString asOneLine(const QString &text)
{
    const auto lineBreak = [](QChar c) {
        return c == u'\r' || c == u'\n';
    };
    if (std::none_of(text.cbegin(), text.cend(), lineBreak))
        return text;
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !lineBreak(text[i]))
            continue;
        const QString line = text.sliced(start, i - start).trimmed();
        if (!line.isEmpty())
            lines << line;
        if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    return lines.join(QStringLiteral(", "));
}

ImportedContactBuilder::ImportedContactBuilder(int line)
{
    m_contact.line = line;
}

void ImportedContactBuilder::setField(ContactField field, const QString &text)
{
    value(field) = isOneLineField(field) ? asOneLine(text) : text;
}

void ImportedContactBuilder::addField(ContactField field, const QString &text, const QString &label)
{
    if (text.isEmpty())
        return;
    QString &slot = value(field);
    const QString line = isOneLineField(field) ? asOneLine(text) : text;
    if (slot.isEmpty())
        slot = line;
    else if (field == ContactField::Address)
        slot += QStringLiteral(", ") + line;
    else if (field == ContactField::Notes)
        slot += QStringLiteral("\r\n\r\n") + line;
    else
        addExtra(label, text);
}

void ImportedContactBuilder::addPhone(const QStringList &types,
                                      const QString &number,
                                      int preference,
                                      const QString &label)
{
    const PhoneKind kind = phoneKind(types);
    m_phones.append({kind.field, kind.untyped, asOneLine(number), types, label, preference});
}

void ImportedContactBuilder::addPhone(ContactField field,
                                      const QString &number,
                                      const QString &label)
{
    m_phones.append({field, false, asOneLine(number), {}, label, notPreferred});
}

void ImportedContactBuilder::addEmail(const QString &address,
                                      const QString &label,
                                      int preference,
                                      bool second)
{
    m_emails.append({asOneLine(address), label, preference, second});
}

void ImportedContactBuilder::addAddress(const QStringList &types,
                                        const PostalAddress &address,
                                        const QString &label,
                                        int preference)
{
    const PostalAddress oneLine{asOneLine(address.street), asOneLine(address.city),
                                asOneLine(address.state), asOneLine(address.zip),
                                asOneLine(address.country)};
    m_addresses.append({oneLine, label, preference, namesHome(types)});
}

void ImportedContactBuilder::addExtra(const QString &label, const QString &text)
{
    const QString name = label.trimmed();
    m_contact.extras << (text.isEmpty() ? name : name + QStringLiteral(": ") + text);
}

ImportedContact ImportedContactBuilder::take()
{
    placeAddresses();
    placePhones();
    placeEmails();
    return std::move(m_contact);
}

void ImportedContactBuilder::placeAddresses()
{
    byPreference(m_addresses);
    auto chosen = std::find_if(m_addresses.cbegin(), m_addresses.cend(), [](const Address &a) {
        return a.preference < notPreferred || a.home;
    });
    if (chosen == m_addresses.cend())
        chosen = m_addresses.cbegin();
    for (auto a = m_addresses.cbegin(); a != m_addresses.cend(); ++a) {
        if (a != chosen) {
            addExtra(a->label, readable(a->address));
            continue;
        }
        value(ContactField::Address) = a->address.street;
        value(ContactField::City) = a->address.city;
        value(ContactField::State) = a->address.state;
        value(ContactField::Zip) = a->address.zip;
        value(ContactField::Country) = a->address.country;
    }
    m_addresses.clear();
}

void ImportedContactBuilder::placePhones()
{
    // Typed numbers take their fields first, so that an untyped one cannot take it from them.
    byPreference(m_phones);
    QList<const Phone *> untyped;
    for (const Phone &phone : std::as_const(m_phones)) {
        if (phone.untyped)
            untyped << &phone;
        else if (phone.field && value(*phone.field).isEmpty())
            value(*phone.field) = phone.number;
        else
            addExtra(phone.extraLabel(), phone.number);
    }
    for (const Phone *phone : std::as_const(untyped)) {
        const auto free = [&](ContactField f) {
            return value(f).isEmpty();
        };
        const ContactField order[]{ContactField::HomePhone, ContactField::WorkPhone,
                                   ContactField::Cell};
        const auto slot = std::find_if(std::begin(order), std::end(order), free);
        if (slot != std::end(order))
            value(*slot) = phone->number;
        else
            addExtra(phone->extraLabel(), phone->number);
    }
    m_phones.clear();
}

void ImportedContactBuilder::placeEmails()
{
    byPreference(m_emails);
    for (const Email &email : std::as_const(m_emails)) {
        if (email.second && value(ContactField::Email2).isEmpty())
            value(ContactField::Email2) = email.address;
        else if (value(ContactField::Email1).isEmpty())
            value(ContactField::Email1) = email.address;
        else if (value(ContactField::Email2).isEmpty())
            value(ContactField::Email2) = email.address;
        else
            addExtra(email.label, email.address);
    }
    m_emails.clear();
}
