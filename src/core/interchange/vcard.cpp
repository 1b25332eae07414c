#include "vcard.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>
#include <span>

namespace interchange {

namespace {

// A card or line past these is skipped, not read: nothing a person keeps about a contact
// comes near them, and a hostile file must not take the memory.
constexpr qsizetype maxLineBytes = 1'000'000;
constexpr qsizetype maxCardBytes = 8 * 1024 * 1024;

const QString crlf = QStringLiteral("\r\n");

struct PhysicalLine
{
    QByteArray bytes;
    int number = 0;
};

bool sameText(QByteArrayView a, const char *b)
{
    return a.compare(QByteArrayView(b), Qt::CaseInsensitive) == 0;
}

// One property of a card. The parts are views into the card's unfolded lines, which live
// while the card is read: a large import parses millions of these, and copying each part
// out cost more than all the rest of the reading.
struct Property
{
    QByteArrayView group;
    QByteArrayView name;
    // Bare 2.1 parameters included; a card that lists more than these is not worth reading
    // them from, and the array keeps a property a plain copy.
    std::array<QByteArrayView, 8> typeList;
    int typeCount = 0;
    QByteArrayView encoding;
    QByteArrayView charset;
    QByteArrayView valueType;
    QByteArrayView slot; // X-PELMORA-SLOT, ours
    int pref = 101;      // 1 is most preferred; 101 is "not preferred"
    QByteArrayView value;
    int line = 0;

