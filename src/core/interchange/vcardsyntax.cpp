#include <core/interchange/vcardsyntax.h>

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace interchange {

namespace {

constexpr qsizetype readChunk = 64 * 1024;

const QString crlf = QStringLiteral("\r\n");

// Where the name and parameters end: the first colon outside double quotes.
qsizetype valueStart(QByteArrayView line)
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

template<typename View, typename Char>
QList<View> splitEscapedIn(View text, Char separator)
{
    QList<View> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == Char('\\'))
            ++i;
        else if (text[i] == separator) {
            parts << text.sliced(start, i - start);
            start = i + 1;
        }
    }
    parts << text.sliced(start);
    return parts;
}

} // namespace

std::optional<LineEnd> findLineEnd(QByteArrayView bytes, qsizetype from, bool atEnd)
{
    const char *begin = bytes.data();
    const char *end = begin + bytes.size();
    const char *hit
        = std::find_if(begin + from, end, [](char c) { return c == '\n' || c == '\r'; });
    if (hit == end)
        return std::nullopt;
    const qsizetype at = hit - begin;
    if (*hit == '\n')
        return LineEnd{at, 1};
    const qsizetype after = bytes.size() - at - 1; // bytes known after the CR
    if (after == 0)
        return atEnd ? std::optional(LineEnd{at, 1}) : std::nullopt;
    if (hit[1] == '\n')
        return LineEnd{at, 2};
    if (hit[1] != '\r')
        return LineEnd{at, 1};
    if (after == 1)
        return atEnd ? std::optional(LineEnd{at, 1}) : std::nullopt;
    return LineEnd{at, hit[2] == '\n' ? 3 : 1};
}

VCardLineReader::VCardLineReader(QIODevice &device, qsizetype maxBytes)
    : m_device(device)
    , m_maxBytes(maxBytes)
    , m_buffer(maxBytes + 2 + readChunk, Qt::Uninitialized)
{}

bool VCardLineReader::next(QByteArrayView &line, bool &tooLong)
{
    tooLong = false;
    qsizetype from = m_start;
    for (;;) {
        const QByteArrayView held(m_buffer.constData(), m_end);
        const std::optional<LineEnd> end = findLineEnd(held, from, m_atEnd);
        if (end || (m_atEnd && m_start < m_end)) {
            const qsizetype textEnd = end ? end->at : m_end;
            tooLong = tooLong || textEnd - m_start > m_maxBytes;
            line = tooLong ? QByteArrayView() : held.sliced(m_start, textEnd - m_start);
            m_start = end ? end->at + end->length : m_end;
            ++m_number;
            return true;
        }
        if (m_atEnd)
            return false;
        // The last two bytes may be the start of the line's end: CR, or CR CR.
        if (m_end - m_start > m_maxBytes + 2) {
            tooLong = true;
            m_start = m_end - 2;
        }
        const qsizetype scanned = std::max<qsizetype>(0, m_end - m_start - 2);
        fill();
        from = m_start + scanned;
    }
}

void VCardLineReader::fill()
{
    if (m_start > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(m_end - m_start));
        m_end -= m_start;
        m_start = 0;
    }
    const qint64 read = m_device.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (read <= 0)
        m_atEnd = true;
    else
        m_end += read;
}

bool lineIs(QByteArrayView line, const char *text)
{
    while (!line.isEmpty() && (line.back() == ' ' || line.back() == '\t'))
        line.chop(1);
    return sameText(line, text);
}

QList<UnfoldedLine> unfold(const QList<PhysicalLine> &lines)
{
    QList<UnfoldedLine> logical;
    logical.reserve(lines.size());
    bool softBreak = false;
    for (const PhysicalLine &line : lines) {
        if (!logical.isEmpty() && softBreak && !lineIs(line.text, "END:VCARD")) {
            UnfoldedLine &current = logical.back();
            current.text.chop(1);
            current.text += line.text;
            ++current.lineCount;
            if (line.text.isEmpty()) {
                softBreak = false;
                continue;
            }
        } else if (!logical.isEmpty() && !line.text.isEmpty()
                   && (line.text[0] == ' ' || line.text[0] == '\t')) {
            UnfoldedLine &current = logical.back();
            current.text += QByteArrayView(line.text).sliced(1);
            ++current.lineCount;
        } else {
            logical.append({line.text, line.number, 1});
        }
        const QByteArray &current = logical.back().text;
        softBreak = current.endsWith('=') && isQuotedPrintable(current);
    }
    return logical;
}

