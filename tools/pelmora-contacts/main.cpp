// pelmora-contacts: contacts in and out of the address book from the command line.
//   pelmora-contacts import FILE... [--db PATH] [--format vcard|csv] [--preset NAME]
//                    (an Access .mdb file is known by its contents and read whole)
//                    [--map FILE] [--extras-to-notes] [--dry-run] [--strict]
//   pelmora-contacts export FILE [--db PATH] [--format vcard3|vcard4|csv] [--preset NAME]
//                    [--where FIELD=TEXT]
//   pelmora-contacts duplicates [--db PATH]
//   pelmora-contacts merge KEEP OTHER [--db PATH] [--rowid] [--dry-run]
// It links the core only: no window, no message box.
#include <core/contacts/contactfields.h>
#include <core/files/apppath.h>
#include <core/interchange/contactimport.h>
#include <core/interchange/csv.h>
#include <core/interchange/duplicates.h>
#include <core/interchange/jetimport.h>
#include <core/interchange/vcard.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstdio>
#include <optional>

namespace {

// The exit statuses, as --help tells them.
enum Exit { Done = 0, DoneWithSkips = 1, BadInput = 2, DatabaseError = 3 };

const char *const exitHelp = "Exit status: 0 all done; 1 done, but some cards or rows were "
                             "skipped; 2 unreadable input or bad usage, nothing written; "
                             "3 the database could not be used, nothing written.";

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

int usage(const QCommandLineParser &parser, const QString &problem)
{
    say(problem);
    say(parser.helpText());
    return BadInput;
}

std::optional<interchange::CsvPreset> presetNamed(const QString &name)
{
    for (const interchange::CsvPreset &preset : interchange::csvPresets()) {
        if (preset.name.compare(name, Qt::CaseInsensitive) == 0)
            return preset;
    }
    return std::nullopt;
}

QString presetNames()
{
    QStringList names;
    for (const interchange::CsvPreset &preset : interchange::csvPresets())
        names << preset.name;
    return names.join(QStringLiteral(", "));
}

QString formatOf(const QString &file, const QString &given)
{
    if (!given.isEmpty())
        return given.toLower();
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix == QLatin1String("vcf") || suffix == QLatin1String("vcard"))
        return QStringLiteral("vcard");
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt"))
        return QStringLiteral("csv");
    return {};
}

