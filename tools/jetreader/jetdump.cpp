#include "jetdump.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <iconv.h>

namespace jetreader {

namespace {

constexpr std::uint32_t nullLength = 0xFFFFFFFF;
// A text field holds at most a page; its UTF-8 fits this many bytes.
constexpr std::size_t textBindBytes = 64 * 1024;
constexpr unsigned int maxColumns = 255;

void appendU32(std::string &bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char((value >> shift) & 0xFF));
}

void appendString(std::string &bytes, const char *text, std::size_t length)
{
    appendU32(bytes, std::uint32_t(length));
    bytes.append(text, length);
}

void writeFrame(std::FILE *out, char kind, const std::string &payload)
{
    std::string frame(1, kind);
    appendU32(frame, std::uint32_t(payload.size()));
    frame += payload;
    std::fwrite(frame.data(), 1, frame.size(), out);
}

MdbCatalogEntry *findContactTable(MdbHandle *mdb)
{
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE
            && g_ascii_strcasecmp(entry->object_name, "contactsdb") == 0)
            return entry;
    }
    return nullptr;
}

// libmdb decodes Jet 3 text from the code page the file names; one that iconv does not know
// is refused here, by its number, rather than left to libmdb.
bool knownCodePage(MdbHandle *mdb, std::FILE *out)
{
    if (IS_JET4(mdb) || mdb->f->code_page == 0)
        return true;
    const std::string name = "CP" + std::to_string(mdb->f->code_page);
    const iconv_t probe = iconv_open("UTF-8", name.c_str());
    if (probe == iconv_t(-1)) {
        writeFailure(out, ("The file's code page " + std::to_string(mdb->f->code_page)
                           + " is not known here.")
                              .c_str());
        return false;
    }
    iconv_close(probe);
    return true;
}

// libmdb follows a memo's chain of pages until it has as many bytes as the memo says it
// holds: a chain that loops or ends early gives it a value made of repeated or missing
// pages, without a word. The chain is walked here first. Answers the reason it is unsound,
// or nullptr. The row's page is mdb->pg_buf, which following the chain leaves in place.
const char *unsoundMemo(MdbHandle *mdb, const MdbColumn &column)
{
    if (column.col_type != MDB_MEMO || column.cur_value_len < 12 || column.cur_value_start < 0
        || std::size_t(column.cur_value_start) + 12 > std::size_t(mdb->fmt->pg_size))
        return nullptr;
    const unsigned char *field = mdb->pg_buf + column.cur_value_start;
    const guint32 lengthAndFlags = guint32(mdb_get_int32(const_cast<unsigned char *>(field), 0));
    if (lengthAndFlags & 0xC0000000) // in the row, or one record of its own: no chain
        return nullptr;
    const std::size_t length = lengthAndFlags & 0x3FFFFFFF;
    std::unordered_set<guint32> visited;
    std::size_t total = 0;
    for (guint32 pgRow = guint32(mdb_get_int32(const_cast<unsigned char *>(field), 4)); pgRow;) {
        if (!visited.insert(pgRow).second)
            return "The pages of a memo point back to each other.";
        void *buffer = nullptr;
        int offset = 0;
        std::size_t size = 0;
        if (mdb_find_pg_row(mdb, int(pgRow), &buffer, &offset, &size) != 0 || size < 4
            || std::size_t(offset) + size > std::size_t(mdb->fmt->pg_size))
            return "A page of a memo could not be read.";
        total += size - 4;
        pgRow = guint32(mdb_get_int32(buffer, offset));
    }
    if (total < length)
        return "A memo is shorter than it says: pages of it are missing.";
    return nullptr;
}