std::optional<ContentLineParts> parseContentLine(QByteArrayView line)
{
    const qsizetype colon = valueStart(line);
    if (colon <= 0)
        return std::nullopt;
    const QByteArrayView head = line.first(colon);
    const qsizetype semicolon = head.indexOf(';');
    const QByteArrayView name = (semicolon < 0 ? head : head.first(semicolon)).trimmed();
    const qsizetype dot = name.lastIndexOf('.');
    ContentLineParts parts;
    parts.group = dot >= 0 ? name.first(dot) : QByteArrayView();
    parts.name = name.sliced(dot + 1);
    parts.parameters = semicolon < 0 ? QByteArrayView() : head.sliced(semicolon);
    parts.value = line.sliced(colon + 1);
    return parts;
}

QByteArrayView unquoted(QByteArrayView value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.sliced(1, value.size() - 2);
    return value;
}

QList<ContentLine> splitContentLines(const QByteArray &text)
{
    QList<PhysicalLine> physical;
    QList<qsizetype> starts;
    for (qsizetype at = 0; at < text.size();) {
        const std::optional<LineEnd> end = findLineEnd(text, at, true);
        const qsizetype textEnd = end ? end->at : text.size();
        physical.append({QByteArray::fromRawData(text.constData() + at, textEnd - at),
                         int(physical.size()) + 1});
        starts.append(at);
        at = end ? end->at + end->length : text.size();
    }
    starts.append(text.size());

    QList<ContentLine> lines;
    qsizetype first = 0;
    for (const UnfoldedLine &unfolded : unfold(physical)) {
        ContentLine line;
        line.raw = text.mid(starts[first], starts[first + unfolded.lineCount] - starts[first]);
        first += unfolded.lineCount;
        if (const std::optional<ContentLineParts> parts = parseContentLine(unfolded.text)) {
            line.group = parts->group.toByteArray();
            line.name = parts->name.toByteArray();
            line.parameters = parts->parameters.toByteArray();
            line.value = parts->value.toByteArray();
        }
        lines.append(std::move(line));
    }
    return lines;
}

QString escapeText(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u',', QStringLiteral("\\,"));
    text.replace(u';', QStringLiteral("\\;"));
    text.replace(crlf, QStringLiteral("\\n"));
    text.replace(u'\r', QStringLiteral("\\n"));
    return text.replace(u'\n', QStringLiteral("\\n"));
}

QString withCrLf(QString text)
{
    if (!text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    text.replace(crlf, QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text.replace(u'\n', crlf);
}

QString unescapeText(QStringView text)
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
            out += text.sliced(i, 2); // not an escape: kept as it stands
        ++i;
    }
    return withCrLf(out);
}

QString unescapeText(const QString &text)
{
    const bool plain = std::none_of(text.cbegin(), text.cend(),
                                    [](QChar c) { return c == u'\\' || c == u'\r' || c == u'\n'; });
    return plain ? text : unescapeText(QStringView(text));
}

QList<QStringView> splitEscaped(QStringView text, QChar separator)
{
    return splitEscapedIn(text, separator);
}

QList<QByteArrayView> splitEscaped(QByteArrayView text, char separator)
{
    return splitEscapedIn(text, separator);
}

void appendFolded(QByteArray &out, QByteArrayView line, QByteArrayView lineEnd)
{
    qsizetype start = 0;
    qsizetype room = 75;
    while (line.size() - start > room) {
        qsizetype cut = start + room;
        while (cut > start + 1 && (uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.sliced(start, cut - start);
        out += lineEnd;
        out += ' ';
        start = cut;
        room = 74;
    }
    out += line.sliced(start);
    out += lineEnd;
}

QByteArray phoneHead(ContactField field, bool version4)
{
    switch (field) {
    case ContactField::HomePhone:
        return version4 ? "TEL;VALUE=text;TYPE=home,voice" : "TEL;TYPE=HOME,VOICE";
    case ContactField::WorkPhone:
        return version4 ? "TEL;VALUE=text;TYPE=work,voice" : "TEL;TYPE=WORK,VOICE";
    case ContactField::Cell:
        return version4 ? "TEL;VALUE=text;TYPE=cell" : "TEL;TYPE=CELL";
    case ContactField::Fax:
        return version4 ? "TEL;VALUE=text;TYPE=fax" : "TEL;TYPE=FAX";
    default:
        return version4 ? "TEL;VALUE=text" : "TEL";
    }
}

QByteArray emailHead(bool secondAlone, bool version4)
{
    if (secondAlone)
        return version4 ? "EMAIL;X-PELMORA-SLOT=2" : "EMAIL;TYPE=INTERNET;X-PELMORA-SLOT=2";
    return version4 ? "EMAIL" : "EMAIL;TYPE=INTERNET";
}

QByteArray addressHead(bool version4)
{
    return version4 ? "ADR;TYPE=home" : "ADR;TYPE=HOME";
}

} // namespace interchange