int runImport(const QCommandLineParser &parser, const QStringList &files, const QString &db)
{
    if (files.isEmpty())
        return usage(parser, QStringLiteral("import: name at least one file."));
    std::optional<interchange::CsvPreset> preset;
    if (parser.isSet(QStringLiteral("map"))) {
        const Result<interchange::CsvPreset> mapping
            = interchange::loadCsvMapping(parser.value(QStringLiteral("map")));
        if (!mapping) {
            say(mapping.error());
            return BadInput;
        }
        preset = *mapping;
    } else if (parser.isSet(QStringLiteral("preset"))) {
        preset = presetNamed(parser.value(QStringLiteral("preset")));
        if (!preset)
            return usage(parser, QStringLiteral("There is no preset \"%1\"; there are: %2.")
                                     .arg(parser.value(QStringLiteral("preset")), presetNames()));
    }

    interchange::ImportOptions options;
    options.extrasToNotes = parser.isSet(QStringLiteral("extras-to-notes"));
    options.dryRun = parser.isSet(QStringLiteral("dry-run"));
    const bool strict = parser.isSet(QStringLiteral("strict"));
    // One transaction for every file: contacts go in as they are read, and an unreadable
    // file, a skip under --strict or a failed write leaves the database as it was.
    Result<std::unique_ptr<interchange::ContactImporter>> importer
        = interchange::ContactImporter::begin(db, options);
    if (!importer) {
        say(importer.error());
        return DatabaseError;
    }
    int skipped = 0;
    std::optional<QString> writeFailure;
    for (const QString &path : files) {
        if (interchange::isJetFile(path)) {
            const Result<interchange::JetReadReport> read = interchange::readJetFile(
                path, [&](const ImportedContact &contact) -> Result<void> {
                    Result<void> added = (*importer)->add(contact);
                    if (!added)
                        writeFailure = added.error();
                    return added;
                });
            if (writeFailure) {
                say(*writeFailure);
                return DatabaseError;
            }
            if (!read) {
                say(read.error());
                return BadInput;
            }
            if (read->rows == 0)
                say(QStringLiteral("%1: the table contactsdb has no rows.").arg(path));
            for (const QString &field : read->missingFields)
                say(QStringLiteral("%1: no column \"%2\": left empty").arg(path, field));
            for (const QString &column : read->extraColumns)
                say(QStringLiteral("%1: not stored: column \"%2\"").arg(path, column));
            continue;
        }
        const QString format = formatOf(path, parser.value(QStringLiteral("format")));
        if (QFileInfo(path).suffix().compare(QLatin1String("mdb"), Qt::CaseInsensitive) == 0
            && format.isEmpty()) {
            say(QStringLiteral("%1: not an Access (Jet) file: it does not start as one.")
                    .arg(path));
            return BadInput;
        }
        if (format != QLatin1String("vcard") && format != QLatin1String("csv"))
            return usage(parser,
                         QStringLiteral("%1: say --format vcard or --format csv.").arg(path));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            say(QStringLiteral("%1: %2").arg(path, file.errorString()));
            return BadInput;
        }
        const auto contactRead = [&](ImportedContact &&contact) {
            if (writeFailure)
                return;
            if (!options.extrasToNotes) {
                for (const QString &extra : contact.extras)
                    say(QStringLiteral("%1:%2: not stored: %3")
                            .arg(path)
                            .arg(contact.line)
                            .arg(extra));
            }
            if (Result<void> added = (*importer)->add(contact); !added)
                writeFailure = added.error();
        };
        const auto entrySkipped = [&](const SkippedEntry &skip) {
            say(QStringLiteral("%1:%2: skipped: %3").arg(path).arg(skip.line).arg(skip.reason));
            ++skipped;
        };
        Result<void> read;
        if (format == QLatin1String("vcard")) {
            read = interchange::readVCards(file, path, contactRead,
                                           [&](SkippedEntry &&skip) { entrySkipped(skip); });
        } else {
            const Result<QList<SkippedEntry>> rows
                = interchange::readCsv(file, path, preset ? &*preset : nullptr, contactRead);
            if (rows) {
                for (const SkippedEntry &skip : *rows)
                    entrySkipped(skip);
            } else {
                read = Failure{rows.error()};
            }
        }
        if (writeFailure) {
            say(*writeFailure);
            return DatabaseError;
        }
        if (!read) {
            say(read.error());
            return BadInput;
        }
        if (skipped > 0 && strict) {
            say(QStringLiteral("%1 skipped; nothing imported (--strict).").arg(skipped));
            return BadInput;
        }
    }
    const Result<interchange::ImportSummary> summary = (*importer)->finish();
    if (!summary) {
        say(summary.error());
        return DatabaseError;
    }
    for (const auto &[brought, given] : summary->renumbered)
        say(QStringLiteral("id %1 was taken: given %2").arg(brought, given));
    say(QStringLiteral("%1 %2 contacts into %3; %4 skipped.")
            .arg(options.dryRun ? QStringLiteral("Would import") : QStringLiteral("Imported"))
            .arg(summary->imported)
            .arg(db)
            .arg(skipped));
    return skipped > 0 ? DoneWithSkips : Done;
}

