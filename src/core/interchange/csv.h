#pragma once

#include <core/base/result.h>
#include <core/contacts/contactfields.h>
#include <core/interchange/importedcontact.h>
#include <core/interchange/readsink.h>

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

namespace interchange {

// One CSV column and the field it holds. A column with a label holds the label beside the
// field's value (the webmail's "Phone 1 - Type" = "Mobile"): written, never read.
struct CsvColumn
{
    QString header;
    ContactField field = ContactField::Notes;
    QString label;
    // An untyped phone number: the first free of Home Phone, Work Phone and Cell.
    bool anyPhone = false;
};

// How the columns of one program's CSV export map to the seventeen fields.
struct CsvPreset
{
    enum class Kind {
        Columns, // one header per field (several headers may name the same field)
        Webmail, // numbered groups: "Phone 1 - Type" / "Phone 1 - Value", " ::: " in cells
    };
    QString name;
    Kind kind = Kind::Columns;
    // Read: every column that names a field. Write: these columns, in this order.
    QList<CsvColumn> columns;
    // The program's own format: its contactid is read, and the cells are kept byte for byte
    // but for line breaks in one-line fields (elsewhere line breaks in Notes become CR LF).
    bool ownFormat = false;
};

// "pelmora" (the program's own seventeen columns), "mailclient", "webmail".
QList<CsvPreset> csvPresets();
// The preset of that name, or nullptr.
const CsvPreset *csvPreset(const QString &name);

// A user's mapping file: one "CSV header=field" a line, field one of the seventeen column
// names; blank lines and lines starting with "#" are ignored.
Result<CsvPreset> loadCsvMapping(const QString &path);

// Limits of what is read, so a hostile file cannot take the memory: a header of more
// columns fails the file; a longer row, or one of more fields, is skipped.
constexpr int csvMaxColumns = 1000;
constexpr qsizetype csvMaxRowChars = 1 << 20;
// A file with more unreadable rows than this is not read at all (the list of skips would
// otherwise grow with the file).
constexpr int csvMaxSkipped = 10000;

// Reads the contacts of a CSV file, streaming it: each contact goes to the sink as soon as
// its row is read. The first row is the header; preset nullptr picks the preset whose columns
// the header matches best. Encoding: UTF-8 with or without byte-order mark, UTF-16 with one,
// windows-1252 where the bytes are not valid UTF-8. Delimiter: ",", ";" or tab, whichever the
// header has most of outside quotes. A row that cannot be read is skipped with its line and
// reason; an empty, binary or header-only file, one with an unclosed quote, or a header no
// preset knows fails, and so does a failure of the sink.
Result<void>
readCsv(QIODevice &input, const QString &fileName, const CsvPreset *preset, const ReadSink &sink);

// Writing: the UTF-8 byte-order mark and the header row, then one row per contact. Rows end
// in CR LF; a cell is quoted where it holds a comma, quote, line break or edge blank, and
// kept from being a spreadsheet formula (toSpreadsheetCell).
QByteArray csvHeader(const CsvPreset &preset);
QByteArray csvRow(const ContactValues &values, const CsvPreset &preset);

} // namespace interchange