    bool is(const char *what) const { return sameText(name, what); }
    std::span<const QByteArrayView> types() const { return {typeList.data(), size_t(typeCount)}; }
    bool hasType(const char *type) const
    {
        return std::any_of(typeList.begin(), typeList.begin() + typeCount,
                           [&](QByteArrayView t) { return sameText(t, type); });
    }
};

bool isLine(QByteArrayView bytes, const char *what)
{
    while (!bytes.isEmpty() && (bytes.back() == ' ' || bytes.back() == '\t'))
        bytes.chop(1);
    return bytes.compare(QByteArrayView(what), Qt::CaseInsensitive) == 0;
}

// Where the name and parameters end: the first colon outside double quotes.
qsizetype valueStart(const QByteArray &line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return -1;
}

bool isQuotedPrintable(const QByteArray &line)
{
    const qsizetype colon = valueStart(line);
    return colon > 0 && line.left(colon).toUpper().contains("QUOTED-PRINTABLE");
}

// Joins folded lines. A folded line starts with a space or tab, dropped; inside a
// QUOTED-PRINTABLE value a line ending in "=" continues on the next whatever it starts with.
QList<PhysicalLine> unfold(const QList<PhysicalLine> &lines)
{
    QList<PhysicalLine> logical;
    bool softBreak = false;
    for (const PhysicalLine &line : lines) {
        if (!logical.isEmpty() && softBreak && !isLine(line.bytes, "END:VCARD")) {
            logical.back().bytes.chop(1);
            logical.back().bytes += line.bytes;
        } else if (!logical.isEmpty() && !line.bytes.isEmpty()
                   && (line.bytes[0] == ' ' || line.bytes[0] == '\t')) {
            logical.back().bytes += line.bytes.mid(1);
        } else {
            logical.append(line);
        }
        const QByteArray &current = logical.back().bytes;
        softBreak = current.endsWith('=') && isQuotedPrintable(current);
    }
    return logical;
}

// Calls visit with each part of text between separators that stand outside double quotes.
template<typename Visit>
void forEachOutsideQuotes(QByteArrayView text, char separator, Visit visit)
{
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == separator && !quoted) {
            visit(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    visit(text.sliced(start));
}

QByteArrayView unquoted(QByteArrayView value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.sliced(1, value.size() - 2);
    return value;
}

std::optional<Property> parseProperty(const PhysicalLine &line)
{
    const qsizetype colon = valueStart(line.bytes);
    if (colon <= 0)
        return std::nullopt;
    Property property;
    property.line = line.number;
    property.value = QByteArrayView(line.bytes).sliced(colon + 1);
    bool first = true;
    forEachOutsideQuotes(QByteArrayView(line.bytes).first(colon), ';', [&](QByteArrayView part) {
        if (first) {
            first = false;
            const QByteArrayView name = part.trimmed();
            const qsizetype dot = name.lastIndexOf('.');
            property.group = dot >= 0 ? name.first(dot) : QByteArrayView();
            property.name = name.sliced(dot + 1);
            return;
        }
        const qsizetype equals = part.indexOf('=');
        // A 2.1 bare parameter names a type or an encoding: TEL;HOME;VOICE.
        const QByteArrayView key
            = equals < 0 ? QByteArrayView("TYPE") : part.first(equals).trimmed();
        const QByteArrayView value = unquoted(equals < 0 ? part : part.sliced(equals + 1));
        if (sameText(key, "TYPE")) {
            forEachOutsideQuotes(value, ',', [&](QByteArrayView type) {
                type = unquoted(type);
                if (sameText(type, "quoted-printable") || sameText(type, "base64")
                    || sameText(type, "b"))
                    property.encoding = type;
                else if (sameText(type, "pref"))
                    property.pref = std::min(property.pref, 100);
                else if (!type.isEmpty() && property.typeCount < int(property.typeList.size()))
                    property.typeList[size_t(property.typeCount++)] = type;
            });
        } else if (sameText(key, "ENCODING")) {
            property.encoding = value;
        } else if (sameText(key, "CHARSET")) {
            property.charset = value;
        } else if (sameText(key, "VALUE")) {
            property.valueType = value;
        } else if (sameText(key, "PREF")) {
            bool ok = false;
            const int pref = value.toInt(&ok);
            if (ok && pref >= 1 && pref <= 100)
                property.pref = std::min(property.pref, pref);
        } else if (sameText(key, "X-PELMORA-SLOT")) {
            property.slot = value;
        }
    });
    return property;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> decodeQuotedPrintable(QByteArrayView encoded)
{
    QByteArray decoded;
    decoded.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            decoded += encoded[i];
            continue;
        }
        const int high = i + 1 < encoded.size() ? hexDigit(encoded[i + 1]) : -1;
        const int low = i + 2 < encoded.size() ? hexDigit(encoded[i + 2]) : -1;
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded += char(high * 16 + low);
        i += 2;
    }
    return decoded;
}

// Every line break as CR LF, the form the program stores.
QString withCrLf(QString text)
{
    if (!text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    text.replace(crlf, QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text.replace(u'\n', crlf);
}

QString unescape(QStringView text)
{
    if (!text.contains(u'\\'))
        return withCrLf(text.toString());
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar next = text[i + 1];
        if (next == u'n' || next == u'N')
            out += crlf;
        else if (next == u'\\' || next == u',' || next == u';')
            out += next;
        else
            out += QStringView(text).mid(i, 2); // not an escape: kept as it stands
        ++i;
    }
    return withCrLf(out);
}

// A whole value as it stands, shared rather than copied, when there is nothing to undo: most
// values of a large import are plain.
QString unescape(const QString &text)
{
    const bool plain = std::none_of(text.cbegin(), text.cend(),
                                    [](QChar c) { return c == u'\\' || c == u'\r' || c == u'\n'; });
    return plain ? text : unescape(QStringView(text));
}

// Splits on separator where it is not escaped, leaving the escapes for unescape().
QList<QStringView> splitUnescaped(QStringView text, QChar separator)
{
    QList<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == separator) {
            parts << text.mid(start, i - start);
            start = i + 1;
        }
    }
    parts << text.mid(start);
    return parts;
}

QString component(const QList<QStringView> &parts, qsizetype index)
{
    return index < parts.size() ? unescape(parts[index]) : QString();
}

struct Address
{
    QString street, city, state, zip, country;
    QString readable() const
    {
        QStringList parts{street, city, state, zip, country};
        parts.removeAll(QString());
        return parts.join(QStringLiteral(", "));
    }
};

Address readAddress(QStringView value)
{
    const QList<QStringView> parts = splitUnescaped(value, u';');
    Address address;
    QStringList street{component(parts, 0), component(parts, 1), component(parts, 2)};
    street.removeAll(QString());
    address.street = street.join(QStringLiteral(", "));
    address.city = component(parts, 3);
    address.state = component(parts, 4);
    address.zip = component(parts, 5);
    address.country = component(parts, 6);
    return address;
}

bool binaryProperty(const Property &property)
{
    return property.is("PHOTO") || property.is("LOGO") || property.is("SOUND")
           || property.is("KEY");
}

// Properties that say nothing about the person, so are not worth an extras line.
bool technicalProperty(const Property &property)
{
    static const char *const names[]{
        "VERSION", "PRODID", "REV",  "UID",     "LABEL",  "SORT-STRING",         "CLIENTPIDMAP",
        "KIND",    "SOURCE", "NAME", "PROFILE", "MAILER", "X-PELMORA-CONTACTID", "FN",
        "N",       "BEGIN",  "END"};
    return std::any_of(std::begin(names), std::end(names),
                       [&](const char *name) { return property.is(name); });
}

QString extraLabel(const Property &property)
{
    static const QList<std::pair<const char *, QString>> labels{
        {"BDAY", QStringLiteral("Birthday")},
        {"ANNIVERSARY", QStringLiteral("Anniversary")},
        {"ORG", QStringLiteral("Organisation")},
        {"TITLE", QStringLiteral("Title")},
        {"ROLE", QStringLiteral("Role")},
        {"URL", QStringLiteral("Web page")},
        {"PHOTO", QStringLiteral("Photo")},
        {"LOGO", QStringLiteral("Logo")},
        {"SOUND", QStringLiteral("Sound")},
        {"KEY", QStringLiteral("Key")},
        {"CATEGORIES", QStringLiteral("Categories")},
        {"IMPP", QStringLiteral("Chat")},
        {"GEO", QStringLiteral("Location")},
        {"TZ", QStringLiteral("Time zone")}};
    for (const auto &[key, label] : labels) {
        if (property.is(key))
            return label;
    }
    return QString::fromLatin1(property.name).toUpper();
}

struct Phone
{
    QString number;
    const Property *property;
};

class CardReader
{
public:
    explicit CardReader(int firstLine)
        : m_firstLine(firstLine)
    {}

