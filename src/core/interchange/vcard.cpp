#include "vcard.h"

#include <core/interchange/vcardsyntax.h>

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
// Every line costs its bookkeeping besides its bytes, an empty one too: 30 million empty
// lines would otherwise pass the byte cap and take over a gigabyte.
constexpr qsizetype maxCardLines = 100'000;
constexpr qsizetype lineOverheadBytes = 32;

const QString crlf = QStringLiteral("\r\n");

// One property of a card, read for its meaning. The parts are views into the card's
// unfolded lines, which live while the card is read.
struct Property
{
    QByteArrayView name;
    // Bare 2.1 parameters included; a card that lists more than these is not worth reading
    // them from, and the array keeps a property a plain copy.
    std::array<QByteArrayView, 8> typeList;
    int typeCount = 0;
    QByteArrayView encoding;
    QByteArrayView charset;
    QByteArrayView valueType;
    QByteArrayView slot; // X-PELMORA-SLOT, ours
    int pref = ImportedContactBuilder::notPreferred;
    QByteArrayView value;
    int line = 0;

    bool is(const char *what) const { return sameText(name, what); }
    std::span<const QByteArrayView> types() const { return {typeList.data(), size_t(typeCount)}; }
    QStringList typeNames() const
    {
        QStringList names;
        names.reserve(typeCount);
        for (QByteArrayView type : types())
            names << QString::fromLatin1(type).toLower();
        return names;
    }
};