int runExport(const QCommandLineParser &parser, const QStringList &files, const QString &db)
{
    if (files.size() != 1)
        return usage(parser, QStringLiteral("export: name one file, or - for standard output."));
    const QString path = files.first();
    QString format = parser.value(QStringLiteral("format")).toLower();
    if (format.isEmpty()) {
        const QString guessed = formatOf(path, {});
        format = guessed == QLatin1String("vcard") ? QStringLiteral("vcard3") : guessed;
    }
    if (format.isEmpty())
        format = QStringLiteral("vcard3");
    if (format != QLatin1String("vcard3") && format != QLatin1String("vcard4")
        && format != QLatin1String("csv"))
        return usage(parser, QStringLiteral("export: --format is vcard3, vcard4 or csv."));
    interchange::CsvPreset preset = interchange::csvPresets().constFirst();
    if (parser.isSet(QStringLiteral("preset"))) {
        const std::optional<interchange::CsvPreset> named
            = presetNamed(parser.value(QStringLiteral("preset")));
        if (!named)
            return usage(parser, QStringLiteral("There is no preset \"%1\"; there are: %2.")
                                     .arg(parser.value(QStringLiteral("preset")), presetNames()));
        preset = *named;
    }

    ContactField whereField = ContactField::ContactId;
    QString whereText;
    if (parser.isSet(QStringLiteral("where"))) {
        const QString where = parser.value(QStringLiteral("where"));
        const qsizetype equals = where.indexOf(QLatin1Char('='));
        std::optional<ContactField> field;
        for (int i = 0; i < contactFieldCount && equals > 0; ++i) {
            if (columnName(fieldAt(i)).compare(where.left(equals), Qt::CaseInsensitive) == 0)
                field = fieldAt(i);
        }
        if (!field)
            return usage(parser, QStringLiteral("--where wants FIELD=TEXT with one of the "
                                                "seventeen field names."));
        whereField = *field;
        whereText = where.mid(equals + 1);
    }
    // Written as read, one contact at a time. A file is replaced only once it is whole, so
    // a failed export leaves an existing file as it was.
    QFile standardOutput;
    QSaveFile file(path);
    QIODevice *out = &file;
    if (path == QLatin1String("-")) {
        out = &standardOutput;
        if (!standardOutput.open(stdout, QIODevice::WriteOnly)) {
            say(QStringLiteral("standard output: %1").arg(standardOutput.errorString()));
            return BadInput;
        }
    } else if (!file.open(QIODevice::WriteOnly)) {
        say(QStringLiteral("%1: %2").arg(path, file.errorString()));
        return BadInput;
    }
    const auto version = format == QLatin1String("vcard4") ? interchange::VCardVersion::V4
                                                           : interchange::VCardVersion::V3;
    const bool csv = format == QLatin1String("csv");
    bool written = !csv || out->write(interchange::csvHeader(preset)) >= 0;
    const Result<int> contacts = interchange::forEachContact(
        db,
        [&](const ContactValues &values) {
            const QByteArray bytes = csv ? interchange::csvRow(values, preset)
                                         : interchange::writeVCard(values, version);
            written = written && out->write(bytes) == bytes.size();
        },
        whereField, whereText);
    if (!contacts) {
        say(contacts.error());
        return DatabaseError;
    }
    if (!written || (out == &file && !file.commit())) {
        say(QStringLiteral("%1: %2").arg(
            path == QLatin1String("-") ? QStringLiteral("standard output") : path,
            out->errorString()));
        return BadInput;
    }
    say(QStringLiteral("Exported %1 contacts from %2.").arg(*contacts).arg(db));
    return Done;
}

QString describe(const interchange::StoredContact &contact)
{
    const ContactValues &v = contact.values;
    QStringList parts{v[fieldIndex(ContactField::LastName)] + QStringLiteral(", ")
                      + v[fieldIndex(ContactField::FirstName)]};
    for (ContactField field : {ContactField::Email1, ContactField::HomePhone, ContactField::Cell}) {
        if (!v[fieldIndex(field)].isEmpty())
            parts << v[fieldIndex(field)];
    }
    return QStringLiteral("  id %1 (rowid %2): %3")
        .arg(v[fieldIndex(ContactField::ContactId)])
        .arg(contact.rowid)
        .arg(parts.join(QStringLiteral("; ")));
}

int runDuplicates(const QString &db)
{
    const Result<QList<interchange::StoredContact>> contacts = interchange::readStoredContacts(db);
    if (!contacts) {
        say(contacts.error());
        return DatabaseError;
    }
    QHash<qint64, const interchange::StoredContact *> byRowid;
    for (const interchange::StoredContact &contact : *contacts)
        byRowid.insert(contact.rowid, &contact);
    const QList<interchange::DuplicateGroup> groups = interchange::findDuplicates(*contacts);
    for (const interchange::DuplicateGroup &group : groups) {
        QStringList reasons;
        for (interchange::DuplicateGroup::Reason reason : group.reasons)
            reasons << interchange::reasonText(reason);
        std::printf("%s\n", qPrintable(reasons.join(QStringLiteral(", "))));
        for (qint64 rowid : group.rowids)
            std::printf("%s\n", qPrintable(describe(*byRowid.value(rowid))));
    }
    say(QStringLiteral("%1 groups of likely duplicates.").arg(groups.size()));
    return Done;
}

// The rowid of the contact an id names; ids may repeat, rowids never do.
Result<qint64>
rowidOf(const QList<interchange::StoredContact> &contacts, const QString &id, bool isRowid)
{
    QList<qint64> found;
    for (const interchange::StoredContact &contact : contacts) {
        if (isRowid ? QString::number(contact.rowid) == id
                    : contact.values[fieldIndex(ContactField::ContactId)] == id)
            found << contact.rowid;
    }
    if (found.isEmpty())
        return Failure{QStringLiteral("There is no contact with %1 %2.")
                           .arg(isRowid ? QStringLiteral("rowid") : QStringLiteral("id"), id)};
    if (found.size() > 1) {
        QStringList rowids;
        for (qint64 rowid : found)
            rowids << QString::number(rowid);
        return Failure{QStringLiteral("The id %1 is not unique (rowids %2): name the contact by "
                                      "its rowid with --rowid.")
                           .arg(id, rowids.join(QStringLiteral(", ")))};
    }
    return found.first();
}