    // The contact, or the reason the card cannot be read.
    std::variant<ImportedContact, QString> read(const QList<PhysicalLine> &lines);

private:
    std::optional<QString> decode(const Property &property);
    void place(const QList<std::pair<Property, QString>> &properties);

    int m_firstLine = 0;
    QString m_problem;
    ImportedContact m_contact;
};

std::optional<QString> CardReader::decode(const Property &property)
{
    // A value is never the start of a file: a byte-order mark there is text and stays.
    const auto keepBom = QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;
    QByteArrayView bytes = property.value;
    QByteArray decoded;
    if (sameText(property.encoding, "QUOTED-PRINTABLE")) {
        std::optional<QByteArray> qp = decodeQuotedPrintable(bytes);
        if (!qp) {
            m_problem
                = QStringLiteral("broken quoted-printable value on line %1").arg(property.line);
            return std::nullopt;
        }
        decoded = std::move(*qp);
        bytes = decoded;
    } else if ((sameText(property.encoding, "BASE64") || sameText(property.encoding, "B"))
               && !binaryProperty(property)) {
        decoded = QByteArray::fromBase64(bytes.toByteArray());
        bytes = decoded;
    }
    if (binaryProperty(property))
        return QString(); // the data itself is not kept
    if (!property.charset.isEmpty() && !sameText(property.charset, "UTF-8")) {
        QStringDecoder decoder(property.charset.toByteArray().constData(), keepBom);
        if (!decoder.isValid()) {
            m_problem = QStringLiteral("unknown character set \"%1\" on line %2")
                            .arg(QString::fromLatin1(property.charset))
                            .arg(property.line);
            return std::nullopt;
        }
        return QString(decoder.decode(bytes));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, keepBom);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        m_problem = QStringLiteral("invalid UTF-8 on line %1").arg(property.line);
        return std::nullopt;
    }
    return text;
}

std::variant<ImportedContact, QString> CardReader::read(const QList<PhysicalLine> &lines)
{
    m_contact.line = m_firstLine;
    QList<std::pair<Property, QString>> properties;
    // The properties look into these lines: they live until the card is placed.
    const QList<PhysicalLine> unfolded = unfold(lines);
    properties.reserve(unfolded.size());
    for (const PhysicalLine &line : unfolded) {
        if (std::optional<Property> property = parseProperty(line)) {
            if (property->is("BEGIN") || property->is("END"))
                continue;
            std::optional<QString> text = decode(*property);
            if (!text)
                return m_problem;
            properties.append({std::move(*property), std::move(*text)});
        }
    }
    place(properties);
    return std::move(m_contact);
}

