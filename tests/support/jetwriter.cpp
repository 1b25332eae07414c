#include <support/jetwriter.h>

#include <core/contacts/contactfields.h>

#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringEncoder>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace {

enum ColumnType : quint8 {
    Integer = 0x03,
    LongInteger = 0x04,
    Text = 0x0a,
    Ole = 0x0b,
    Memo = 0x0c
};

struct Column
{
    QString name;
    quint8 type = Text;
    int fixedOffset = 0; // where a fixed-length value lies in the row's fixed area
    int varIndex = 0;    // a variable-length value's place in the row's offset table

    bool fixed() const { return type == Integer || type == LongInteger; }
    int fixedLength() const { return type == Integer ? 2 : 4; }
};

struct Table
{
    QString name;
    QList<Column> columns;
    bool compressText = false; // Jet 4: text in the compressed form where it is shorter
    int fixedLength = 0;
    int varCount = 0;
};

Table makeTable(const QString &name,
                const QList<std::pair<QString, quint8>> &columns,
                bool compressText)
{
    Table table{name, {}, compressText, 0, 0};
    for (const auto &[columnName, type] : columns) {
        Column column{columnName, type};
        if (column.fixed()) {
            column.fixedOffset = table.fixedLength;
            table.fixedLength += column.fixedLength();
        } else {
            column.varIndex = table.varCount++;
        }
        table.columns.append(column);
    }
    return table;
}

