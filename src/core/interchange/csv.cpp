#include <core/interchange/csv.h>

#include <core/interchange/spreadsheetcell.h>

#include <QFile>
#include <QHash>
#include <QIODevice>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace interchange {

namespace {

using F = ContactField;

CsvColumn column(const char *header, ContactField field)
{
    return CsvColumn{QString::fromUtf8(header), field, {}, false};
}

CsvColumn labelColumn(const char *header, ContactField field, const char *label)
{
    return CsvColumn{QString::fromUtf8(header), field, QString::fromUtf8(label), false};
}

CsvColumn phoneColumn(const char *header)
{
    return CsvColumn{QString::fromUtf8(header), F::HomePhone, {}, true};
}

CsvPreset pelmoraPreset()
{
    CsvPreset preset{QStringLiteral("pelmora"), CsvPreset::Kind::Columns, {}, true};
    for (int i = 0; i < contactFieldCount; ++i)
        preset.columns << CsvColumn{columnName(fieldAt(i)), fieldAt(i), {}, false};
    return preset;
}

// The first column of each field is the one written; the others are read only: older
// names and the same client's export in German.
CsvPreset mailClientPreset()
{
    return CsvPreset{QStringLiteral("mailclient"),
                     CsvPreset::Kind::Columns,
                     {
                         column("First Name", F::FirstName),
                         column("Middle Name", F::Middle),
                         column("Last Name", F::LastName),
                         column("Nickname", F::NickName),
                         column("Home Street", F::Address),
                         column("Home City", F::City),
                         column("Home State", F::State),
                         column("Home Postal Code", F::Zip),
                         column("Home Country", F::Country),
                         column("Home Phone", F::HomePhone),
                         column("Business Phone", F::WorkPhone),
                         column("Mobile Phone", F::Cell),
                         column("Business Fax", F::Fax),
                         column("E-mail Address", F::Email1),
                         column("E-mail 2 Address", F::Email2),
                         column("Notes", F::Notes),
                         // Other clients' names for the same fields.
                         column("Home Street 2", F::Address),
                         column("Home Address", F::Address),
                         column("Home Address 2", F::Address),
                         column("Home ZipCode", F::Zip),
                         column("Home Country/Region", F::Country),
                         column("Work Phone", F::WorkPhone),
                         column("Mobile Number", F::Cell),
                         column("Fax Number", F::Fax),
                         column("Home Fax", F::Fax),
                         column("Primary Email", F::Email1),
                         column("Secondary Email", F::Email2),
                         phoneColumn("Other Phone"),
                         phoneColumn("Primary Phone"),
                         // German.
                         column("Vorname", F::FirstName),
                         column("Weitere Vornamen", F::Middle),
                         column("Nachname", F::LastName),
                         column("Spitzname", F::NickName),
                         column("Straße privat", F::Address),
                         column("Ort privat", F::City),
                         column("Bundesland/Kanton privat", F::State),
                         column("Postleitzahl privat", F::Zip),
                         column("Land/Region privat", F::Country),
                         column("Telefon privat", F::HomePhone),
                         column("Telefon geschäftlich", F::WorkPhone),
                         column("Mobiltelefon", F::Cell),
                         column("Fax geschäftlich", F::Fax),
                         column("E-Mail-Adresse", F::Email1),
                         column("E-Mail 2: Adresse", F::Email2),
                         column("Notizen", F::Notes),
                         phoneColumn("Weiteres Telefon"),
                     },
                     false};
}

// Numbered groups ("Phone 2 - Value") are read by their pattern, whatever the number;
// the columns here are what is written, and the names read outside the groups.
CsvPreset webmailPreset()
{
    return CsvPreset{QStringLiteral("webmail"),
                     CsvPreset::Kind::Webmail,
                     {
                         column("Given Name", F::FirstName),
                         column("Additional Name", F::Middle),
                         column("Family Name", F::LastName),
                         column("Nickname", F::NickName),
                         column("Notes", F::Notes),
                         labelColumn("E-mail 1 - Type", F::Email1, "* Other"),
                         column("E-mail 1 - Value", F::Email1),
                         labelColumn("E-mail 2 - Type", F::Email2, "Other"),
                         column("E-mail 2 - Value", F::Email2),
                         labelColumn("Phone 1 - Type", F::HomePhone, "Home"),
                         column("Phone 1 - Value", F::HomePhone),
                         labelColumn("Phone 2 - Type", F::WorkPhone, "Work"),
                         column("Phone 2 - Value", F::WorkPhone),
                         labelColumn("Phone 3 - Type", F::Cell, "Mobile"),
                         column("Phone 3 - Value", F::Cell),
                         labelColumn("Phone 4 - Type", F::Fax, "Home Fax"),
                         column("Phone 4 - Value", F::Fax),
                         labelColumn("Address 1 - Type", F::Address, "Home"),
                         column("Address 1 - Street", F::Address),
                         column("Address 1 - City", F::City),
                         column("Address 1 - Region", F::State),
                         column("Address 1 - Postal Code", F::Zip),
                         column("Address 1 - Country", F::Country),
                         // The current export's names.
                         column("First Name", F::FirstName),
                         column("Middle Name", F::Middle),
                         column("Last Name", F::LastName),
                     },
                     false};
}

QString readProblem(const QString &fileName, const QString &reason)
{
    return fileProblem(QStringLiteral("Cannot read the CSV file."), fileName, reason);
}

QString normalizedHeader(QString header)
{
    if (header.startsWith(QChar(0xFEFF)))
        header.remove(0, 1);
    return header.trimmed().toCaseFolded();
}

// Line breaks in Notes are stored as CR LF, whatever the file had.
QString crLfLineBreaks(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            out += QStringLiteral("\r\n");
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// ---- Decoding --------------------------------------------------------------------------

enum class Encoding { Utf8, Utf16, Windows1252 };

// The bytes 0x80-0x9F of windows-1252; the rest is Latin-1. The five unassigned bytes keep
// their C1 code points, so no byte is ever lost.
constexpr char16_t windows1252High[32]
    = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
       0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Whether bytes fed in pieces are valid UTF-8 (no overlong forms, surrogates or values
// past U+10FFFF); a sequence may be split between pieces.
class Utf8Check
{
public:
    void feed(QByteArrayView bytes)
    {
        for (const char byte : bytes) {
            const auto b = static_cast<unsigned char>(byte);
            if (m_needed > 0) {
                if (b < m_low || b > m_high) {
                    m_valid = false;
                    return;
                }
                m_low = 0x80;
                m_high = 0xBF;
                --m_needed;
            } else if (b >= 0x80) {
                m_needed = b >= 0xC2 && b <= 0xDF   ? 1
                           : b >= 0xE0 && b <= 0xEF ? 2
                           : b >= 0xF0 && b <= 0xF4 ? 3
                                                    : -1;
                if (m_needed < 0) {
                    m_valid = false;
                    return;
                }
                m_low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
                m_high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
            }
        }
    }
    bool valid() const { return m_valid; }

private:
    int m_needed = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    bool m_valid = true;
};

class Decoder
{
public:
    Decoder(Encoding encoding, QStringDecoder::Encoding utf16)
        : m_encoding(encoding)
    {
        if (encoding == Encoding::Utf8)
            m_decoder = QStringDecoder(QStringDecoder::Utf8);
        else if (encoding == Encoding::Utf16)
            m_decoder = QStringDecoder(utf16);
    }

    QString operator()(QByteArrayView bytes)
    {
        if (m_encoding != Encoding::Windows1252)
            return m_decoder(bytes);
        QString text(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            text[i] = (b >= 0x80 && b < 0xA0) ? QChar(windows1252High[b - 0x80]) : QChar(b);
        }
        return text;
    }

private:
    Encoding m_encoding;
    QStringDecoder m_decoder;
};

// ---- Records ---------------------------------------------------------------------------

struct Record
{
    QStringList cells;
    int line = 0;
    QString problem;
};

// RFC 4180 records, fed in pieces of any size. Lenient where real files are: a quote inside
// an unquoted cell is text; LF or CR alone ends a row as CR LF does.
class RecordParser
{
public:
    explicit RecordParser(QChar delimiter)
        : m_delimiter(delimiter)
    {}

    void feed(QStringView text, QList<Record> &out)
    {
        for (const QChar c : text)
            take(c, out);
    }

    // The last row; false when a quote is still open at the end of the file.
    bool finish(QList<Record> &out)
    {
        if (m_state == State::Quoted)
            return false;
        if (m_state != State::CellStart || !m_cells.isEmpty())
            endRecord(out);
        return true;
    }

    int openQuoteLine() const { return m_quoteLine; }

private:
    enum class State { CellStart, Unquoted, Quoted, QuoteInQuoted };

    void take(QChar c, QList<Record> &out)
    {
        if (c == u'\n' && m_lastWasCr) {
            m_lastWasCr = false;
            if (m_state == State::Quoted)
                append(c);
            return; // outside quotes the CR ended the row already
        }
        m_lastWasCr = c == u'\r';
        const bool lineBreak = c == u'\r' || c == u'\n';
        if (lineBreak)
            ++m_line;

        switch (m_state) {
        case State::Quoted:
            if (c == u'"')
                m_state = State::QuoteInQuoted;
            else
                append(c);
            break;
        case State::QuoteInQuoted:
            if (c == u'"') {
                append(c);
                m_state = State::Quoted;
            } else if (c == m_delimiter) {
                endCell();
            } else if (lineBreak) {
                endRecord(out);
            } else {
                if (m_problem.isEmpty())
                    m_problem = QStringLiteral("text after the closing quote of column %1")
                                    .arg(m_cells.size() + 1);
                append(c);
                m_state = State::Unquoted;
            }
            break;
        case State::CellStart:
            if (c == u'"') {
                m_state = State::Quoted;
                m_quoted = true;
                m_quoteLine = m_line;
            } else if (c == m_delimiter) {
                endCell();
            } else if (lineBreak) {
                endRecord(out);
            } else {
                append(c);
                m_state = State::Unquoted;
            }
            break;
        case State::Unquoted:
            if (c == m_delimiter)
                endCell();
            else if (lineBreak)
                endRecord(out);
            else
                append(c);
            break;
        }
    }

    void append(QChar c)
    {
        if (++m_chars > csvMaxRowChars) {
            if (m_problem.isEmpty())
                m_problem
                    = QStringLiteral("the row is longer than %1 characters").arg(csvMaxRowChars);
            return;
        }
        m_cell += c;
    }

    void endCell()
    {
        if (m_cells.size() < csvMaxColumns)
            m_cells << fromSpreadsheetCell(m_cell);
        else if (m_problem.isEmpty())
            m_problem = QStringLiteral("the row has more than %1 columns").arg(csvMaxColumns);
        m_cell.clear();
        m_state = State::CellStart;
    }

    void endRecord(QList<Record> &out)
    {
        endCell();
        const bool blank = m_cells.size() == 1 && m_cells[0].isEmpty() && !m_quoted;
        if (!blank)
            out << Record{std::move(m_cells), m_recordLine, std::move(m_problem)};
        m_cells.clear();
        m_problem.clear();
        m_quoted = false;
        m_chars = 0;
        m_recordLine = m_line;
    }

    QChar m_delimiter;
    State m_state = State::CellStart;
    QStringList m_cells;
    QString m_cell;
    QString m_problem;
    qsizetype m_chars = 0;
    bool m_lastWasCr = false;
    bool m_quoted = false;
    int m_line = 1;
    int m_recordLine = 1;
    int m_quoteLine = 0;
};

// The delimiter the header row has most of, outside quotes; "," when it has none.
QChar detectDelimiter(QStringView text)
{
    int commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\r' || c == u'\n'))
            break;
        else if (!quoted && c == u',')
            ++commas;
        else if (!quoted && c == u';')
            ++semicolons;
        else if (!quoted && c == u'\t')
            ++tabs;
    }
    if (semicolons > commas && semicolons >= tabs)
        return u';';
    if (tabs > commas && tabs > semicolons)
        return u'\t';
    return u',';
}

// Lone surrogates (from a broken UTF-16 file) would not survive being written as UTF-8.
void replaceLoneSurrogates(QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
}

// ---- Mapping a row to the fields -------------------------------------------------------

const QString webmailSeparator = QStringLiteral(" ::: ");

struct WebmailGroupColumn
{
    enum Kind { Phone, Email, Address } kind;
    int number;
    QString part; // case-folded: "type", "label", "value", "street", ...
};

std::optional<WebmailGroupColumn> webmailGroup(const QString &header)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(phone|e-mail|email|address) (\\d{1,4}) - (.+)$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = pattern.match(header.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QString kind = match.captured(1).toLower();
    return WebmailGroupColumn{kind == u"phone"     ? WebmailGroupColumn::Phone
                              : kind == u"address" ? WebmailGroupColumn::Address
                                                   : WebmailGroupColumn::Email,
                              match.captured(2).toInt(), match.captured(3).trimmed().toLower()};
}

class RowMapper
{
public:
    RowMapper(const CsvPreset &preset, const QStringList &headers)
        : m_preset(preset)
        , m_headers(headers)
    {
        // A header of a thousand columns is looked up once each, not against every column.
        QHash<QString, int> columnByKey;
        for (int i = int(preset.columns.size()) - 1; i >= 0; --i) {
            if (preset.columns[i].label.isEmpty())
                columnByKey.insert(normalizedHeader(preset.columns[i].header), i);
        }
        for (const QString &header : headers) {
            std::optional<WebmailGroupColumn> group;
            if (preset.kind == CsvPreset::Kind::Webmail)
                group = webmailGroup(header);
            m_columnOf << (group ? -1 : columnByKey.value(normalizedHeader(header), -1));
            m_groups << group;
        }
    }

    // How many headers the preset knows.
    int known() const
    {
        int n = 0;
        for (qsizetype i = 0; i < m_columnOf.size(); ++i)
            n += (m_columnOf[i] >= 0 || m_groups[i]) ? 1 : 0;
        return n;
    }

    ImportedContact map(const QStringList &cells, int line) const
    {
        ImportedContactBuilder contact(line);
        if (m_preset.kind == CsvPreset::Kind::Webmail)
            mapWebmailGroups(cells, contact);
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const QString &value = cells[i];
            if (value.isEmpty())
                continue;
            if (i >= m_headers.size())
                contact.addExtra(QStringLiteral("Column %1").arg(i + 1), value);
            else if (m_groups[i])
                continue;
            else if (m_columnOf[i] < 0)
                contact.addExtra(m_headers[i], value);
            else
                place(m_preset.columns[m_columnOf[i]], m_headers[i], value, contact);
        }
        ImportedContact mapped = contact.take();
        if (!m_preset.ownFormat) {
            QString &notes = mapped.values[fieldIndex(F::Notes)];
            notes = crLfLineBreaks(notes);
        }
        return mapped;
    }

private:
    void place(const CsvColumn &column,
               const QString &header,
               QString text,
               ImportedContactBuilder &contact) const
    {
        const ContactField field = column.field;
        if (m_preset.kind == CsvPreset::Kind::Webmail && field == F::NickName)
            text = text.section(webmailSeparator, 0, 0);
        if (column.anyPhone)
            contact.addPhone(QStringList(), text, ImportedContactBuilder::notPreferred, header);
        else if (field == F::ContactId && !m_preset.ownFormat)
            contact.addExtra(header, text);
        else if (field >= F::HomePhone && field <= F::Fax)
            contact.addPhone(field, text, header);
        else if (field == F::Email1 || field == F::Email2)
            contact.addEmail(text, header, ImportedContactBuilder::notPreferred,
                             field == F::Email2);
        else
            contact.addField(field, text, header);
    }

    struct Entry
    {
        QString type; // without the primary mark
        QString value;
        int preference = ImportedContactBuilder::notPreferred;
    };

    QString cell(const QStringList &cells, int headerIndex) const
    {
        return headerIndex >= 0 && headerIndex < cells.size() ? cells[headerIndex] : QString();
    }

    // Phone and e-mail groups in number order, each value of a " ::: " list on its own; a
    // type marked "*" is the primary one.
    QList<Entry> entries(const QStringList &cells, WebmailGroupColumn::Kind kind) const
    {
        QMap<int, QHash<QString, int>> groups;
        for (qsizetype i = 0; i < m_groups.size(); ++i) {
            if (m_groups[i] && m_groups[i]->kind == kind)
                groups[m_groups[i]->number].insert(m_groups[i]->part, int(i));
        }
        QList<Entry> list;
        for (const auto &parts : std::as_const(groups)) {
            const QString values = cell(cells, parts.value(QStringLiteral("value"), -1));
            if (values.trimmed().isEmpty())
                continue;
            QString types = cell(cells, parts.value(QStringLiteral("type"), -1));
            if (types.isEmpty())
                types = cell(cells, parts.value(QStringLiteral("label"), -1));
            const QStringList valueList = values.split(webmailSeparator);
            const QStringList typeList = types.split(webmailSeparator);
            for (qsizetype k = 0; k < valueList.size(); ++k) {
                Entry entry;
                entry.type = typeList.size() == valueList.size() ? typeList[k] : typeList[0];
                entry.type = primaryMarkRemoved(entry.type.trimmed(), entry.preference);
                entry.value = valueList[k].trimmed();
                if (!entry.value.isEmpty())
                    list << entry;
            }
        }
        return list;
    }

    static QString primaryMarkRemoved(const QString &type, int &preference)
    {
        if (!type.startsWith(u'*'))
            return type;
        preference = 1;
        return type.mid(1).trimmed();
    }

    static QString labelled(const char *what, const QString &type)
    {
        const QString name = QString::fromLatin1(what);
        return type.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, type);
    }