void CardReader::place(const QList<std::pair<Property, QString>> &properties)
{
    ContactValues &values = m_contact.values;
    auto set = [&](ContactField field, const QString &value) {
        values[fieldIndex(field)] = value;
    };
    auto extra = [&](const QString &label, const QString &value) {
        m_contact.extras << (value.isEmpty() ? label : label + QStringLiteral(": ") + value);
    };

    bool version4 = false;
    bool haveName = false;
    QString formattedName;
    QList<std::pair<const Property *, QString>> addresses, emails;
    QList<Phone> phones;
    QStringList notes;
    for (const auto &[property, text] : properties) {
        if (property.is("VERSION")) {
            version4 = text.trimmed() == QStringLiteral("4.0");
        } else if (property.is("N")) {
            const QList<QStringView> parts = splitUnescaped(text, u';');
            set(ContactField::LastName, component(parts, 0));
            set(ContactField::FirstName, component(parts, 1));
            set(ContactField::Middle, component(parts, 2));
            haveName = true;
        } else if (property.is("FN")) {
            formattedName = unescape(text);
        } else if (property.is("NICKNAME")) {
            const QList<QStringView> nicks = splitUnescaped(text, u',');
            for (qsizetype i = 0; i < nicks.size(); ++i) {
                if (i == 0 && values[fieldIndex(ContactField::NickName)].isEmpty())
                    set(ContactField::NickName, unescape(nicks[i]));
                else if (!nicks[i].isEmpty())
                    extra(QStringLiteral("Nick name"), unescape(nicks[i]));
            }
        } else if (property.is("ADR")) {
            addresses.append({&property, text});
        } else if (property.is("TEL")) {
            QString number = text;
            // A tel: URI: the number without its scheme.
            if ((sameText(property.valueType, "uri")
                 || (version4 && !sameText(property.valueType, "text")))
                && number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
                number = withCrLf(number.mid(4));
            else
                number = unescape(number);
            phones.append({number, &property});
        } else if (property.is("EMAIL")) {
            emails.append({&property, unescape(text)});
        } else if (property.is("NOTE")) {
            notes << unescape(text);
        } else if (property.is("X-PELMORA-CONTACTID")) {
            set(ContactField::ContactId, unescape(text));
        } else if (!technicalProperty(property) && !text.contains(u';')) {
            extra(extraLabel(property), unescape(text));
        } else if (!technicalProperty(property)) {
            QStringList parts;
            for (QStringView part : splitUnescaped(text, u';'))
                parts << unescape(part);
            parts.removeAll(QString());
            extra(extraLabel(property), parts.join(QStringLiteral(", ")));
        }
    }

    if (!haveName && !formattedName.isEmpty()) {
        const qsizetype space = formattedName.trimmed().lastIndexOf(u' ');
        set(ContactField::LastName, formattedName.trimmed().mid(space + 1));
        if (space > 0)
            set(ContactField::FirstName, formattedName.trimmed().left(space).trimmed());
    }

    auto byPreference = [](const auto &a, const auto &b) {
        return a.first->pref < b.first->pref;
    };
    std::stable_sort(addresses.begin(), addresses.end(), byPreference);
    qsizetype chosen = -1;
    for (qsizetype i = 0; i < addresses.size() && chosen < 0; ++i) {
        if (addresses[i].first->pref <= 100 || addresses[i].first->hasType("home"))
            chosen = i;
    }
    if (chosen < 0 && !addresses.isEmpty())
        chosen = 0;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const Address address = readAddress(addresses[i].second);
        if (i != chosen) {
            extra(QStringLiteral("Address"), address.readable());
            continue;
        }
        set(ContactField::Address, address.street);
        set(ContactField::City, address.city);
        set(ContactField::State, address.state);
        set(ContactField::Zip, address.zip);
        set(ContactField::Country, address.country);
    }

    std::stable_sort(phones.begin(), phones.end(), [](const Phone &a, const Phone &b) {
        return a.property->pref < b.property->pref;
    });
    QList<const Phone *> untyped;
    for (const Phone &phone : phones) {
        const Property &p = *phone.property;
        std::optional<ContactField> slot;
        if (p.hasType("fax"))
            slot = ContactField::Fax;
        else if (p.hasType("cell") || p.hasType("mobile"))
            slot = ContactField::Cell;
        else if (p.hasType("home"))
            slot = ContactField::HomePhone;
        else if (p.hasType("work"))
            slot = ContactField::WorkPhone;
        const bool voiceOnly
            = std::all_of(p.types().begin(), p.types().end(), [](QByteArrayView t) {
                  return sameText(t, "voice") || sameText(t, "internet")
                         || sameText(t.first(std::min<qsizetype>(t.size(), 2)), "x-");
              });
        if (!slot && voiceOnly) {
            untyped << &phone;
        } else if (slot && values[fieldIndex(*slot)].isEmpty()) {
            set(*slot, phone.number);
        } else {
            QStringList typeNames;
            for (QByteArrayView type : p.types())
                typeNames << QString::fromLatin1(type).toLower();
            const QString types = typeNames.join(u',');
            extra(types.isEmpty() ? QStringLiteral("Phone")
                                  : QStringLiteral("Phone (%1)").arg(types),
                  phone.number);
        }
    }
    for (const Phone *phone : untyped) {
        bool placed = false;
        for (ContactField slot :
             {ContactField::HomePhone, ContactField::WorkPhone, ContactField::Cell}) {
            if (!placed && values[fieldIndex(slot)].isEmpty()) {
                set(slot, phone->number);
                placed = true;
            }
        }
        if (!placed)
            extra(QStringLiteral("Phone"), phone->number);
    }

    std::stable_sort(emails.begin(), emails.end(), byPreference);
    for (const auto &[property, address] : emails) {
        // Our own files mark an e-mail that stands in the second field alone.
        if (property->slot == "2" && values[fieldIndex(ContactField::Email2)].isEmpty())
            set(ContactField::Email2, address);
        else if (values[fieldIndex(ContactField::Email1)].isEmpty())
            set(ContactField::Email1, address);
        else if (values[fieldIndex(ContactField::Email2)].isEmpty())
            set(ContactField::Email2, address);
        else
            extra(QStringLiteral("Email"), address);
    }
    set(ContactField::Notes, notes.join(crlf + crlf));
}

