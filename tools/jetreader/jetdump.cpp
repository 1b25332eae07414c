#include "jetdump.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <iconv.h>

namespace jetreader {

namespace {

constexpr std::uint32_t nullLength = 0xFFFFFFFF;

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

// libmdb decodes Jet 3 text as windows-1252 unless told otherwise; the file's own code page
// is only known once it is open, so the decoder is set up again for it.
bool useFileCodePage(MdbHandle *mdb, std::FILE *out)
{
    if (IS_JET4(mdb) || mdb->f->code_page == 0 || mdb->f->code_page == 1252)
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
    setenv("MDB_JET3_CHARSET", name.c_str(), 1);
    mdb_iconv_close(mdb);
    mdb_iconv_init(mdb);
    return true;
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

bool dumpContacts(MdbHandle *mdb, std::FILE *out)
{
    if (!useFileCodePage(mdb, out))
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
    // Raised only now, for our own buffers: libmdb reads its catalog into fixed buffers of
    // its own, and a larger bind size would let a long catalog value run further past them.
    // One more byte than the largest value, so a value that fills the buffer is seen as cut.
    mdb_set_bind_size(mdb, maxValueBytes + 1);

    const unsigned int columnCount = table->num_cols;
    std::string header;
    appendU32(header, columnCount);
    // Bound buffers are only written as far as a value reaches, so the untouched rest of
    // these large allocations costs no memory.
    std::vector<std::unique_ptr<char, decltype(&std::free)>> values;
    std::vector<int> lengths(columnCount, 0);
    for (unsigned int i = 0; i < columnCount; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        appendString(header, column->name, std::strlen(column->name));
        // OLE objects are pictures and documents, nothing a contact field holds.
        const bool wanted = column->col_type != MDB_OLE;
        values.emplace_back(wanted ? static_cast<char *>(std::malloc(maxValueBytes + 1)) : nullptr,
                            &std::free);
        if (wanted)
            mdb_bind_column(table.get(), int(i + 1), values.back().get(), &lengths[i]);
    }
    writeFrame(out, 'H', header);

    std::uint32_t rows = 0;
    std::string row;
    while (mdb_fetch_row(table.get())) {
        row.clear();
        appendU32(row, columnCount);
        for (unsigned int i = 0; i < columnCount; ++i) {
            const std::size_t length = lengths[i] > 0 ? std::size_t(lengths[i]) : 0;
            if (length > maxValueBytes - 1) {
                writeFailure(out, "A value is longer than 16 MiB.");
                return false;
            }
            // libmdb gives an empty text as it gives NULL: both arrive as NULL, both mean
            // an empty field.
            if (length == 0 || !values[i])
                appendU32(row, nullLength);
            else
                appendString(row, values[i].get(), length);
        }
        writeFrame(out, 'R', row);
        ++rows;
    }
    std::string end;
    appendU32(end, rows);
    writeFrame(out, 'E', end);
    return true;
}

} // namespace jetreader
