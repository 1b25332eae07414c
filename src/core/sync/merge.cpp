#include <core/sync/merge.h>

#include <core/interchange/vcard.h>

#include <QBuffer>

#include <optional>

namespace carddav {

MergeResult
mergeThreeWay(const ContactValues &base, const ContactValues &local, const ContactValues &server)
{
    MergeResult result;
    result.merged = local;
    for (int i = 0; i < contactFieldCount; ++i) {
        if (fieldAt(i) == ContactField::ContactId || local[i] == server[i] || server[i] == base[i])
            continue;
        if (local[i] == base[i])
            result.merged[i] = server[i];
        else
            result.conflicts.append({fieldAt(i), local[i], server[i]});
    }
    return result;
}

namespace {

// One property of a card as it lies in the text: its lines with their endings, and the
// unfolded parts for finding it.
struct CardLine
{
    QByteArray raw;
    QByteArray group; // "item1." or empty
    QByteArray name;  // upper case
    QList<QByteArray> params;
    QByteArray value;
    bool removed = false;
    std::optional<QByteArray> replacement;
};

QList<CardLine> splitCard(const QByteArray &card)
{
    QList<CardLine> lines;
    qsizetype at = 0;
    QList<QByteArray> unfolded;
    while (at < card.size()) {
        qsizetype end = card.indexOf('\n', at);
        end = end < 0 ? card.size() : end + 1;
        const QByteArray physical = card.mid(at, end - at);
        at = end;
        QByteArray text = physical;
        while (text.endsWith('\n') || text.endsWith('\r'))
            text.chop(1);
        if (!lines.isEmpty() && (physical.startsWith(' ') || physical.startsWith('\t'))) {
            lines.last().raw += physical;
            unfolded.last() += text.mid(1);
            continue;
        }
        lines.append({physical, {}, {}, {}, {}, false, std::nullopt});
        unfolded.append(text);
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &text = unfolded.at(i);
        bool quoted = false;
        qsizetype colon = -1;
        for (qsizetype j = 0; j < text.size() && colon < 0; ++j) {
            if (text.at(j) == '"')
                quoted = !quoted;
            else if (text.at(j) == ':' && !quoted)
                colon = j;
        }
        if (colon < 0)
            continue;
        QList<QByteArray> head = text.left(colon).split(';');
        QByteArray name = head.takeFirst();
        const qsizetype dot = name.lastIndexOf('.');
        lines[i].group = dot >= 0 ? name.left(dot + 1) : QByteArray();
        lines[i].name = name.mid(dot + 1).toUpper();
        lines[i].params = head;
        lines[i].value = text.mid(colon + 1);
    }
    return lines;
}

QByteArray escaped(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u',', QStringLiteral("\\,"));
    text.replace(u';', QStringLiteral("\\;"));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
    text.replace(u'\r', QStringLiteral("\\n"));
    return text.replace(u'\n', QStringLiteral("\\n")).toUtf8();
}

QString unescaped(const QByteArray &value)
{
    QByteArray text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == '\\' && i + 1 < value.size()) {
            const char next = value.at(++i);
            text += next == 'n' || next == 'N' ? '\n' : next;
        } else {
            text += value.at(i);
        }
    }
    return QString::fromUtf8(text);
}

// Splits on separator where it is not escaped; the escapes stay.
QList<QByteArray> splitRaw(const QByteArray &value, char separator)
{
    QList<QByteArray> parts{QByteArray()};
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c == '\\' && i + 1 < value.size()) {
            parts.last() += value.mid(i, 2);
            ++i;
        } else if (c == separator) {
            parts.append(QByteArray());
        } else {
            parts.last() += c;
        }
    }
    return parts;
}

// Folds one content line at 75 octets, never inside a UTF-8 sequence.
QByteArray folded(const QByteArray &line, const QByteArray &eol)
{
    QByteArray out;
    qsizetype start = 0;
    qsizetype room = 75;
    while (line.size() - start > room) {
        qsizetype cut = start + room;
        while (cut > start && (static_cast<unsigned char>(line.at(cut)) & 0xC0) == 0x80)
            --cut;
        out += line.mid(start, cut - start) + eol + ' ';
        start = cut;
        room = 74;
    }
    return out + line.mid(start) + eol;
}

// The head of a rewritten property: its group, name and parameters, without those that
// describe the old value's encoding.
QByteArray headOf(const CardLine &line, bool version4)
{
    QByteArray head = line.group + line.name;
    for (const QByteArray &param : line.params) {
        const QByteArray upper = param.toUpper();
        if (upper.startsWith("ENCODING=") || upper.startsWith("CHARSET=")
            || upper == "QUOTED-PRINTABLE" || upper.startsWith("VALUE="))
            continue;
        head += ';' + param;
    }
    if (version4 && line.name == "TEL")
        head += ";VALUE=text";
    return head;
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
        return Failure{QStringLiteral("%1: the card cannot be read: %2").arg(where, skipped)};
    CardContent content;
    content.values = contact->values;
    content.values[fieldIndex(ContactField::ContactId)].clear();
    return content;
}