// Reads physical lines, never more than maxLineBytes of one into memory. The buffer is made
// once: asking the device for a line of up to a megabyte would allocate that much per line.
class LineReader
{
public:
    explicit LineReader(QIODevice &device)
        : m_device(device)
        , m_buffer(maxLineBytes + 3, Qt::Uninitialized)
    {}

    // False at the end of the input. tooLong says the line was cut and its rest dropped.
    // The line lies in the reader's buffer until the next call.
    bool next(QByteArrayView &line, bool &tooLong)
    {
        const qint64 size = m_device.readLine(m_buffer.data(), m_buffer.size());
        if (size <= 0)
            return false;
        ++m_number;
        tooLong = false;
        const bool ended = m_buffer[size - 1] == '\n';
        if (!ended && size > maxLineBytes) {
            tooLong = true;
            qint64 rest = 0;
            do
                rest = m_device.readLine(m_buffer.data(), m_buffer.size());
            while (rest > 0 && m_buffer[rest - 1] != '\n');
            line = {};
            return true;
        }
        qint64 length = ended ? size - 1 : size;
        if (length > 0 && m_buffer[length - 1] == '\r')
            --length;
        line = QByteArrayView(m_buffer.constData(), length);
        return true;
    }

    int number() const { return m_number; }

private:
    QIODevice &m_device;
    QByteArray m_buffer;
    int m_number = 0;
};

void appendTo(QByteArray &out, const QByteArray &text)
{
    // Folds at 75 octets, each continuation line's leading space included, never inside a
    // UTF-8 sequence.
    qsizetype start = 0;
    qsizetype room = 75;
    while (text.size() - start > room) {
        qsizetype cut = start + room;
        while (cut > start + 1 && (uchar(text[cut]) & 0xC0) == 0x80)
            --cut;
        out += text.mid(start, cut - start);
        out += "\r\n ";
        start = cut;
        room = 74;
    }
    out += text.mid(start);
    out += "\r\n";
}