std::optional<Property> parseProperty(const UnfoldedLine &line)
{
    const std::optional<ContentLineParts> parts = parseContentLine(line.text);
    if (!parts)
        return std::nullopt;
    Property property;
    property.line = line.number;
    property.name = parts->name;
    property.value = parts->value;
    forEachParameter(parts->parameters, [&](const Parameter &parameter) {
        // A 2.1 bare parameter names a type or an encoding: TEL;HOME;VOICE.
        if (parameter.name.isEmpty() || sameText(parameter.name, "TYPE")) {
            forEachOutsideQuotes(parameter.value, ',', [&](QByteArrayView type) {
                type = unquoted(type);
                if (sameText(type, "quoted-printable") || sameText(type, "base64")
                    || sameText(type, "b"))
                    property.encoding = type;
                else if (sameText(type, "pref"))
                    property.pref = std::min(property.pref, 100);
                else if (!type.isEmpty() && property.typeCount < int(property.typeList.size()))
                    property.typeList[size_t(property.typeCount++)] = type;
            });
        } else if (sameText(parameter.name, "ENCODING")) {
            property.encoding = parameter.value;
        } else if (sameText(parameter.name, "CHARSET")) {
            property.charset = parameter.value;
        } else if (sameText(parameter.name, "VALUE")) {
            property.valueType = parameter.value;
        } else if (sameText(parameter.name, "PREF")) {
            bool ok = false;
            const int pref = parameter.value.toInt(&ok);
            if (ok && pref >= 1 && pref <= 100)
                property.pref = std::min(property.pref, pref);
        } else if (sameText(parameter.name, "X-PELMORA-SLOT")) {
            property.slot = parameter.value;
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

QString component(const QList<QStringView> &parts, qsizetype index)
{
    return index < parts.size() ? unescapeText(parts[index]) : QString();
}

PostalAddress readAddress(QStringView value)
{
    const QList<QStringView> parts = splitEscaped(value, u';');
    PostalAddress address;
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

class CardReader
{
public:
    explicit CardReader(int firstLine)
        : m_contact(firstLine)
    {}

    // The contact, or the reason the card cannot be read.
    std::variant<ImportedContact, QString> read(const QList<PhysicalLine> &lines);

private:
    std::optional<QString> decode(const Property &property);
    void place(const QList<std::pair<Property, QString>> &properties);

    QString m_problem;
    ImportedContactBuilder m_contact;
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
    QList<std::pair<Property, QString>> properties;
    // The properties look into these lines: they live until the card is placed.
    const QList<UnfoldedLine> unfolded = unfold(lines);
    properties.reserve(unfolded.size());
    for (const UnfoldedLine &line : unfolded) {
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
    return m_contact.take();
}

void CardReader::place(const QList<std::pair<Property, QString>> &properties)
{
    bool version4 = false;
    bool haveName = false;
    QString formattedName;
    QStringList notes;
    for (const auto &[property, text] : properties) {
        if (property.is("VERSION")) {
            version4 = text.trimmed() == QStringLiteral("4.0");
        } else if (property.is("N")) {
            const QList<QStringView> parts = splitEscaped(text, u';');
            m_contact.setField(ContactField::LastName, component(parts, 0));
            m_contact.setField(ContactField::FirstName, component(parts, 1));
            m_contact.setField(ContactField::Middle, component(parts, 2));
            haveName = true;
        } else if (property.is("FN")) {
            formattedName = unescapeText(text);
        } else if (property.is("NICKNAME")) {
            const QList<QStringView> nicks = splitEscaped(text, u',');
            const QString label = QStringLiteral("Nick name");
            m_contact.addField(ContactField::NickName, unescapeText(nicks[0]), label);
            for (qsizetype i = 1; i < nicks.size(); ++i) {
                if (!nicks[i].isEmpty())
                    m_contact.addExtra(label, unescapeText(nicks[i]));
            }
        } else if (property.is("ADR")) {
            m_contact.addAddress(property.typeNames(), readAddress(text), QStringLiteral("Address"),
                                 property.pref);
        } else if (property.is("TEL")) {
            QString number = text;
            // A tel: URI: the number without its scheme.
            if ((sameText(property.valueType, "uri")
                 || (version4 && !sameText(property.valueType, "text")))
                && number.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
                number = withCrLf(number.mid(4));
            else
                number = unescapeText(number);
            m_contact.addPhone(property.typeNames(), number, property.pref);
        } else if (property.is("EMAIL")) {
            // Our own files mark an e-mail that stands in the second field alone.
            m_contact.addEmail(unescapeText(text), QStringLiteral("Email"), property.pref,
                               property.slot == "2");
        } else if (property.is("NOTE")) {
            notes << unescapeText(text);
        } else if (property.is("X-PELMORA-CONTACTID")) {
            m_contact.setField(ContactField::ContactId, unescapeText(text));
        } else if (!technicalProperty(property) && !text.contains(u';')) {
            m_contact.addExtra(extraLabel(property), unescapeText(text));
        } else if (!technicalProperty(property)) {
            QStringList parts;
            for (QStringView part : splitEscaped(text, u';'))
                parts << unescapeText(part);
            parts.removeAll(QString());
            m_contact.addExtra(extraLabel(property), parts.join(QStringLiteral(", ")));
        }
    }

    if (!haveName && !formattedName.isEmpty()) {
        const qsizetype space = formattedName.trimmed().lastIndexOf(u' ');
        m_contact.setField(ContactField::LastName, formattedName.trimmed().mid(space + 1));
        if (space > 0)
            m_contact.setField(ContactField::FirstName,
                               formattedName.trimmed().left(space).trimmed());
    }
    m_contact.setField(ContactField::Notes, notes.join(crlf + crlf));
}

} // namespace

Result<void> readVCards(QIODevice &input, const QString &fileName, const ReadSink &sink)
{
    auto notVCard = [&](const QString &reason) {
        return Failure{fileProblem(QStringLiteral("Cannot read the contacts."), fileName, reason)};
    };
    if (!input.isReadable())
        return notVCard(QStringLiteral("The file cannot be read: %1").arg(input.errorString()));

    VCardLineReader reader(input, maxLineBytes);
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
    qsizetype cardLines = 0;
    int cardLine = 0;
    QString cardProblem;
    bool inCard = false;
    bool sawBegin = false;
    bool sawAnything = false;

    auto skip = [&](const QString &reason) {
        sink.skipped({cardLine, reason});
        forgetCard();
        cardBytes = 0;
        cardLines = 0;
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
        if (!tooLong && lineIs(line, "BEGIN:VCARD")) {
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
        cardBytes += line.size() + lineOverheadBytes;
        if (++cardLines > maxCardLines && cardProblem.isEmpty())
            cardProblem = QStringLiteral("the card has more than %1 lines").arg(maxCardLines);
        if (cardBytes > maxCardBytes && cardProblem.isEmpty())
            cardProblem = QStringLiteral("the card is larger than %1 MiB").arg(maxCardBytes >> 20);
        if (cardProblem.isEmpty())
            keepLine(line, reader.number());
        else
            forgetCard(); // only the reason is kept while the rest of the card goes by
        if (!lineIs(line, "END:VCARD"))
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
        cardLines = 0;
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
    auto add = [&](QByteArrayView head, const QString &text) {
        appendFolded(out, head.toByteArray() + ':' + text.toUtf8());
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
    add("FN", escapeText(formatted));
    // N always, even empty: without it a reader takes the names from FN.
    add("N", escapeText(value(ContactField::LastName)) + u';'
                 + escapeText(value(ContactField::FirstName)) + u';'
                 + escapeText(value(ContactField::Middle)) + QStringLiteral(";;"));
    if (!value(ContactField::NickName).isEmpty())
        add("NICKNAME", escapeText(value(ContactField::NickName)));
    const QList<ContactField> addressFields{ContactField::Address, ContactField::City,
                                            ContactField::State, ContactField::Zip,
                                            ContactField::Country};
    if (std::any_of(addressFields.begin(), addressFields.end(),
                    [&](ContactField f) { return !value(f).isEmpty(); })) {
        QStringList parts;
        for (ContactField field : addressFields)
            parts << escapeText(value(field));
        add(addressHead(v4), QStringLiteral(";;") + parts.join(u';'));
    }
    for (ContactField field : {ContactField::HomePhone, ContactField::WorkPhone, ContactField::Cell,
                               ContactField::Fax}) {
        if (!value(field).isEmpty())
            add(phoneHead(field, v4), escapeText(value(field)));
    }
    if (!value(ContactField::Email1).isEmpty())
        add(emailHead(false, v4), escapeText(value(ContactField::Email1)));
    if (!value(ContactField::Email2).isEmpty())
        add(emailHead(value(ContactField::Email1).isEmpty(), v4),
            escapeText(value(ContactField::Email2)));
    if (!value(ContactField::Notes).isEmpty())
        add("NOTE", escapeText(value(ContactField::Notes)));
    if (!value(ContactField::ContactId).isEmpty())
        add("X-PELMORA-CONTACTID", escapeText(value(ContactField::ContactId)));
    out += "END:VCARD\r\n";
    return out;
}

} // namespace interchange