// What one property alone reads as.
ContactValues readAlone(const CardLine &line, const QByteArray &version)
{
    const QByteArray card = "BEGIN:VCARD\r\nVERSION:" + version + "\r\n" + line.raw
                            + (line.raw.endsWith('\n') ? "" : "\r\n") + "END:VCARD\r\n";
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
        : m_lines(splitCard(card))
        , m_now(now)
        , m_wanted(wanted)
    {
        m_eol = card.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
        for (const CardLine &line : m_lines) {
            if (line.name == "VERSION")
                m_version = line.value.trimmed();
        }
    }

    QByteArray patched();

private:
    bool changed(ContactField field) const
    {
        return m_now[fieldIndex(field)] != m_wanted[fieldIndex(field)];
    }
    QString wanted(ContactField field) const { return m_wanted[fieldIndex(field)]; }
    CardLine *find(const char *name, const std::function<bool(const ContactValues &)> &gives);
    void add(const QByteArray &line) { m_added << folded(line, m_eol); }
    void replace(CardLine &line, const QByteArray &value)
    {
        line.replacement = folded(headOf(line, m_version == "4.0") + ':' + value, m_eol);
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
    QList<QByteArray> m_added;
};

CardLine *CardPatcher::find(const char *name,
                            const std::function<bool(const ContactValues &)> &gives)
{
    for (CardLine &line : m_lines) {
        if (line.name == name && !line.removed && !line.replacement
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
        if (line.name == "N" && !sawN) {
            sawN = true;
            QList<QByteArray> parts = splitRaw(line.value, ';');
            while (parts.size() < 5)
                parts.append(QByteArray());
            around = {unescaped(parts.at(3)), unescaped(parts.at(4))};
            for (int i = 0; i < 3; ++i)
                parts[i] = escaped(wanted(names.at(i)));
            replace(line, parts.join(';'));
        } else if (line.name == "FN" && !formatted) {
            formatted = &line;
        }
    }
    std::optional<QString> name
        = formatted ? renamed(unescaped(formatted->value), m_now, m_wanted) : std::nullopt;
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
    QList<QByteArray> nicks = splitRaw(line->value, ',');
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
    QList<QByteArray> components = line ? splitRaw(line->value, ';') : QList<QByteArray>();
    while (components.size() < 7)
        components.append(QByteArray());
    for (int i = 0; i < parts.size(); ++i)
        components[i + 2] = escaped(wanted(parts.at(i)));
    if (!line)
        add((m_version == "4.0" ? "ADR;TYPE=home:" : "ADR;TYPE=HOME:") + components.join(';'));
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
        if (line.name != "NOTE")
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
    const bool v4 = m_version == "4.0";
    patchNames();
    patchNickName();
    patchAddress();
    patchSingle(ContactField::HomePhone, "TEL",
                v4 ? "TEL;VALUE=text;TYPE=home,voice" : "TEL;TYPE=HOME,VOICE");
    patchSingle(ContactField::WorkPhone, "TEL",
                v4 ? "TEL;VALUE=text;TYPE=work,voice" : "TEL;TYPE=WORK,VOICE");
    patchSingle(ContactField::Cell, "TEL", v4 ? "TEL;VALUE=text;TYPE=cell" : "TEL;TYPE=CELL");
    patchSingle(ContactField::Fax, "TEL", v4 ? "TEL;VALUE=text;TYPE=fax" : "TEL;TYPE=FAX");
    patchSingle(ContactField::Email1, "EMAIL", v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET");
    patchSingle(ContactField::Email2, "EMAIL",
                m_wanted[fieldIndex(ContactField::Email1)].isEmpty()
                    ? (v4 ? "EMAIL;X-PELMORA-SLOT=2" : "EMAIL;TYPE=INTERNET;X-PELMORA-SLOT=2")
                    : (v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET"));
    patchNotes();

    QByteArray out;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const CardLine &line = m_lines.at(i);
        // New properties go just before END:VCARD.
        if (line.name == "END" && line.value.trimmed().toUpper() == "VCARD") {
            for (const QByteArray &added : m_added)
                out += added;
            m_added.clear();
        }
        if (line.removed)
            continue;
        out += line.replacement ? *line.replacement : line.raw;
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
    for (const CardLine &line : splitCard(card)) {
        if (line.name == "UID") {
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
        return Failure{QStringLiteral("The server's card cannot take the change of %1 "
                                      "without touching other properties.")
                           .arg(missing.join(QStringLiteral(", ")))};
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