void put16(QByteArray &bytes, int at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void put32(QByteArray &bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    put16(bytes, 0, value);
    return bytes;
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    put32(bytes, 0, value);
    return bytes;
}

// A row's address: page number in the upper three bytes, row number in the lowest.
quint32 dataPointer(int page, int row)
{
    return quint32(page) << 8 | quint32(row);
}

// The header page's fields from 0x18 on are masked with RC4 under this fixed key.
void rc4Mask(char *data, int length)
{
    const std::array<quint8, 4> key{0xc7, 0xda, 0x39, 0x6b};
    std::array<quint8, 256> s;
    for (int i = 0; i < 256; ++i)
        s[i] = quint8(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xff;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        data[n] = char(quint8(data[n]) ^ s[(s[i] + s[j]) & 0xff]);
    }
}

// Windows-1252 above 0x7f differs from Latin-1 only in 0x80-0x9f; Qt may lack the codec.
std::optional<char> toCp1252(char16_t c)
{
    static const std::array<char16_t, 32> high{
        0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017d, 0,      0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
        0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178};
    if (c < 0x80 || (c >= 0xa0 && c <= 0xff))
        return char(c);
    for (int i = 0; i < 32; ++i) {
        if (high[i] == c)
            return char(0x80 + i);
    }
    return std::nullopt;
}

class JetFileWriter
{
public:
    explicit JetFileWriter(const JetWriteOptions &options)
        : m_options(options)
        , m_jet4(options.version == JetVersion::Jet4)
        , m_pageSize(m_jet4 ? 4096 : 2048)
        , m_rowCountAt(m_jet4 ? 12 : 8)
    {}

    Result<QByteArray> write(const QList<JetRow> &rows);

private:
    int newPage()
    {
        m_file.append(QByteArray(m_pageSize, '\0'));
        return int(m_file.size() / m_pageSize) - 1;
    }
    int pageCount() const { return int(m_file.size() / m_pageSize); }
    // Largest row a data page holds: the page less its header and one row offset.
    int pageRoom() const { return m_pageSize - m_rowCountAt - 2 - 2; }

    Result<QByteArray> encodeText(const QString &text, bool memo, bool compress) const;
    Result<QByteArray> encodeValue(const Column &column, const QString &value, bool compress);
    Result<QByteArray> encodeMemo(const QByteArray &stored);
    Result<QByteArray> encodeRow(const Table &table, const JetRow &row);
    void writeDataPage(int page, const QByteArray &owner, const QList<QByteArray> &rows);
    Result<void> writeTable(int tdefPage, const Table &table, const QList<JetRow> &rows);
    Result<void> writeTableDefinition(int page, const Table &table, int rowCount, int mapRow);
    void writeHeader();
    QByteArray usageMap(const QList<int> &pages) const;

    JetWriteOptions m_options;
    bool m_jet4;
    int m_pageSize;
    int m_rowCountAt; // the data page header's row count; the row offsets follow it
    QByteArray m_file;
    QList<QList<int>> m_tablePages; // data pages per table, in the order the maps are kept
};

Result<QByteArray> JetFileWriter::encodeText(const QString &text, bool memo, bool compress) const
{
    if (!m_jet4) {
        QByteArray bytes;
        bytes.reserve(text.size());
        if (m_options.codePage == 1252) {
            for (QChar c : text) {
                const std::optional<char> b = toCp1252(c.unicode());
                if (!b)
                    return Failure{QStringLiteral("U+%1 is not in code page 1252")
                                       .arg(c.unicode(), 4, 16, QLatin1Char('0'))};
                bytes.append(*b);
            }
            return bytes;
        }
        QStringEncoder encoder(
            QStringLiteral("windows-%1").arg(m_options.codePage).toLatin1().constData());
        bytes = encoder.encode(text);
        if (encoder.hasError())
            return Failure{
                QStringLiteral("the text is not in code page %1").arg(m_options.codePage)};
        return bytes;
    }
    QByteArray plain;
    for (QChar c : text)
        plain += le16(c.unicode());
    const bool compressible
        = std::none_of(text.begin(), text.end(), [](QChar c) { return (c.unicode() & 0xff) == 0; });
    if (!compress || !compressible || (memo && text.size() > 1024))
        return plain;
    // Compressed form: a 0xff 0xfe mark, then one byte for each character below U+0100 and
    // two for the others; a zero byte switches between the two.
    QByteArray packed("\xff\xfe", 2);
    bool oneByte = true;
    for (QChar c : text) {
        const bool small = c.unicode() < 0x100;
        if (small != oneByte) {
            packed.append('\0');
            oneByte = small;
        }
        packed.append(char(c.unicode() & 0xff));
        if (!small)
            packed.append(char(c.unicode() >> 8));
    }
    return packed.size() < plain.size() ? packed : plain;
}

// A memo is a twelve-byte field in its row: the stored length with two flags in its top
// byte, and the address of its long-value record.
Result<QByteArray> JetFileWriter::encodeMemo(const QByteArray &stored)
{
    const quint32 length = quint32(stored.size());
    if (length > 0xffffff)
        return Failure{QStringLiteral("the memo is longer than 16 MiB")};
    if (stored.size() <= 256) // 0x80: the value follows in the row
        return le32(length | 0x80000000u) + le32(0) + le32(0) + stored;
    const int single = pageRoom();
    if (stored.size() <= single) { // 0x40: the whole value is one record on a page of its own
        const int page = newPage();
        writeDataPage(page, "LVAL", {stored});
        return le32(length | 0x40000000u) + le32(dataPointer(page, 0)) + le32(0);
    }
    // No flag: a chain of records, each starting with the address of the next one.
    const int chunk = single - 4;
    QList<int> pages;
    for (qsizetype at = 0; at < stored.size(); at += chunk)
        pages.append(newPage());
    for (int i = 0; i < pages.size(); ++i) {
        const quint32 next = i + 1 < pages.size() ? dataPointer(pages[i + 1], 0) : 0;
        writeDataPage(pages[i], "LVAL", {le32(next) + stored.mid(qsizetype(i) * chunk, chunk)});
    }
    return le32(length) + le32(dataPointer(pages.first(), 0)) + le32(0);
}

Result<QByteArray>
JetFileWriter::encodeValue(const Column &column, const QString &value, bool compress)
{
    if (column.fixed()) {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok || (column.type == Integer && (number < -32768 || number > 32767)))
            return Failure{QStringLiteral("\"%1\" is not a whole number of %2 bits")
                               .arg(value)
                               .arg(column.fixedLength() * 8)};
        return column.type == Integer ? le16(quint16(number)) : le32(quint32(number));
    }
    if (column.type == Text && value.size() > 255)
        return Failure{QStringLiteral("the text is longer than 255 characters")};
    Result<QByteArray> stored = encodeText(value, column.type == Memo, compress);
    if (!stored || column.type != Memo)
        return stored;
    return encodeMemo(*stored);
}