QString escaped(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u',', QStringLiteral("\\,"));
    text.replace(u';', QStringLiteral("\\;"));
    text.replace(crlf, QStringLiteral("\\n"));
    text.replace(u'\r', QStringLiteral("\\n"));
    return text.replace(u'\n', QStringLiteral("\\n"));
}

} // namespace

Result<void> readVCards(QIODevice &input, const QString &fileName, const ReadSink &sink)
{
    auto notVCard = [&](const QString &reason) {
        return Failure{fileProblem(QStringLiteral("Cannot read the contacts."), fileName, reason)};
    };
    if (!input.isReadable())
        return notVCard(QStringLiteral("The file cannot be read: %1").arg(input.errorString()));

    LineReader reader(input);
    // The card's lines, end to end in one buffer that is kept from card to card: a large
    // file has millions of lines, and one allocation each cost more than reading them.
    struct LineSpan
    {
        qsizetype start = 0;
        qsizetype length = 0;
        int number = 0;
    };
    QByteArray cardText;
    QList<LineSpan> card;
    const auto keepLine = [&](QByteArrayView line, int number) {
        card.append({cardText.size(), line.size(), number});
        cardText.append(line);
    };
    const auto forgetCard = [&] {
        card.clear();
        cardText.resize(0);
    };
    qsizetype cardBytes = 0;
    int cardLine = 0;
    QString cardProblem;
    bool inCard = false;
    bool sawBegin = false;
    bool sawAnything = false;

    auto skip = [&](const QString &reason) {
        sink.skipped({cardLine, reason});
        forgetCard();
        cardBytes = 0;
        inCard = false;
    };

    QByteArrayView line;
    bool tooLong = false;
    while (reader.next(line, tooLong)) {
        if (reader.number() == 1 && line.startsWith("\xEF\xBB\xBF"))
            line = line.sliced(3);
        if (!line.isEmpty() || tooLong)
            sawAnything = true;
        if (!sawBegin && tooLong)
            return notVCard(QStringLiteral("Line %1 is longer than %2 bytes, before any card.")
                                .arg(reader.number())
                                .arg(maxLineBytes));
        if (!sawBegin && line.contains('\0'))
            return notVCard(QStringLiteral("The file holds binary data, not vCards."));
        if (!tooLong && isLine(line, "BEGIN:VCARD")) {
            if (inCard)
                skip(QStringLiteral("no END:VCARD before line %1").arg(reader.number()));
            sawBegin = inCard = true;
            cardLine = reader.number();
            cardProblem.clear();
            keepLine(line, reader.number());
            continue;
        }
        if (!inCard)
            continue;
        if (tooLong && cardProblem.isEmpty())
            cardProblem = QStringLiteral("line %1 is longer than %2 bytes")
                              .arg(reader.number())
                              .arg(maxLineBytes);
        cardBytes += line.size();
        if (cardBytes > maxCardBytes && cardProblem.isEmpty())
            cardProblem = QStringLiteral("the card is larger than %1 MiB").arg(maxCardBytes >> 20);
        if (cardProblem.isEmpty())
            keepLine(line, reader.number());
        else
            forgetCard(); // only the reason is kept while the rest of the card goes by
        if (!isLine(line, "END:VCARD"))
            continue;
        if (!cardProblem.isEmpty()) {
            skip(cardProblem);
            continue;
        }
        // The lines share the buffer's bytes; it is not touched until they are gone.
        QList<PhysicalLine> lines;
        lines.reserve(card.size());
        for (const LineSpan &span : card)
            lines.append({QByteArray::fromRawData(cardText.constData() + span.start, span.length),
                          span.number});
        CardReader cardReader(cardLine);
        auto read = cardReader.read(lines);
        lines.clear();
        if (auto *contact = std::get_if<ImportedContact>(&read)) {
            if (Result<void> taken = sink.contact(std::move(*contact)); !taken)
                return taken;
        } else {
            sink.skipped({cardLine, std::get<QString>(read)});
        }
        forgetCard();
        cardBytes = 0;
        inCard = false;
    }
    if (inCard)
        skip(QStringLiteral("no END:VCARD before the end of the file"));
    if (!sawAnything)
        return notVCard(QStringLiteral("The file is empty."));
    if (!sawBegin)
        return notVCard(QStringLiteral("The file holds no vCard: no line says BEGIN:VCARD."));
    return {};
}

