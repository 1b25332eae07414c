#pragma once

#include <core/base/result.h>
#include <core/interchange/csv.h>

#include <QString>

#include <functional>
#include <optional>

// A file of contacts into the address book, whatever it holds: the one way in for the
// command-line tool and the window (drop, or "pelmora FILE"). The reader is chosen by the
// file's contents, contacts go from it to the importer one at a time, and nothing holds the
// file's contacts, so memory stays bounded whatever the file's size.
//
//   file -> reader (vCard, CSV, Jet) -> ReadSink -> readAhead -> ContactImporter
namespace interchange {

class ContactImporter;

enum class FileFormat { VCard, Csv, Jet };

// The reader a file needs, told by its first bytes: the Jet signature, or a first line that
// says BEGIN:VCARD. Where they tell nothing, its name does: .vcf and .vcard go to the vCard
// reader (which then says why the file holds no card), .csv and .txt to the CSV reader.
// Nothing when neither tells, or for a .mdb that does not start as a Jet file.
std::optional<FileFormat> fileFormatOf(const QString &path);

// One line of a file's report, as it comes.
struct ReportLine
{
    enum class Kind {
        NotStored, // a value that fits no field, "Label: value"
        Skipped,   // a card or row that could not be read, and why
        Remark,    // about the whole file: a Jet table without rows or without a field's column
    };
    Kind kind = Kind::Skipped;
    int line = 0; // where the card or row starts; 0 for the whole file
    QString text; // as the file has it: print it through printable()
};

// A file's report tells at most this many lines; the rest are only counted, so that a file of
// millions of bad cards cannot flood a terminal or a message.
constexpr int reportLinesPerFile = 100;

struct FileReadOptions
{
    // Read as this whatever the file holds (a Jet file is still known by its signature).
    // Without it: fileFormatOf, else CSV; a .mdb that is no Jet file fails.
    std::optional<FileFormat> format;
    // The CSV columns; nullptr picks the preset whose columns the header matches best.
    const CsvPreset *csvPreset = nullptr;
    // Whether values that fit no field are reported (not when they go to Notes).
    bool reportNotStored = true;
    // Each of the first reportLinesPerFile lines of the file's report, in file order.
    std::function<void(const ReportLine &)> report;
    // How far into the file the import is, in bytes (vCard and CSV).
    std::function<void(qint64 position)> progress;
};

// What one file gave.
struct FileReadSummary
{
    FileFormat format = FileFormat::Csv;
    int contacts = 0;
    int skipped = 0;
    int linesLeftOut = 0; // report lines past reportLinesPerFile, not told
};

// Reads the file through and keeps none of its contacts: how many there are, and the report.
Result<FileReadSummary> countContacts(const QString &path, const FileReadOptions &options);

// Reads the file into the importer, each contact as it is read; vCard and CSV are parsed on a
// thread of their own meanwhile. A failure of the importer is returned as it is (a Database
// failure), and so is the file's (Input); either way the caller drops the importer, which
// then rolls back.
Result<FileReadSummary>
importFile(const QString &path, ContactImporter &importer, const FileReadOptions &options);

} // namespace interchange
