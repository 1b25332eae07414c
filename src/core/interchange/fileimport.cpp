#include "fileimport.h"

#include <core/interchange/contactimport.h>
#include <core/interchange/jetimport.h>
#include <core/interchange/readahead.h>
#include <core/interchange/vcard.h>

#include <QFile>
#include <QFileInfo>

namespace interchange {

namespace {

// A vCard file starts with its first card, after a byte-order mark and blank lines at most.
bool startsWithVCard(QByteArrayView start)
{
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.sliced(3);
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    };
    while (!start.isEmpty() && blank(start.front()))
        start = start.sliced(1);
    const QByteArrayView begin("BEGIN:VCARD");
    return start.size() >= begin.size()
           && start.first(begin.size()).compare(begin, Qt::CaseInsensitive) == 0
           && (start.size() == begin.size() || blank(start.at(begin.size())));
}

bool hasSuffix(const QString &path, const char *suffix)
{
    return QFileInfo(path).suffix().compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0;
}

Result<FileFormat> formatToRead(const QString &path, const FileReadOptions &options)
{
    if (isJetFile(path))
        return FileFormat::Jet;
    if (options.format)
        return *options.format;
    if (const std::optional<FileFormat> format = fileFormatOf(path))
        return *format;
    if (hasSuffix(path, "mdb"))
        return Failure::input(
            QStringLiteral("%1: not an Access (Jet) file: it does not start as one.").arg(path));
    return FileFormat::Csv;
}

// Counts what a file gave and tells the first lines of its report.
class FileReport
{
public:
    FileReport(const FileReadOptions &options, FileFormat format)
        : m_options(options)
    {
        m_summary.format = format;
    }

    void contact(const ImportedContact &contact)
    {
        ++m_summary.contacts;
        if (!m_options.reportNotStored)
            return;
        for (const QString &extra : contact.extras)
            tell(ReportLine::Kind::NotStored, contact.line, extra);
    }

    void skipped(const SkippedEntry &skip)
    {
        ++m_summary.skipped;
        tell(ReportLine::Kind::Skipped, skip.line, skip.reason);
    }

    void jetTable(const JetReadReport &table)
    {
        if (table.rows == 0)
            tell(ReportLine::Kind::Remark, 0, QStringLiteral("the table contactsdb has no rows."));
        for (const QString &field : table.missingFields)
            tell(ReportLine::Kind::Remark, 0,
                 QStringLiteral("no column \"%1\": left empty").arg(field));
        for (const QString &column : table.extraColumns)
            tell(ReportLine::Kind::NotStored, 0, QStringLiteral("column \"%1\"").arg(column));
    }

    const FileReadSummary &summary() const { return m_summary; }

private:
    void tell(ReportLine::Kind kind, int line, const QString &text)
    {
        if (m_told == reportLinesPerFile) {
            ++m_summary.linesLeftOut;
            return;
        }
        ++m_told;
        if (m_options.report)
            m_options.report({kind, line, text});
    }

    const FileReadOptions &m_options;
    FileReadSummary m_summary;
    int m_told = 0;
};

Result<FileReadSummary> readFile(const QString &path,
                                 const FileReadOptions &options,
                                 const std::function<Result<void>(ImportedContact &&)> &take,
                                 bool readOnOtherThread)
{
    const Result<FileFormat> format = formatToRead(path, options);
    if (!format)
        return format.failure();
    FileReport report(options, *format);
    const ReadSink sink{[&](ImportedContact &&contact) -> Result<void> {
                            report.contact(contact);
                            return take(std::move(contact));
                        },
                        [&](SkippedEntry &&skip) {
                            report.skipped(skip);
                        }};
    if (*format == FileFormat::Jet) {
        const Result<JetReadReport> table = readJetFile(path, sink);
        if (!table)
            return table.failure();
        report.jetTable(*table);
        return report.summary();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure::input(fileProblem(QStringLiteral("The contacts could not be read."), path,
                                          file.errorString()));
    const auto read = [&](const ReadSink &to) {
        return *format == FileFormat::VCard ? readVCards(file, path, to)
                                            : readCsv(file, path, options.csvPreset, to);
    };
    const Result<void> done
        = readOnOtherThread ? readAhead(file, read, sink, options.progress) : read(sink);
    if (!done)
        return done.failure();
    return report.summary();
}

} // namespace

std::optional<FileFormat> fileFormatOf(const QString &path)
{
    if (isJetFile(path))
        return FileFormat::Jet;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && startsWithVCard(file.read(64 * 1024)))
        return FileFormat::VCard;
    if (hasSuffix(path, "vcf") || hasSuffix(path, "vcard"))
        return FileFormat::VCard;
    if (hasSuffix(path, "csv") || hasSuffix(path, "txt"))
        return FileFormat::Csv;
    return std::nullopt;
}

Result<FileReadSummary> countContacts(const QString &path, const FileReadOptions &options)
{
    // Counting alone leaves nothing for a second thread to overlap with.
    return readFile(
        path, options, [](ImportedContact &&) -> Result<void> { return {}; }, false);
}

Result<FileReadSummary>
importFile(const QString &path, ContactImporter &importer, const FileReadOptions &options)
{
    return readFile(
        path, options, [&importer](ImportedContact &&contact) { return importer.add(contact); },
        true);
}

} // namespace interchange