// The memo of the current row, whole, in text; empty for NULL. Answers the reason it cannot
// be had, or nullptr.
const char *
readMemo(MdbHandle *mdb, const MdbColumn &column, std::size_t maxValueBytes, std::string &text)
{
    text.clear();
    if (column.cur_value_len < 12 || column.cur_value_start < 0
        || std::size_t(column.cur_value_start) + 12 > std::size_t(mdb->fmt->pg_size))
        return nullptr;
    if (const char *reason = unsoundMemo(mdb, column))
        return reason;
    const std::size_t stored
        = guint32(mdb_get_int32(mdb->pg_buf + column.cur_value_start, 0)) & 0x3FFFFFFF;
    // A stored byte becomes at most three bytes of UTF-8. One byte more than a value may
    // have, so a value that fills the buffer is seen as cut.
    const std::size_t room = std::min(3 * stored, maxValueBytes) + 1;
    mdb_set_bind_size(mdb, std::max(room, textBindBytes));
    char *converted = mdb_col_to_string(mdb, mdb->pg_buf, column.cur_value_start, MDB_MEMO,
                                        column.cur_value_len);
    mdb_set_bind_size(mdb, textBindBytes);
    if (converted) {
        text = converted;
        g_free(converted);
    }
    if (text.size() >= maxValueBytes)
        return "A memo is longer than 16 MiB of text.";
    return nullptr;
}

struct TableCloser
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};

} // namespace

void prepareEnvironment()
{
    setenv("MDBICONV", "UTF-8", 1);
    unsetenv("MDB_JET3_CHARSET");
}

void writeFailure(std::FILE *out, const char *reason)
{
    writeFrame(out, 'X', reason);
}

bool dumpContacts(MdbHandle *mdb, std::FILE *out, std::size_t maxValueBytes)
{
    if (!knownCodePage(mdb, out))
        return false;
    if (!mdb_read_catalog(mdb, MDB_TABLE)) {
        writeFailure(out, "The list of tables could not be read.");
        return false;
    }
    MdbCatalogEntry *entry = findContactTable(mdb);
    if (!entry) {
        writeFailure(out, "The file has no table contactsdb.");
        return false;
    }
    std::unique_ptr<MdbTableDef, TableCloser> table(mdb_read_table(entry));
    if (!table || !mdb_read_columns(table.get()) || !table->columns) {
        writeFailure(out, "The table contactsdb could not be read.");
        return false;
    }
    mdb_rewind_table(table.get());
    // libmdb converts every value into a fresh buffer of its bind size: small for the short
    // fields (a text field is at most a page), and for each memo the size its header asks.
    mdb_set_bind_size(mdb, textBindBytes);

    const unsigned int columnCount = table->num_cols;
    // A damaged definition can claim any number; each column costs a buffer here.
    if (columnCount > maxColumns) {
        writeFailure(out, ("The table contactsdb claims " + std::to_string(columnCount)
                           + " columns; a Jet table has at most 255.")
                              .c_str());
        return false;
    }
    std::string header;
    appendU32(header, columnCount);
    std::vector<std::vector<char>> values(columnCount);
    std::vector<int> lengths(columnCount, 0);
    for (unsigned int i = 0; i < columnCount; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        appendString(header, column->name, std::strlen(column->name));
        // Memos are read below; OLE objects are pictures and documents, no contact field.
        if (column->col_type != MDB_MEMO && column->col_type != MDB_OLE) {
            values[i].resize(textBindBytes);
            mdb_bind_column(table.get(), int(i + 1), values[i].data(), &lengths[i]);
        }
    }
    writeFrame(out, 'H', header);

    std::uint32_t rows = 0;
    std::string row;
    std::string memo;
    while (mdb_fetch_row(table.get())) {
        row.clear();
        appendU32(row, columnCount);
        for (unsigned int i = 0; i < columnCount; ++i) {
            auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
            const char *value = values[i].data();
            std::size_t length = lengths[i] > 0 ? std::size_t(lengths[i]) : 0;
            if (column->col_type == MDB_MEMO) {
                if (const char *reason = readMemo(mdb, *column, maxValueBytes, memo)) {
                    writeFailure(out, reason);
                    return false;
                }
                value = memo.data();
                length = memo.size();
            }
            // libmdb gives an empty text as it gives NULL: both arrive as NULL, both mean
            // an empty field.
            if (length == 0)
                appendU32(row, nullLength);
            else
                appendString(row, value, length);
        }
        writeFrame(out, 'R', row);
        ++rows;
    }
    // libmdb ends the rows at a page it cannot read as if the table ended there.
    if (rows != table->num_rows) {
        writeFailure(out, ("The table says it holds " + std::to_string(table->num_rows)
                           + " rows, but " + std::to_string(rows) + " could be read.")
                              .c_str());
        return false;
    }
    std::string end;
    appendU32(end, rows);
    writeFrame(out, 'E', end);
    return true;
}

} // namespace jetreader