// A row: the column count, the fixed-length values, the variable-length values, then from
// the end backwards the null mask, the count of variable columns, their start offsets and
// the offset where the variable data ends. Jet 3 keeps offsets in one byte and counts the
// 256-byte steps in a jump table; Jet 4 keeps them in two bytes.
Result<QByteArray> JetFileWriter::encodeRow(const Table &table, const JetRow &row)
{
    QByteArray fixedArea(table.fixedLength, '\0');
    QList<QByteArray> varValues(table.varCount);
    QByteArray nullMask((table.columns.size() + 7) / 8, '\0');
    for (int c = 0; c < table.columns.size(); ++c) {
        const Column &column = table.columns[c];
        if (!row[c])
            continue;
        Result<QByteArray> value = encodeValue(column, *row[c], table.compressText);
        if (!value)
            return Failure{QStringLiteral("column \"%1\": %2").arg(column.name, value.error())};
        nullMask[c / 8] = char(nullMask[c / 8] | (1 << (c % 8))); // 1: not NULL
        if (column.fixed())
            fixedArea.replace(column.fixedOffset, value->size(), *value);
        else
            varValues[column.varIndex] = *value;
    }
    const int count = int(table.columns.size());
    QByteArray bytes = m_jet4 ? le16(quint16(count)) : QByteArray(1, char(count));
    bytes += fixedArea;
    if (table.varCount == 0)
        return bytes + nullMask;

    qsizetype varData = 0;
    for (const QByteArray &value : std::as_const(varValues))
        varData += value.size();
    // Jet 3 reads as many jump entries as the row has 256-byte steps; bytes ahead of the
    // first value keep every entry a real one (none past the end of the data).
    int padding = 0;
    int jumps = 0;
    if (!m_jet4) {
        const int trailer = 1 + table.varCount + 1 + int(nullMask.size());
        for (;; ++padding) {
            const int end = int(bytes.size() + padding + varData);
            jumps = 0;
            while ((end + trailer + jumps - 1) / 256 != jumps)
                jumps = (end + trailer + jumps - 1) / 256;
            if (jumps <= end / 256)
                break;
        }
    }
    bytes += QByteArray(padding, '\0');
    QList<int> offsets;
    for (const QByteArray &value : std::as_const(varValues)) {
        offsets.append(int(bytes.size()));
        bytes += value;
    }
    offsets.append(int(bytes.size())); // where the variable data ends
    QByteArray trailer;
    for (int i = int(offsets.size()) - 1; i >= 0; --i)
        trailer += m_jet4 ? le16(quint16(offsets[i])) : QByteArray(1, char(offsets[i] & 0xff));
    if (!m_jet4) {
        // Entry k: which offset is the first at or past 256 * k; kept last to first.
        QByteArray jumpTable;
        for (int k = 1; k <= jumps; ++k) {
            int first = 0;
            while (offsets[first] < 256 * k)
                ++first;
            jumpTable.prepend(char(first));
        }
        trailer += jumpTable;
    }
    trailer += m_jet4 ? le16(quint16(table.varCount)) : QByteArray(1, char(table.varCount));
    return bytes + trailer + nullMask;
}

// Data and long-value pages: type 0x01, the free space, the owner (the table's definition
// page, or "LVAL"), the row count and the rows' offsets; rows are stored from the page's
// end towards its header.
void JetFileWriter::writeDataPage(int page, const QByteArray &owner, const QList<QByteArray> &rows)
{
    QByteArray p(m_pageSize, '\0');
    p[0] = 0x01;
    p[1] = 0x01;
    p.replace(4, 4, owner);
    put16(p, m_rowCountAt, quint16(rows.size()));
    int end = m_pageSize;
    for (int i = 0; i < rows.size(); ++i) {
        end -= int(rows[i].size());
        p.replace(end, rows[i].size(), rows[i]);
        put16(p, m_rowCountAt + 2 + 2 * i, quint16(end));
    }
    put16(p, 2, quint16(end - (m_rowCountAt + 2 + 2 * rows.size())));
    m_file.replace(qsizetype(page) * m_pageSize, m_pageSize, p);
}

