#include <core/sync/cardpatch.h>

#include <core/interchange/vcard.h>
#include <core/interchange/vcardsyntax.h>

#include <QBuffer>

#include <functional>
#include <optional>

namespace carddav {

namespace {

using interchange::sameText;

// One property of the card being patched, as it stands, and what becomes of it.
struct CardLine
{
    interchange::ContentLine text;
    bool removed = false;
    std::optional<QByteArray> replacement;

    bool is(const char *name) const { return sameText(text.name, name); }
};

QByteArray escaped(const QString &text)
{
    return interchange::escapeText(text).toUtf8();
}

QString unescaped(QByteArrayView value)
{
    return interchange::unescapeText(QString::fromUtf8(value));
}

QList<QByteArray> splitEscaped(QByteArrayView value, char separator)
{
    QList<QByteArray> parts;
    for (QByteArrayView part : interchange::splitEscaped(value, separator))
        parts << part.toByteArray();
    return parts;
}

// The head of a rewritten property: its group, name and parameters, without those that
// describe the old value's encoding.
QByteArray headOf(const interchange::ContentLine &line, bool version4)
{
    QByteArray head = line.group.isEmpty() ? line.name : line.group + '.' + line.name;
    interchange::forEachParameter(line.parameters, [&](const interchange::Parameter &parameter) {
        const bool encoding
            = sameText(parameter.name, "ENCODING") || sameText(parameter.name, "CHARSET")
              || sameText(parameter.name, "VALUE")
              || (parameter.name.isEmpty() && sameText(parameter.value, "QUOTED-PRINTABLE"));
        if (!encoding)
            head += ';' + parameter.text.toByteArray();
    });
    if (version4 && sameText(line.name, "TEL"))
        head += ";VALUE=text";
    return head;
}

// The end of the card's first line, for the lines the patch writes.
QByteArray lineEndOf(const QByteArray &card)
{
    const std::optional<interchange::LineEnd> end = interchange::findLineEnd(card, 0, true);
    return end ? card.mid(end->at, end->length) : QByteArray("\r\n");
}

Result<CardContent> readWith(const QByteArray &card, const QString &where)
{
    QBuffer buffer;
    buffer.setData(card);
    buffer.open(QIODevice::ReadOnly);
    std::optional<ImportedContact> contact;
    QString skipped;
    const Result<void> read = interchange::readVCards(
        buffer, where,
        [&](ImportedContact &&c) {
            if (!contact)
                contact = std::move(c);
        },
        [&](SkippedEntry &&skip) { skipped = skip.reason; });
    if (!read)
        return read.failure();
    if (!contact)
        return Failure::input(
            QStringLiteral("%1: the card cannot be read: %2").arg(where, skipped));
    CardContent content;
    content.values = contact->values;
    content.values[fieldIndex(ContactField::ContactId)].clear();
    return content;
}

// What one property alone reads as.
ContactValues readAlone(const CardLine &line, const QByteArray &version)
{
    const QByteArray &raw = line.text.raw;
    const bool ended = raw.endsWith('\n') || raw.endsWith('\r');
    const QByteArray card = "BEGIN:VCARD\r\nVERSION:" + version + "\r\n" + raw
                            + (ended ? "" : "\r\n") + "END:VCARD\r\n";
    const Result<CardContent> read = readWith(card, QString());
    return read ? read->values : ContactValues{};
}

QString formattedName(const ContactValues &values)
{
    QStringList names{values[fieldIndex(ContactField::FirstName)],
                      values[fieldIndex(ContactField::Middle)],
                      values[fieldIndex(ContactField::LastName)]};
    names.removeAll(QString());
    QString name = names.join(u' ');
    for (ContactField fallback :
         {ContactField::NickName, ContactField::Email1, ContactField::Email2}) {
        if (name.isEmpty())
            name = values[fieldIndex(fallback)];
    }
    return name;
}

bool isWordCharacter(const QString &text, qsizetype at)
{
    return at >= 0 && at < text.size() && text.at(at).isLetterOrNumber();
}

// The server's formatted name with the changed names put in where they stood as whole words
// ("Dr. Al Dunn" becomes "Dr. Al Dunne"); none where a name is added, cleared or not found.
std::optional<QString>
renamed(QString formatted, const ContactValues &now, const ContactValues &wanted)
{
    for (ContactField field :
         {ContactField::FirstName, ContactField::Middle, ContactField::LastName}) {
        const QString &before = now[fieldIndex(field)];
        const QString &after = wanted[fieldIndex(field)];
        if (before == after)
            continue;
        if (before.isEmpty() || after.isEmpty())
            return std::nullopt;
        qsizetype at = -1;
        for (qsizetype from = 0; (at = formatted.indexOf(before, from)) >= 0; from = at + 1) {
            if (!isWordCharacter(formatted, at - 1)
                && !isWordCharacter(formatted, at + before.size()))
                break;
        }
        if (at < 0)
            return std::nullopt;
        formatted.replace(at, before.size(), after);
    }
    return formatted;
}

class CardPatcher
{
public:
    CardPatcher(const QByteArray &card, const ContactValues &now, const ContactValues &wanted)
        : m_now(now)
        , m_wanted(wanted)
        , m_eol(lineEndOf(card))
    {
        for (interchange::ContentLine &line : interchange::splitContentLines(card)) {
            if (sameText(line.name, "VERSION"))
                m_version = line.value.trimmed();
            m_lines.append({std::move(line), false, std::nullopt});
        }
    }