int runMerge(const QCommandLineParser &parser, const QStringList &ids, const QString &db)
{
    if (ids.size() != 2)
        return usage(parser, QStringLiteral("merge: name the contact to keep and the other."));
    const Result<QList<interchange::StoredContact>> contacts = interchange::readStoredContacts(db);
    if (!contacts) {
        say(contacts.error());
        return DatabaseError;
    }
    const bool byRowid = parser.isSet(QStringLiteral("rowid"));
    const Result<qint64> keep = rowidOf(*contacts, ids.at(0), byRowid);
    const Result<qint64> other = rowidOf(*contacts, ids.at(1), byRowid);
    for (const Result<qint64> *found : {&keep, &other}) {
        if (!*found) {
            say(found->error());
            return BadInput;
        }
    }
    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    const Result<interchange::MergeOutcome> merged
        = interchange::mergeContacts(db, *keep, *other, dryRun);
    if (!merged) {
        say(merged.error());
        return DatabaseError;
    }
    if (!merged->filled.isEmpty())
        say(QStringLiteral("filled from the other: %1")
                .arg(merged->filled.join(QStringLiteral(", "))));
    if (merged->notesJoined)
        say(QStringLiteral("Notes joined"));
    if (!merged->conflicting.isEmpty())
        say(QStringLiteral("kept where both differ: %1")
                .arg(merged->conflicting.join(QStringLiteral(", "))));
    say(QStringLiteral("%1 %2 into %3.")
            .arg(dryRun ? QStringLiteral("Would merge") : QStringLiteral("Merged"), ids.at(1),
                 ids.at(0)));
    return Done;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-contacts"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Imports contacts from vCard, CSV and Access (.mdb) files into the "
                       "address book, "
                       "exports them, finds likely duplicates and merges two contacts.\n\n")
        + QString::fromLatin1(exitHelp));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("import, export, duplicates or merge"));
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("import: the files to read; export: the file to "
                                                "write, - for standard output"));
    parser.addOptions({
        {QStringLiteral("db"),
         QStringLiteral("The address book (default: cntdb.mdb beside this tool)."),
         QStringLiteral("path")},
        {QStringLiteral("format"),
         QStringLiteral("import: vcard or csv; export: vcard3 (default), vcard4 or csv. Taken "
                        "from the file's extension when not given."),
         QStringLiteral("format")},
        {QStringLiteral("preset"), QStringLiteral("The CSV columns by name: ") + presetNames(),
         QStringLiteral("name")},
        {QStringLiteral("map"), QStringLiteral("import: a file of \"CSV header=field\" lines."),
         QStringLiteral("file")},
        {QStringLiteral("extras-to-notes"),
         QStringLiteral("import: add what fits no field to Notes as \"Label: value\" lines.")},
        {QStringLiteral("dry-run"), QStringLiteral("import: check and count; write nothing.")},
        {QStringLiteral("strict"), QStringLiteral("import: any skipped card or row stops it all.")},
        {QStringLiteral("where"), QStringLiteral("export: only contacts whose FIELD is TEXT."),
         QStringLiteral("FIELD=TEXT")},
        {QStringLiteral("rowid"), QStringLiteral("merge: KEEP and OTHER are rowids, not ids.")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return Done;
    }
    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usage(parser, QStringLiteral("Say import, export, duplicates or merge."));
    const QString command = arguments.takeFirst();
    const QString db = parser.isSet(QStringLiteral("db"))
                           ? parser.value(QStringLiteral("db"))
                           : platform::appFile(QStringLiteral("cntdb.mdb"));
    if (command == QLatin1String("import"))
        return runImport(parser, arguments, db);
    if (command == QLatin1String("export"))
        return runExport(parser, arguments, db);
    if (command == QLatin1String("duplicates"))
        return runDuplicates(db);
    if (command == QLatin1String("merge"))
        return runMerge(parser, arguments, db);
    return usage(parser, QStringLiteral("Unknown command \"%1\".").arg(command));
}