Result<void> JetFileWriter::writeTable(int tdefPage, const Table &table, const QList<JetRow> &rows)
{
    QList<int> pages;
    QList<QByteArray> pageRows;
    int used = 0;
    int page = -1;
    for (int r = 0; r < rows.size(); ++r) {
        if (rows[r].size() != table.columns.size())
            return Failure{QStringLiteral("Row %1 has %2 values for %3 columns.")
                               .arg(r + 1)
                               .arg(rows[r].size())
                               .arg(table.columns.size())};
        if (page < 0)
            pages.append(page = newPage());
        Result<QByteArray> row = encodeRow(table, rows[r]);
        if (!row)
            return Failure{QStringLiteral("Row %1, %2.").arg(r + 1).arg(row.error())};
        if (row->size() > pageRoom())
            return Failure{QStringLiteral("Row %1 takes %2 bytes, more than a page holds.")
                               .arg(r + 1)
                               .arg(row->size())};
        // A row number is one byte in a row's address.
        if (m_rowCountAt + 2 + 2 * (pageRows.size() + 1) + used + row->size() > m_pageSize
            || pageRows.size() == 256) {
            writeDataPage(page, le32(quint32(tdefPage)), pageRows);
            pageRows.clear();
            used = 0;
            pages.append(page = newPage());
        }
        pageRows.append(*row);
        used += int(row->size());
    }
    if (page >= 0)
        writeDataPage(page, le32(quint32(tdefPage)), pageRows);
    m_tablePages.append(pages);
    return writeTableDefinition(tdefPage, table, int(rows.size()),
                                int(m_tablePages.size() - 1) * 2);
}

Result<void>
JetFileWriter::writeTableDefinition(int page, const Table &table, int rowCount, int mapRow)
{
    QByteArray p(m_pageSize, '\0');
    p[0] = 0x02; // a table definition page
    p[1] = 0x01;
    if (!m_jet4)
        p.replace(2, 2, "VC");
    // The definition block; Jet 4 has twenty bytes more before the column counts.
    const int counts = m_jet4 ? 40 : 20;
    put32(p, m_jet4 ? 16 : 12, quint32(rowCount));
    p[counts] = table.name.startsWith(QLatin1String("MSys")) ? 0x53 : 0x4e; // system or user
    put16(p, counts + 1, quint16(table.columns.size()));                    // max_cols
    put16(p, counts + 3, quint16(table.varCount));
    put16(p, counts + 5, quint16(table.columns.size()));
    // counts + 7 and + 11: no logical and no real index.
    put32(p, counts + 15, dataPointer(1, mapRow));     // pages owned by the table
    put32(p, counts + 19, dataPointer(1, mapRow + 1)); // owned pages with free space
    int at = counts + 23;
    const int entry = m_jet4 ? 25 : 18;
    for (int c = 0; c < table.columns.size(); ++c, at += entry) {
        const Column &column = table.columns[c];
        const bool text = column.type == Text || column.type == Memo;
        p[at] = char(column.type);
        const int num = m_jet4 ? at + 5 : at + 1;
        put16(p, num, quint16(c));                                        // col_num
        put16(p, num + 2, quint16(column.fixed() ? 0 : column.varIndex)); // offset_V
        put16(p, num + 4, quint16(c));                                    // col_num again
        if (text)
            put16(p, num + 6, 0x409); // "General" sort order
        if (text && !m_jet4)
            put16(p, num + 8, quint16(m_options.codePage));
        const int flags = m_jet4 ? at + 15 : at + 13;
        p[flags] = char(column.fixed() ? 0x03 : 0x02); // 0x01 fixed length, 0x02 nullable
        if (m_jet4 && text && table.compressText)
            p[flags + 1] = 0x01; // compressed unicode
        const int fixedAt = m_jet4 ? at + 21 : at + 14;
        put16(p, fixedAt, quint16(column.fixed() ? column.fixedOffset : 0));
        const int length = column.type == Text ? (m_jet4 ? 510 : 255)
                           : column.fixed()    ? column.fixedLength()
                                               : 0;
        put16(p, fixedAt + 2, quint16(length));
    }
    for (const Column &column : table.columns) {
        const Result<QByteArray> name = encodeText(column.name, false, false);
        if (!name)
            return Failure{QStringLiteral("Column \"%1\": %2.").arg(column.name, name.error())};
        const QByteArray length
            = m_jet4 ? le16(quint16(name->size())) : QByteArray(1, char(name->size()));
        p.replace(at, length.size() + name->size(), length + *name);
        at += int(length.size() + name->size());
    }
    p.replace(at, 2, le16(0xffff)); // no per-column page maps
    at += 2;
    if (at > m_pageSize)
        return Failure{QStringLiteral("The definition of the table \"%1\" does not fit one page.")
                           .arg(table.name)};
    put32(p, 8, quint32(at - 8)); // tdef_len
    if (m_jet4)
        put16(p, 2, quint16(m_pageSize - at - 8));
    m_file.replace(qsizetype(page) * m_pageSize, m_pageSize, p);
    return {};
}