    QByteArray patched();

private:
    bool version4() const { return m_version == "4.0"; }
    bool changed(ContactField field) const
    {
        return m_now[fieldIndex(field)] != m_wanted[fieldIndex(field)];
    }
    QString wanted(ContactField field) const { return m_wanted[fieldIndex(field)]; }
    CardLine *find(const char *name, const std::function<bool(const ContactValues &)> &gives);
    void add(const QByteArray &line) { interchange::appendFolded(m_added, line, m_eol); }
    void replace(CardLine &line, const QByteArray &value)
    {
        QByteArray folded;
        interchange::appendFolded(folded, headOf(line.text, version4()) + ':' + value, m_eol);
        line.replacement = folded;
    }
    void patchNames();
    void patchNickName();
    void patchAddress();
    void patchSingle(ContactField field, const char *name, const QByteArray &newHead);
    void patchNotes();

    QList<CardLine> m_lines;
    ContactValues m_now;
    ContactValues m_wanted;
    QByteArray m_eol;
    QByteArray m_version = "3.0";
    QByteArray m_added; // new properties, each folded and ended
};

CardLine *CardPatcher::find(const char *name,
                            const std::function<bool(const ContactValues &)> &gives)
{
    for (CardLine &line : m_lines) {
        if (line.is(name) && !line.removed && !line.replacement
            && gives(readAlone(line, m_version)))
            return &line;
    }
    return nullptr;
}

void CardPatcher::patchNames()
{
    const QList<ContactField> names{ContactField::LastName, ContactField::FirstName,
                                    ContactField::Middle};
    if (std::none_of(names.begin(), names.end(), [&](ContactField f) { return changed(f); }))
        return;
    bool sawN = false;
    CardLine *formatted = nullptr;
    // Honorific prefix and suffix, from N, for a formatted name made anew.
    QStringList around{QString(), QString()};
    for (CardLine &line : m_lines) {
        if (line.is("N") && !sawN) {
            sawN = true;
            QList<QByteArray> parts = splitEscaped(line.text.value, ';');
            while (parts.size() < 5)
                parts.append(QByteArray());
            around = {unescaped(parts.at(3)), unescaped(parts.at(4))};
            for (int i = 0; i < 3; ++i)
                parts[i] = escaped(wanted(names.at(i)));
            replace(line, parts.join(';'));
        } else if (line.is("FN") && !formatted) {
            formatted = &line;
        }
    }
    std::optional<QString> name
        = formatted ? renamed(unescaped(formatted->text.value), m_now, m_wanted) : std::nullopt;
    if (!name) {
        name = formattedName(m_wanted);
        if (std::any_of(names.begin(), names.end(),
                        [&](ContactField f) { return !wanted(f).isEmpty(); })) {
            QStringList parts{around.at(0), *name, around.at(1)};
            parts.removeAll(QString());
            name = parts.join(u' ');
        }
    }
    if (formatted)
        replace(*formatted, escaped(*name));
    else
        add("FN:" + escaped(*name));
    if (!sawN)
        add("N:" + escaped(wanted(ContactField::LastName)) + ';'
            + escaped(wanted(ContactField::FirstName)) + ';' + escaped(wanted(ContactField::Middle))
            + ";;");
}

void CardPatcher::patchNickName()
{
    if (!changed(ContactField::NickName))
        return;
    const QString old = m_now[fieldIndex(ContactField::NickName)];
    CardLine *line = old.isEmpty() ? nullptr : find("NICKNAME", [&](const ContactValues &v) {
        return v[fieldIndex(ContactField::NickName)] == old;
    });
    const QByteArray value = escaped(wanted(ContactField::NickName));
    if (!line) {
        add("NICKNAME:" + value);
        return;
    }
    QList<QByteArray> nicks = splitEscaped(line->text.value, ',');
    if (value.isEmpty())
        nicks.removeFirst();
    else
        nicks.first() = value;
    if (nicks.isEmpty())
        line->removed = true;
    else
        replace(*line, nicks.join(','));
}

void CardPatcher::patchAddress()
{
    const QList<ContactField> parts{ContactField::Address, ContactField::City, ContactField::State,
                                    ContactField::Zip, ContactField::Country};
    if (std::none_of(parts.begin(), parts.end(), [&](ContactField f) { return changed(f); }))
        return;
    const auto empty = [&](const ContactValues &v) {
        return std::all_of(parts.begin(), parts.end(),
                           [&](ContactField f) { return v[fieldIndex(f)].isEmpty(); });
    };
    CardLine *line = empty(m_now) ? nullptr : find("ADR", [&](const ContactValues &v) {
        return std::all_of(parts.begin(), parts.end(), [&](ContactField f) {
            return v[fieldIndex(f)] == m_now[fieldIndex(f)];
        });
    });
    QList<QByteArray> components = line ? splitEscaped(line->text.value, ';') : QList<QByteArray>();
    while (components.size() < 7)
        components.append(QByteArray());
    for (int i = 0; i < parts.size(); ++i)
        components[i + 2] = escaped(wanted(parts.at(i)));
    if (!line)
        add(interchange::addressHead(version4()) + ':' + components.join(';'));
    else if (empty(m_wanted))
        line->removed = true;
    else
        replace(*line, components.join(';'));
}

void CardPatcher::patchSingle(ContactField field, const char *name, const QByteArray &newHead)
{
    if (!changed(field))
        return;
    const QString old = m_now[fieldIndex(field)];
    // The property that gave the field: the one that alone reads as the old value, in
    // whichever slot the reader puts it.
    CardLine *line = old.isEmpty() ? nullptr : find(name, [&](const ContactValues &v) {
        return std::any_of(v.begin() + 1, v.end(), [&](const QString &s) { return s == old; });
    });
    const QByteArray value = escaped(wanted(field));
    if (!line) {
        if (!value.isEmpty())
            add(newHead + ':' + value);
    } else if (value.isEmpty()) {
        line->removed = true;
    } else {
        replace(*line, value);
    }
}

void CardPatcher::patchNotes()
{
    if (!changed(ContactField::Notes))
        return;
    bool first = true;
    for (CardLine &line : m_lines) {
        if (!line.is("NOTE"))
            continue;
        if (first && !wanted(ContactField::Notes).isEmpty())
            replace(line, escaped(wanted(ContactField::Notes)));
        else
            line.removed = true;
        first = false;
    }
    if (first && !wanted(ContactField::Notes).isEmpty())
        add("NOTE:" + escaped(wanted(ContactField::Notes)));
}

QByteArray CardPatcher::patched()
{
    patchNames();
    patchNickName();
    patchAddress();
    for (ContactField field :
         {ContactField::HomePhone, ContactField::WorkPhone, ContactField::Cell, ContactField::Fax})
        patchSingle(field, "TEL", interchange::phoneHead(field, version4()));
    patchSingle(ContactField::Email1, "EMAIL", interchange::emailHead(false, version4()));
    patchSingle(ContactField::Email2, "EMAIL",
                interchange::emailHead(wanted(ContactField::Email1).isEmpty(), version4()));
    patchNotes();

    QByteArray out;
    for (const CardLine &line : std::as_const(m_lines)) {
        // New properties go just before END:VCARD.
        if (line.is("END") && sameText(line.text.value.trimmed(), "VCARD")) {
            out += m_added;
            m_added.clear();
        }
        if (!line.removed)
            out += line.replacement ? *line.replacement : line.text.raw;
    }
    return out;
}

} // namespace

Result<CardContent> readCard(const QByteArray &card, const QString &where)
{
    Result<CardContent> read = readWith(card, where);
    if (!read)
        return read;
    CardContent content = *read;
    for (const interchange::ContentLine &line : interchange::splitContentLines(card)) {
        if (sameText(line.name, "UID")) {
            content.uid = QString::fromUtf8(line.value.trimmed());
            break;
        }
    }
    return content;
}

Result<PatchedCard> patchCard(const QByteArray &card, const ContactValues &wanted)
{
    const Result<CardContent> now = readWith(card, QStringLiteral("the server's card"));
    if (!now)
        return now.failure();
    ContactValues target = wanted;
    target[fieldIndex(ContactField::ContactId)].clear();
    CardPatcher patcher(card, now->values, target);
    PatchedCard patched{patcher.patched(), {}};
    const Result<CardContent> back = readWith(patched.card, QStringLiteral("the changed card"));
    if (!back)
        return back.failure();
    patched.values = back->values;
    // Every wanted value must be there, in its field or, for a card's list of e-mails or of
    // numbers, in another of the same list.
    const auto list = [](int field) {
        const ContactField f = fieldAt(field);
        if (f == ContactField::Email1 || f == ContactField::Email2)
            return 1;
        return f >= ContactField::HomePhone && f <= ContactField::Fax ? 2 : 0;
    };
    ContactValues unclaimed = back->values;
    QStringList missing;
    for (int i = 1; i < contactFieldCount; ++i) {
        if (target[i].isEmpty())
            continue;
        int found = unclaimed[i] == target[i] ? i : -1;
        for (int j = 1; found < 0 && list(i) != 0 && j < contactFieldCount; ++j) {
            if (list(j) == list(i) && unclaimed[j] == target[i])
                found = j;
        }
        if (found < 0)
            missing << fieldCaption(fieldAt(i));
        else
            unclaimed[found].clear();
    }
    if (!missing.isEmpty())
        return Failure::input(QStringLiteral("The server's card cannot take the change of %1 "
                                             "without touching other properties.")
                                  .arg(missing.join(QStringLiteral(", "))));
    return patched;
}

QByteArray newCard(const ContactValues &values, const QString &uid)
{
    ContactValues sent = values;
    sent[fieldIndex(ContactField::ContactId)].clear();
    QByteArray card = interchange::writeVCard(sent, interchange::VCardVersion::V3);
    const QByteArray version = "VERSION:3.0\r\n";
    card.insert(card.indexOf(version) + version.size(), "UID:" + uid.toUtf8() + "\r\n");
    return card;
}

} // namespace carddav