    static QStringList types(const QString &type)
    {
        return type.isEmpty() ? QStringList() : QStringList{type};
    }

    void mapWebmailGroups(const QStringList &cells, ImportedContactBuilder &contact) const
    {
        for (const Entry &e : entries(cells, WebmailGroupColumn::Phone))
            contact.addPhone(types(e.type), e.value, e.preference);
        for (const Entry &e : entries(cells, WebmailGroupColumn::Email))
            contact.addEmail(e.value, labelled("E-mail", e.type), e.preference);
        mapWebmailAddresses(cells, contact);
    }

    void mapWebmailAddresses(const QStringList &cells, ImportedContactBuilder &contact) const
    {
        QMap<int, QHash<QString, QString>> groups;
        for (qsizetype i = 0; i < m_groups.size(); ++i) {
            const auto &g = m_groups[i];
            if (g && g->kind == WebmailGroupColumn::Address && !cells.value(i).trimmed().isEmpty())
                groups[g->number].insert(g->part, cells.value(i).trimmed());
        }
        for (QHash<QString, QString> parts : std::as_const(groups)) {
            int preference = ImportedContactBuilder::notPreferred;
            const QString type = primaryMarkRemoved(
                parts.value(QStringLiteral("type"), parts.value(QStringLiteral("label"))),
                preference);
            parts.remove(QStringLiteral("type"));
            parts.remove(QStringLiteral("label"));
            if (parts.isEmpty())
                continue;
            QStringList street;
            for (const char *part : {"po box", "extended address", "street"}) {
                const QString text = parts.value(QString::fromLatin1(part));
                if (!text.isEmpty())
                    street << text;
            }
            if (street.isEmpty())
                street << parts.value(QStringLiteral("formatted"));
            contact.addAddress(
                types(type),
                {street.join(QStringLiteral(", ")), parts.value(QStringLiteral("city")),
                 parts.value(QStringLiteral("region")), parts.value(QStringLiteral("postal code")),
                 parts.value(QStringLiteral("country"))},
                labelled("Address", type), preference);
        }
    }