// An inline usage map (type 0): the first page it covers, then one bit per page.
QByteArray JetFileWriter::usageMap(const QList<int> &pages) const
{
    const int minimum = m_jet4 ? 64 : 128;
    const int last = pages.isEmpty() ? 0 : *std::max_element(pages.begin(), pages.end());
    QByteArray bits(std::max(minimum, last / 8 + 1), '\0');
    for (int page : pages)
        bits[page / 8] = char(bits[page / 8] | (1 << (page % 8)));
    return QByteArray(1, '\0') + le32(0) + bits;
}

// Page 0: the signature, the Jet version and, masked, the code page, key and sort order.
void JetFileWriter::writeHeader()
{
    QByteArray p(m_pageSize, '\0');
    p[1] = 0x01;
    p.replace(4, 16, QByteArray("Standard Jet DB\0", 16));
    put32(p, 0x14, m_jet4 ? 1 : 0);
    if (m_jet4)
        put32(p, 0x6e, 0x409); // default sort order
    else
        put16(p, 0x3a, 0x409);
    put16(p, 0x3c, quint16(m_options.codePage));
    // 0x3e: database key 0, not encrypted; 0x42: no password.
    rc4Mask(p.data() + 0x18, m_jet4 ? 128 : 126);
    m_file.replace(0, m_pageSize, p);
}

Result<QByteArray> JetFileWriter::write(const QList<JetRow> &rows)
{
    if (!m_jet4 && m_options.codePage != 1252
        && !QStringEncoder(QStringLiteral("windows-%1").arg(m_options.codePage).toLatin1())
                .isValid())
        return Failure{QStringLiteral("The code page %1 is unknown.").arg(m_options.codePage)};
    const QStringList names = m_options.columns.isEmpty() ? jetContactColumns() : m_options.columns;
    const auto is = [](const QString &name, const char *field) {
        return name.compare(QLatin1String(field), Qt::CaseInsensitive) == 0;
    };
    QList<std::pair<QString, quint8>> columns;
    for (const QString &name : names) {
        const quint8 type = is(name, "contactid") ? LongInteger : is(name, "Notes") ? Memo : Text;
        columns.append({name, type});
    }
    const Table table = makeTable(m_options.tableName, columns, m_options.compressText);
    // The catalog lists every object by name; its definition is always on page 2.
    const Table catalog = makeTable(QStringLiteral("MSysObjects"),
                                    {{QStringLiteral("Id"), LongInteger},
                                     {QStringLiteral("ParentId"), LongInteger},
                                     {QStringLiteral("Name"), Text},
                                     {QStringLiteral("Type"), Integer},
                                     {QStringLiteral("Flags"), LongInteger},
                                     {QStringLiteral("LvProp"), Ole}},
                                    false); // names in the catalog stay plain
    for (int page = 0; page < 4; ++page)
        newPage(); // header, usage maps, catalog definition, table definition
    const int tablePage = 3;
    const auto number = [](qint32 v) {
        return std::optional<QString>(QString::number(v));
    };
    const QList<JetRow> catalogRows{
        // Type 1 is a table; flag 0x80000002 marks a system table.
        {number(2), number(0), QStringLiteral("MSysObjects"), number(1), number(qint32(0x80000002)),
         std::nullopt},
        {number(tablePage), number(0), m_options.tableName, number(1), number(0), std::nullopt}};
    Result<void> written = writeTable(2, catalog, catalogRows);
    if (!written)
        return Failure{QStringLiteral("The table name cannot be stored: %1").arg(written.error())};
    written = writeTable(tablePage, table, rows);
    if (!written)
        return Failure{written.error()};

    // Page 1 holds the usage maps, each a row; an inline map has one bit a page.
    QList<QByteArray> maps;
    qsizetype mapBytes = 0;
    for (const QList<int> &pages : std::as_const(m_tablePages)) {
        maps << usageMap(pages) << usageMap({});
        mapBytes += maps.last().size() + maps[maps.size() - 2].size() + 4;
    }
    if (m_rowCountAt + 2 + mapBytes > m_pageSize)
        return Failure{QStringLiteral("%1 pages are too many for the usage maps written here.")
                           .arg(pageCount())};
    writeDataPage(1, le32(0), maps);
    writeHeader();
    return m_file;
}

} // namespace