Result<void> readVCards(QIODevice &input,
                        const QString &fileName,
                        const std::function<void(ImportedContact &&)> &contactRead,
                        const std::function<void(SkippedEntry &&)> &cardSkipped)
{
    return readVCards(input, fileName,
                      {[&](ImportedContact &&contact) -> Result<void> {
                           contactRead(std::move(contact));
                           return {};
                       },
                       cardSkipped});
}

QByteArray writeVCard(const ContactValues &values, VCardVersion version)
{
    const bool v4 = version == VCardVersion::V4;
    auto value = [&](ContactField field) {
        return values[fieldIndex(field)];
    };
    QByteArray out;
    auto add = [&](const char *head, const QString &text) {
        appendTo(out, QByteArray(head) + ':' + text.toUtf8());
    };

    out += "BEGIN:VCARD\r\n";
    out += v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n";
    QStringList names{value(ContactField::FirstName), value(ContactField::Middle),
                      value(ContactField::LastName)};
    names.removeAll(QString());
    QString formatted = names.join(u' ');
    if (formatted.isEmpty())
        formatted = value(ContactField::NickName);
    if (formatted.isEmpty())
        formatted = value(ContactField::Email1);
    if (formatted.isEmpty())
        formatted = value(ContactField::Email2);
    add("FN", escaped(formatted));
    // N always, even empty: without it a reader takes the names from FN.
    add("N", escaped(value(ContactField::LastName)) + u';' + escaped(value(ContactField::FirstName))
                 + u';' + escaped(value(ContactField::Middle)) + QStringLiteral(";;"));
    if (!value(ContactField::NickName).isEmpty())
        add("NICKNAME", escaped(value(ContactField::NickName)));
    const QList<ContactField> addressFields{ContactField::Address, ContactField::City,
                                            ContactField::State, ContactField::Zip,
                                            ContactField::Country};
    if (std::any_of(addressFields.begin(), addressFields.end(),
                    [&](ContactField f) { return !value(f).isEmpty(); })) {
        QStringList parts;
        for (ContactField field : addressFields)
            parts << escaped(value(field));
        add(v4 ? "ADR;TYPE=home" : "ADR;TYPE=HOME", QStringLiteral(";;") + parts.join(u';'));
    }
    // Phones as text, not tel: URIs, so that any text in the field comes back as it was.
    const std::pair<ContactField, const char *> phones[]
        = {{ContactField::HomePhone, v4 ? "TEL;VALUE=text;TYPE=home,voice" : "TEL;TYPE=HOME,VOICE"},
           {ContactField::WorkPhone, v4 ? "TEL;VALUE=text;TYPE=work,voice" : "TEL;TYPE=WORK,VOICE"},
           {ContactField::Cell, v4 ? "TEL;VALUE=text;TYPE=cell" : "TEL;TYPE=CELL"},
           {ContactField::Fax, v4 ? "TEL;VALUE=text;TYPE=fax" : "TEL;TYPE=FAX"}};
    for (const auto &[field, head] : phones) {
        if (!value(field).isEmpty())
            add(head, escaped(value(field)));
    }
    if (!value(ContactField::Email1).isEmpty())
        add(v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET", escaped(value(ContactField::Email1)));
    if (!value(ContactField::Email2).isEmpty()) {
        const bool alone = value(ContactField::Email1).isEmpty();
        add(alone ? (v4 ? "EMAIL;X-PELMORA-SLOT=2" : "EMAIL;TYPE=INTERNET;X-PELMORA-SLOT=2")
                  : (v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET"),
            escaped(value(ContactField::Email2)));
    }
    if (!value(ContactField::Notes).isEmpty())
        add("NOTE", escaped(value(ContactField::Notes)));
    if (!value(ContactField::ContactId).isEmpty())
        add("X-PELMORA-CONTACTID", escaped(value(ContactField::ContactId)));
    out += "END:VCARD\r\n";
    return out;
}

} // namespace interchange