    const CsvPreset &m_preset;
    QStringList m_headers;
    QList<int> m_columnOf;
    QList<std::optional<WebmailGroupColumn>> m_groups;
};

bool hasAnyValue(const ContactValues &values)
{
    return std::any_of(values.cbegin(), values.cend(),
                       [](const QString &v) { return !v.isEmpty(); });
}

// Splits "Full Name" when a webmail row has no given or family name: the last word is the
// last name, the rest the first name.
void splitFullName(ImportedContact &contact, const QStringList &headers, const QStringList &cells)
{
    QString &first = contact.values[fieldIndex(F::FirstName)];
    QString &last = contact.values[fieldIndex(F::LastName)];
    if (!first.isEmpty() || !last.isEmpty())
        return;
    const qsizetype at = headers.indexOf(QStringLiteral("Name"));
    if (at < 0 || at >= cells.size())
        return;
    const QString name = cells[at].simplified();
    const qsizetype space = name.lastIndexOf(u' ');
    last = name.mid(space + 1);
    first = space < 0 ? QString() : name.left(space);
    contact.extras.removeOne(QStringLiteral("Name: ") + cells[at]);
}

QByteArray quotedCell(const QString &value)
{
    static const QString needsQuotes = QStringLiteral(",\";\t\r\n");
    const QString text = toSpreadsheetCell(value);
    bool quote = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    for (const QChar c : text) {
        if (needsQuotes.contains(c)) {
            quote = true;
            break;
        }
    }
    if (!quote)
        return text.toUtf8();
    QString doubled = text;
    doubled.replace(u'"', QStringLiteral("\"\""));
    return '"' + doubled.toUtf8() + '"';
}

} // namespace