QStringList jetContactColumns()
{
    QStringList names;
    for (int i = 0; i < contactFieldCount; ++i)
        names.append(columnName(fieldAt(i)));
    return names;
}

Result<QByteArray> jetFileBytes(const JetWriteOptions &options, const QList<JetRow> &rows)
{
    return JetFileWriter(options).write(rows);
}

Result<void>
writeJetFile(const QString &path, const JetWriteOptions &options, const QList<JetRow> &rows)
{
    const Result<QByteArray> bytes = jetFileBytes(options, rows);
    if (!bytes)
        return Failure{
            fileProblem(QStringLiteral("The Jet file could not be made."), path, bytes.error())};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit())
        return Failure{fileProblem(QStringLiteral("The Jet file could not be written."), path,
                                   file.errorString())};
    return {};
}

QList<JetRow> jetSampleRows(int count, quint32 seed, bool nonLatin)
{
    static const QStringList lastNames{"Smith",    "O'Brien",   "Müller", "García", "Nguyen",
                                       "Kowalski", "Andersson", "Dupont", "Rossi",  "Ivanova"};
    static const QStringList firstNames{"Anna",  "Ben",   "Chloé", "David", "Eve",
                                        "Frank", "Grace", "Hugo",  "Iris",  "José"};
    static const QStringList foreignNames{QStringLiteral("Παπαδόπουλος"), QStringLiteral("山田"),
                                          QStringLiteral("Ελένη"), QStringLiteral("太郎")};
    static const QStringList cities{"Springfield", "Lyon", "Köln", "Ålesund", "Porto"};
    QRandomGenerator random(seed);
    const auto pick = [&random](const QStringList &from) {
        return from[int(random.bounded(quint32(from.size())))];
    };
    const auto digits = [&random](int n) {
        QString s;
        for (int i = 0; i < n; ++i)
            s += QChar(u'0' + random.bounded(10));
        return s;
    };
    QList<JetRow> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        JetRow row(contactFieldCount);
        const auto set = [&row](ContactField f, const QString &v) {
            row[fieldIndex(f)] = v;
        };
        set(ContactField::ContactId, QString::number(i + 1));
        set(ContactField::LastName, nonLatin && i % 3 == 0 ? pick(foreignNames) : pick(lastNames));
        set(ContactField::FirstName,
            nonLatin && i % 4 == 1 ? pick(foreignNames) : pick(firstNames));
        if (i % 5 == 0)
            set(ContactField::Middle, QString(QChar(u'A' + random.bounded(26))));
        set(ContactField::NickName, i % 7 == 0 ? QString() : pick(firstNames).left(3));
        set(ContactField::Address,
            QStringLiteral("%1 %2 Street").arg(random.bounded(1, 9999)).arg(pick(lastNames)));
        set(ContactField::City, pick(cities));
        set(ContactField::Zip, digits(5));
        set(ContactField::Country, i % 2 ? QStringLiteral("USA") : QStringLiteral("France"));
        set(ContactField::HomePhone,
            QStringLiteral("(%1) %2-%3").arg(digits(3), digits(3), digits(4)));
        if (i % 3 == 0)
            set(ContactField::WorkPhone, QStringLiteral("+1 ") + digits(10));
        set(ContactField::Email1, QStringLiteral("person%1@example.org").arg(i + 1));
        if (i % 4 == 0)
            set(ContactField::Notes, QStringLiteral("Met at the fair, %1; likes \"tea\".").arg(i));
        rows.append(row);
    }
    return rows;
}
