#pragma once

#include <core/contacts/contactfields.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

class QIODevice;

// The text of vCards as the reader, the writer and the sync's card patcher all see it: lines
// and their ends, folding, content lines and their parts, escapes, and the heads the program
// writes for its own fields.
namespace interchange {

// ---- Lines -----------------------------------------------------------------------------

// A line ends at CR LF, LF, a lone CR, or CR CR LF (as some phones end every line).
struct LineEnd
{
    qsizetype at = 0;     // where the line's text ends
    qsizetype length = 0; // of the end itself: 1, 2 or 3 bytes
};
// The first line end in bytes from `from` on; none when there is none yet, or when the bytes
// stop just after a CR and more may follow (atEnd false), so the end's length is not known.
std::optional<LineEnd> findLineEnd(QByteArrayView bytes, qsizetype from, bool atEnd);

// Reads physical lines from a device, never holding more than maxBytes of one. The buffer is
// made once: most of a large import's time would go to allocating one per line.
class VCardLineReader
{
public:
    VCardLineReader(QIODevice &device, qsizetype maxBytes);

    // False at the end of the input. A line longer than maxBytes comes back empty with tooLong
    // set, and its rest is skipped. The line lies in the reader's buffer until the next call.
    bool next(QByteArrayView &line, bool &tooLong);
    // Of the line last read, counting from 1.
    int number() const { return m_number; }

private:
    void fill();

    QIODevice &m_device;
    qsizetype m_maxBytes;
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qsizetype m_end = 0;
    bool m_atEnd = false;
    int m_number = 0;
};

// Whether a line reads `text`, whatever its case and blanks at its end: BEGIN:VCARD.
bool lineIs(QByteArrayView line, const char *text);

// ---- Content lines ---------------------------------------------------------------------

struct PhysicalLine
{
    QByteArray text; // without its line end
    int number = 0;
};

struct UnfoldedLine
{
    QByteArray text;         // shares the physical line's bytes when it was not folded
    int number = 0;          // of its first physical line
    qsizetype lineCount = 1; // how many physical lines it spans
};

// Joins folded lines into content lines. A line that starts with a space or tab continues
// the one before, without that character. In a QUOTED-PRINTABLE value a line ending in "="
// continues on the next line whatever that starts with; an empty line there ends the value.
QList<UnfoldedLine> unfold(const QList<PhysicalLine> &lines);

// The parts of one unfolded content line, [group "."] name *(";" parameter) ":" value, as
// views into it: a large import parses millions, and copying each part out would cost more
// than all the rest of the reading.
struct ContentLineParts
{
    QByteArrayView group; // without its dot; empty when there is none
    QByteArrayView name;
    QByteArrayView parameters; // from the first ";" to the colon, as written; empty when none
    QByteArrayView value;
};
// None when the line has no colon outside double quotes, or nothing before it.
std::optional<ContentLineParts> parseContentLine(QByteArrayView line);

struct Parameter
{
    QByteArrayView text;  // as written
    QByteArrayView name;  // empty for a bare 2.1 parameter such as HOME or QUOTED-PRINTABLE
    QByteArrayView value; // without its double quotes; the whole parameter when bare
};

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

QByteArrayView unquoted(QByteArrayView value);

// Calls visit with each Parameter of ContentLineParts::parameters.
template<typename Visit>
void forEachParameter(QByteArrayView parameters, Visit visit)
{
    if (parameters.isEmpty())
        return;
    forEachOutsideQuotes(parameters.sliced(1), ';', [&](QByteArrayView text) {
        const qsizetype equals = text.indexOf('=');
        if (equals < 0)
            visit(Parameter{text, {}, unquoted(text)});
        else
            visit(Parameter{text, text.first(equals).trimmed(), unquoted(text.sliced(equals + 1))});
    });
}

// ASCII, whatever the case: property and parameter names.
inline bool sameText(QByteArrayView a, const char *b)
{
    return a.compare(QByteArrayView(b), Qt::CaseInsensitive) == 0;
}

// One property as it stands in a card's text, for rewriting a card and leaving the rest
// byte for byte.
struct ContentLine
{
    QByteArray raw; // its physical lines, each with its line end
    QByteArray group;
    QByteArray name; // empty for a line that is no property
    QByteArray parameters;
    QByteArray value;
};
// The text's content lines; their raw bytes joined give back the text.
QList<ContentLine> splitContentLines(const QByteArray &text);

// ---- Values ----------------------------------------------------------------------------

// A text value as written: backslash, comma and semicolon escaped, every line break as \n.
QString escapeText(QString text);
// The text of an escaped value: \n or \N a line break, \\ \, \; the character; any other
// backslash stays. Every line break comes out as CR LF, the form the program stores.
QString unescapeText(QStringView text);
// The same, sharing the value when there is nothing to undo: most values of a large import.
QString unescapeText(const QString &text);
// Every line break as CR LF.
QString withCrLf(QString text);

// Splits on separator where it is not escaped, leaving the escapes in the parts.
QList<QStringView> splitEscaped(QStringView text, QChar separator);
QList<QByteArrayView> splitEscaped(QByteArrayView text, char separator);

// Appends one content line folded at 75 octets, a continuation's leading space included,
// never inside a UTF-8 sequence, each line ended with lineEnd.
void appendFolded(QByteArray &out, QByteArrayView line, QByteArrayView lineEnd = "\r\n");

// ---- The program's own properties ------------------------------------------------------

// Phones are written as text, not tel: URIs, so that any text in the field comes back as it
// was. field is one of Home Phone, Work Phone, Cell and Fax.
QByteArray phoneHead(ContactField field, bool version4);
// secondAlone marks an e-mail that stands in the second field while the first is empty, so
// that it is read back there.
QByteArray emailHead(bool secondAlone, bool version4);
QByteArray addressHead(bool version4);

} // namespace interchange