// In the order a tie in detection is decided: a header of plain names only ("First Name",
// "Notes") is a mail client's, not the webmail's without its numbered groups.
QList<CsvPreset> csvPresets()
{
    return {pelmoraPreset(), mailClientPreset(), webmailPreset()};
}

const CsvPreset *csvPreset(const QString &name)
{
    static const QList<CsvPreset> presets = csvPresets();
    for (const CsvPreset &preset : presets) {
        if (preset.name.compare(name, Qt::CaseInsensitive) == 0)
            return &preset;
    }
    return nullptr;
}

Result<CsvPreset> loadCsvMapping(const QString &path)
{
    const auto failure = [&](const QString &reason) {
        return Failure{
            fileProblem(QStringLiteral("Cannot read the CSV mapping file."), path, reason)};
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(file.errorString());
    CsvPreset preset{QStringLiteral("mapping"), CsvPreset::Kind::Columns, {}, false};
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        QString line = QString::fromUtf8(file.readLine());
        if (lineNumber == 1 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        // The field names hold no "=", a CSV header may.
        const qsizetype equals = line.lastIndexOf(u'=');
        if (equals <= 0)
            return failure(QStringLiteral("line %1: \"%2\" is not \"CSV header=field\"")
                               .arg(lineNumber)
                               .arg(line));
        const QString header = line.left(equals).trimmed();
        const QString name = line.mid(equals + 1).trimmed();
        std::optional<ContactField> field;
        for (int i = 0; i < contactFieldCount; ++i) {
            if (columnName(fieldAt(i)).compare(name, Qt::CaseInsensitive) == 0)
                field = fieldAt(i);
        }
        if (!field)
            return failure(
                QStringLiteral("line %1: unknown field \"%2\"").arg(lineNumber).arg(name));
        preset.columns << CsvColumn{header, *field, {}, false};
    }
    if (preset.columns.isEmpty())
        return failure(QStringLiteral("the file maps no column"));
    return preset;
}

Result<void>
readCsv(QIODevice &input, const QString &fileName, const CsvPreset *preset, const ReadSink &sink)
{
    const auto failure = [&](const QString &reason) {
        return Failure{readProblem(fileName, reason)};
    };
    constexpr qint64 chunkSize = 64 * 1024;
    const qint64 start = input.pos();
    const QByteArray first = input.read(chunkSize);
    if (first.isEmpty())
        return failure(QStringLiteral("the file is empty"));

    // The encoding: a byte-order mark says it; else UTF-8 if every byte of the file is
    // valid UTF-8 (read once ahead when the device can seek back), else windows-1252.
    Encoding encoding = Encoding::Utf8;
    QStringDecoder::Encoding utf16 = QStringDecoder::Utf16LE;
    qsizetype skip = 0;
    if (first.startsWith("\xEF\xBB\xBF")) {
        skip = 3;
    } else if (first.startsWith("\xFF\xFE") || first.startsWith("\xFE\xFF")) {
        encoding = Encoding::Utf16;
        utf16 = first.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE;
        skip = 2;
    } else {
        if (first.contains('\0'))
            return failure(QStringLiteral("the file is binary, not text"));
        Utf8Check check;
        check.feed(first);
        if (!input.isSequential()) {
            while (check.valid()) {
                const QByteArray more = input.read(chunkSize);
                if (more.isEmpty())
                    break;
                check.feed(more);
            }
            if (!input.seek(start + first.size()))
                return failure(input.errorString());
        }
        if (!check.valid())
            encoding = Encoding::Windows1252;
    }

    Decoder decode(encoding, utf16);
    const QString firstText = decode(QByteArrayView(first).sliced(skip));
    RecordParser parser(detectDelimiter(firstText));

    // The skips go to the sink as they come; the count and the last are kept for the limit.
    int skipped = 0;
    SkippedEntry lastSkip;
    const auto skipRow = [&](SkippedEntry &&entry) {
        ++skipped;
        lastSkip = entry;
        sink.skipped(std::move(entry));
    };
    qsizetype contacts = 0;
    QStringList headers;
    std::optional<RowMapper> mapper;
    const CsvPreset *chosen = preset;
    QList<Record> records;
    std::optional<Failure> failed;
    bool sawRecord = false;

    const auto checkSkips = [&] {
        if (!failed && skipped > csvMaxSkipped)
            failed = failure(
                QStringLiteral("more than %1 rows cannot be read; the last on line %2: %3")
                    .arg(csvMaxSkipped)
                    .arg(lastSkip.line)
                    .arg(lastSkip.reason));
    };
    const auto takeRecords = [&] {
        for (Record &record : records) {
            checkSkips();
            if (failed)
                break;
            sawRecord = true;
            for (QString &cell : record.cells) {
                if (!QStringView(cell).isValidUtf16())
                    replaceLoneSurrogates(cell);
            }
            const bool hasNul = std::any_of(record.cells.cbegin(), record.cells.cend(),
                                            [](const QString &c) { return c.contains(QChar()); });
            if (!mapper) {
                if (!record.problem.isEmpty())
                    failed = failure(QStringLiteral("line %1: the header cannot be read: %2")
                                         .arg(record.line)
                                         .arg(record.problem));
                else if (hasNul)
                    failed = failure(QStringLiteral("the file is binary, not text"));
                if (failed)
                    break;
                headers = record.cells;
                if (!chosen) {
                    static const QList<CsvPreset> presets = csvPresets();
                    int best = 0;
                    for (const CsvPreset &candidate : presets) {
                        const int known = RowMapper(candidate, headers).known();
                        if (known > best) {
                            best = known;
                            chosen = &candidate;
                        }
                    }
                    if (!chosen) {
                        failed = failure(
                            QStringLiteral("line %1: no column of the header is one a preset "
                                           "knows; give a mapping file")
                                .arg(record.line));
                        break;
                    }
                }
                mapper.emplace(*chosen, headers);
                continue;
            }
            if (!record.problem.isEmpty()) {
                skipRow({record.line, record.problem});
                continue;
            }
            if (hasNul) {
                skipRow({record.line, QStringLiteral("a NUL character")});
                continue;
            }
            if (std::all_of(record.cells.cbegin(), record.cells.cend(),
                            [](const QString &c) { return c.isEmpty(); }))
                continue; // ",,," is a blank row
            ImportedContact contact = mapper->map(record.cells, record.line);
            if (chosen->kind == CsvPreset::Kind::Webmail)
                splitFullName(contact, headers, record.cells);
            if (!hasAnyValue(contact.values)) {
                skipRow(
                    {record.line, QStringLiteral("no column of the row holds one of the fields")});
                continue;
            }
            ++contacts;
            if (Result<void> taken = sink.contact(std::move(contact)); !taken) {
                failed = taken.failure();
                break;
            }
        }
        records.clear();
    };

    parser.feed(firstText, records);
    takeRecords();
    while (!failed) {
        const QByteArray bytes = input.read(chunkSize);
        if (bytes.isEmpty())
            break;
        parser.feed(decode(bytes), records);
        takeRecords();
    }
    if (failed)
        return *failed;
    if (!parser.finish(records))
        return failure(QStringLiteral("line %1: a quote opened here is never closed")
                           .arg(parser.openQuoteLine()));
    takeRecords();
    checkSkips();
    if (failed)
        return *failed;
    if (!sawRecord)
        return failure(QStringLiteral("the file is empty"));
    if (contacts == 0 && skipped == 0)
        return failure(QStringLiteral("the file holds only a header, no contacts"));
    return {};
}

QByteArray csvHeader(const CsvPreset &preset)
{
    QByteArray out = "\xEF\xBB\xBF";
    QList<ContactField> written;
    bool firstCell = true;
    for (const CsvColumn &column : preset.columns) {
        if (column.label.isEmpty()) {
            if (written.contains(column.field) || column.anyPhone)
                continue;
            written << column.field;
        }
        if (!firstCell)
            out += ',';
        out += quotedCell(column.header);
        firstCell = false;
    }
    return out + "\r\n";
}

QByteArray csvRow(const ContactValues &values, const CsvPreset &preset)
{
    QByteArray out;
    QList<ContactField> written;
    int cells = 0;
    for (const CsvColumn &column : preset.columns) {
        const QString &value = values[fieldIndex(column.field)];
        if (column.label.isEmpty()) {
            if (written.contains(column.field) || column.anyPhone)
                continue;
            written << column.field;
        }
        if (cells++ > 0)
            out += ',';
        out += quotedCell(column.label.isEmpty() ? value
                          : value.isEmpty()      ? QString()
                                                 : column.label);
    }
    // A row of one empty cell would read as a blank line.
    if (out.isEmpty())
        out = "\"\"";
    return out + "\r\n";
}

} // namespace interchange
