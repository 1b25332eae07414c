// pelmora-contacts: contacts in and out of the address book from the command line.
//   pelmora-contacts import FILE... [--db PATH] [--format vcard|csv] [--preset NAME]
//                    (what a file holds is known by its contents: vCard, CSV or an
//                    Access .mdb file; --format reads a vCard or CSV file as that)
//                    [--map FILE] [--extras-to-notes] [--dry-run] [--strict]
//   pelmora-contacts export FILE [--db PATH] [--format vcard3|vcard4|csv] [--preset NAME]
//                    [--where FIELD=TEXT]
//   pelmora-contacts duplicates [--db PATH]
//   pelmora-contacts merge KEEP OTHER [--db PATH] [--rowid] [--dry-run]
//   pelmora-contacts sync setup URL --user NAME [--password-file F] [--addressbook NAME]
//                    [--db PATH] [--accept-certificate SHA256]
//   pelmora-contacts sync [--db PATH] [--password-file F] [--accept-certificate SHA256]
//                    [--allow-mass-delete]
//   pelmora-contacts sync status [--db PATH]
// It links the core only: no window, no message box.
#include <core/contacts/contactfields.h>
#include <core/contacts/duplicates.h>
#include <core/files/apppath.h>
#include <core/interchange/contactimport.h>
#include <core/interchange/csv.h>
#include <core/interchange/fileimport.h>
#include <core/interchange/vcard.h>
#include <core/sync/carddavsync.h>
#include <core/sync/davclient.h>
#include <core/sync/passwordfile.h>
#include <core/text/printable.h>

#include "keyring.h"

#include "progressline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstdio>
#include <optional>
#include <unistd.h>

#include <unistd.h>

namespace {

// The exit statuses, as --help tells them.
enum Exit {
    Done = 0,
    DoneWithSkips = 1,
    BadInput = 2,
    DatabaseError = 3,
    ServerError = 4,
    Refused = 5, // a sync that would delete most contacts on one side
};

const char *const exitHelp = "Exit status: 0 all done; 1 done, but some cards or rows were "
                             "skipped (sync: some fields conflicted or some contacts wait for "
                             "the next sync); 2 unreadable input or bad usage, nothing written; "
                             "3 the database could not be used, nothing written; 4 sync: the "
                             "server could not be used, nothing written here.";

// Every message may carry values from a file or a server: their control characters are
// written out, never sent to the terminal.
void say(const QString &text)
{
    if (ProgressLine *progress = ProgressLine::active())
        progress->clear();
    std::fprintf(stderr, "%s\n", qPrintable(printableLines(text)));
}

// The exit status of a failure, by its kind.
int exitStatusOf(const Failure &failure)
{
    switch (failure.kind) {
    case Failure::Kind::Usage:
    case Failure::Kind::Input:
        return BadInput;
    case Failure::Kind::Database:
        return DatabaseError;
    case Failure::Kind::Server:
        return ServerError;
    case Failure::Kind::Refused:
        return Refused;
    }
    return DatabaseError;
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

// One line of a file's report: "cards.vcf:12: skipped: no END:VCARD before line 20".
QString reportText(const QString &path, const interchange::ReportLine &line)
{
    QString text = line.line > 0 ? QStringLiteral("%1:%2: ").arg(path).arg(line.line)
                                 : path + QStringLiteral(": ");
    switch (line.kind) {
    case interchange::ReportLine::Kind::NotStored:
        text += QStringLiteral("not stored: ");
        break;
    case interchange::ReportLine::Kind::Skipped:
        text += QStringLiteral("skipped: ");
        break;
    case interchange::ReportLine::Kind::Remark:
        break;
    }
    return text + line.text;
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
    interchange::FileReadOptions reading;
    reading.csvPreset = preset ? &*preset : nullptr;
    if (parser.isSet(QStringLiteral("format"))) {
        const QString format = parser.value(QStringLiteral("format")).toLower();
        if (format == QLatin1String("vcard"))
            reading.format = interchange::FileFormat::VCard;
        else if (format == QLatin1String("csv"))
            reading.format = interchange::FileFormat::Csv;
        else
            return usage(parser, QStringLiteral("import: say --format vcard or --format csv."));
    }

    interchange::ImportOptions options;
    options.extrasToNotes = parser.isSet(QStringLiteral("extras-to-notes"));
    options.dryRun = parser.isSet(QStringLiteral("dry-run"));
    reading.reportNotStored = !options.extrasToNotes;
    const bool strict = parser.isSet(QStringLiteral("strict"));
    // One transaction for every file: contacts go in as they are read, and an unreadable
    // file, a skip under --strict or a failed write leaves the database as it was.
    Result<std::unique_ptr<interchange::ContactImporter>> importer
        = interchange::ContactImporter::begin(db, options);
    if (!importer) {
        say(importer.error());
        return exitStatusOf(importer.failure());
    }
    int skipped = 0;
    qint64 totalBytes = 0;
    for (const QString &path : files)
        totalBytes += QFileInfo(path).size();
    qint64 bytesBefore = 0; // of the files read already
    ProgressLine progress("Importing", "", totalBytes);
    for (const QString &path : files) {
        reading.report = [&path](const interchange::ReportLine &line) {
            say(reportText(path, line));
        };
        reading.progress = [&](qint64 position) {
            progress.update(bytesBefore + position);
        };
        const Result<interchange::FileReadSummary> read
            = interchange::importFile(path, **importer, reading);
        if (!read) {
            say(read.error());
            return exitStatusOf(read.failure());
        }
        if (read->linesLeftOut > 0)
            say(QStringLiteral("%1: %2 more lines not shown.").arg(path).arg(read->linesLeftOut));
        skipped += read->skipped;
        if (skipped > 0 && strict) {
            say(QStringLiteral("%1 skipped; nothing imported (--strict).").arg(skipped));
            return BadInput;
        }
        bytesBefore += QFileInfo(path).size();
    }
    const Result<interchange::ImportSummary> summary = (*importer)->finish();
    if (!summary) {
        say(summary.error());
        return exitStatusOf(summary.failure());
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
    ProgressLine progress("Exporting", "contacts", 0);
    qint64 exported = 0;
    const Result<int> contacts = interchange::forEachContact(
        db,
        [&](const ContactValues &values) {
            progress.update(++exported);
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

QString describe(const contacts::StoredContact &contact)
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
    const Result<QList<contacts::StoredContact>> stored = contacts::readStoredContacts(db);
    if (!stored) {
        say(stored.error());
        return DatabaseError;
    }
    QHash<qint64, const contacts::StoredContact *> byRowid;
    for (const contacts::StoredContact &contact : *stored)
        byRowid.insert(contact.rowid, &contact);
    const QList<contacts::DuplicateGroup> groups = contacts::findDuplicates(*stored);
    for (const contacts::DuplicateGroup &group : groups) {
        QStringList reasons;
        for (contacts::DuplicateGroup::Reason reason : group.reasons)
            reasons << contacts::reasonText(reason);
        std::printf("%s\n", qPrintable(reasons.join(QStringLiteral(", "))));
        for (qint64 rowid : group.rowids)
            std::printf("%s\n", qPrintable(describe(*byRowid.value(rowid))));
    }
    say(QStringLiteral("%1 groups of likely duplicates.").arg(groups.size()));
    return Done;
}

// The rowid of the contact an id names; ids may repeat, rowids never do.
Result<qint64>
rowidOf(const QList<contacts::StoredContact> &stored, const QString &id, bool isRowid)
{
    QList<qint64> found;
    for (const contacts::StoredContact &contact : stored) {
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
    const Result<QList<contacts::StoredContact>> stored = contacts::readStoredContacts(db);
    if (!stored) {
        say(stored.error());
        return DatabaseError;
    }
    const bool byRowid = parser.isSet(QStringLiteral("rowid"));
    const Result<qint64> keep = rowidOf(*stored, ids.at(0), byRowid);
    const Result<qint64> other = rowidOf(*stored, ids.at(1), byRowid);
    for (const Result<qint64> *found : {&keep, &other}) {
        if (!*found) {
            say(found->error());
            return BadInput;
        }
    }
    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    const Result<contacts::MergeOutcome> merged
        = contacts::mergeContacts(db, *keep, *other, dryRun);
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

// The name of an account's password in the keyring.
QString keyringAccount(const QString &user, const QUrl &server)
{
    return user + u'@' + server.host()
           + (server.port() > 0 ? u':' + QString::number(server.port()) : QString());
}

// The password from --password-file; without it, from the keyring (sync) or asked for
// (sync setup, which then keeps it in the keyring).
Result<QString> syncPassword(const QCommandLineParser &parser, const QString &keyringName, bool ask)
{
    if (parser.isSet(QStringLiteral("password-file")))
        return carddav::readPasswordFile(parser.value(QStringLiteral("password-file")));
    if (ask)
        return keyring::askPassword(QStringLiteral("Password for %1: ").arg(keyringName));
    return keyring::readPassword(keyringName);
}

int runSyncSetup(const QCommandLineParser &parser, const QStringList &arguments, const QString &db)
{
    if (arguments.size() != 1 || !parser.isSet(QStringLiteral("user")))
        return usage(parser, QStringLiteral("sync setup: name the server's address and --user."));
    const QUrl server = QUrl::fromUserInput(arguments.first());
    // A password in the address would end up in the account, in messages and in the shell's
    // history; the message does not repeat it.
    if (!server.userInfo().isEmpty())
        return usage(parser, QStringLiteral("sync setup: the address must not hold a user name "
                                            "or password: give the user with --user, and the "
                                            "password when asked or with --password-file."));
    const QString keyringName = keyringAccount(parser.value(QStringLiteral("user")), server);
    const Result<QString> password = syncPassword(parser, keyringName, true);
    if (!password) {
        say(password.error());
        return BadInput;
    }
    const QString pinned = parser.value(QStringLiteral("accept-certificate"));
    carddav::DavClient client(parser.value(QStringLiteral("user")), *password, pinned);
    client.setOrigin(server);
    const Result<QList<carddav::AddressBook>> books = carddav::discoverAddressBooks(client, server);
    if (!books) {
        say(books.error());
        return ServerError;
    }
    QStringList names;
    for (const carddav::AddressBook &book : *books) {
        names << book.name;
        std::printf("%s\t%s\n", qPrintable(printable(book.name)),
                    qPrintable(printable(book.url.toString())));
    }
    const QString wanted = parser.value(QStringLiteral("addressbook"));
    std::optional<carddav::AddressBook> chosen;
    for (const carddav::AddressBook &book : *books) {
        if (wanted.isEmpty() ? books->size() == 1
                             : (book.name == wanted || book.url.toString() == wanted))
            chosen = book;
    }
    if (!chosen) {
        say(books->isEmpty() ? QStringLiteral("The server keeps no address book for %1.")
                                   .arg(parser.value(QStringLiteral("user")))
            : wanted.isEmpty() ? QStringLiteral("Choose one with --addressbook NAME: %1.")
                                     .arg(names.join(QStringLiteral(", ")))
                               : QStringLiteral("There is no address book \"%1\"; there are: %2.")
                                     .arg(wanted, names.join(QStringLiteral(", "))));
        return BadInput;
    }
    carddav::Account account;
    account.server = server;
    account.user = parser.value(QStringLiteral("user"));
    account.addressBook = chosen->url;
    account.addressBookName = chosen->name;
    account.certificate = pinned;
    // The password is kept first: a keyring that never answers leaves the pairing as it was.
    Result<void> kept;
    if (!parser.isSet(QStringLiteral("password-file")))
        kept = keyring::storePassword(keyringName, *password);
    if (Result<void> saved = carddav::saveAccount(db, account); !saved) {
        say(saved.error());
        return DatabaseError;
    }
    if (!kept) {
        say(kept.error());
        return DoneWithSkips;
    }
    say(QStringLiteral("Address book \"%1\" set up for %2; run \"pelmora-contacts sync\".")
            .arg(chosen->name, db));
    return Done;
}

int runSyncStatus(const QString &db)
{
    const Result<std::optional<carddav::Account>> account = carddav::loadAccount(db);
    if (!account) {
        say(account.error());
        return DatabaseError;
    }
    if (!*account) {
        say(QStringLiteral("No account is set up for %1.").arg(db));
        return Done;
    }
    const carddav::Account &a = **account;
    std::printf("server: %s\nuser: %s\naddress book: %s (%s)\n", qPrintable(a.server.toString()),
                qPrintable(a.user), qPrintable(a.addressBookName),
                qPrintable(a.addressBook.toString()));
    if (!a.certificate.isEmpty())
        std::printf("accepted certificate: %s\n", qPrintable(a.certificate));
    std::printf("last sync: %s\n",
                a.lastSync.isEmpty()
                    ? "never"
                    : qPrintable(a.lastSync + QStringLiteral(", ") + a.lastResult));
    return Done;
}

int runSync(const QCommandLineParser &parser, const QString &db)
{
    // One connection serves the whole run, from the account to the last commit.
    Result<std::unique_ptr<carddav::SyncState>> state = carddav::SyncState::open(db);
    if (!state) {
        say(state.error());
        return exitStatusOf(state.failure());
    }
    const Result<std::optional<carddav::Account>> account = (*state)->account();
    if (!account) {
        say(account.error());
        return DatabaseError;
    }
    if (!*account) {
        say(QStringLiteral("No account is set up for %1: run \"pelmora-contacts sync setup URL "
                           "--user NAME\" first.")
                .arg(db));
        return BadInput;
    }
    const Result<QString> password
        = syncPassword(parser, keyringAccount((*account)->user, (*account)->server), false);
    if (!password) {
        say(password.error());
        return BadInput;
    }
    carddav::SyncOptions options;
    options.databasePath = db;
    options.password = *password;
    // Beside the database it belongs to: wherever the program lies, that is the user's.
    options.conflictLogPath
        = QFileInfo(db).absoluteDir().filePath(QStringLiteral("sync-conflicts.log"));
    options.acceptCertificate = parser.value(QStringLiteral("accept-certificate"));
    options.allowMassDelete = parser.isSet(QStringLiteral("allow-mass-delete"));
    std::optional<ProgressLine> progress;
    options.progress = [&progress](int done, int total) {
        if (!progress)
            progress.emplace("Syncing", "contacts", total);
        progress->update(done);
    };
    const Result<carddav::SyncReport> report = carddav::synchronise(**state, options);
    progress.reset();
    if (!report) {
        say(report.error());
        return exitStatusOf(report.failure());
    }
    // Names, values and addresses come from the server: escaped before the terminal sees them.
    for (const QString &conflict : report->conflicts)
        std::printf("conflict: %s\n", qPrintable(printable(conflict)));
    for (const QString &notice : report->notices)
        std::printf("%s\n", qPrintable(printable(notice)));
    std::printf("Synced: %s\n", qPrintable(report->summary()));
    if (!report->conflicts.isEmpty())
        say(QStringLiteral("The server's values of the conflicts are in %1.")
                .arg(options.conflictLogPath));
    return report->conflicts.isEmpty() && report->notices.isEmpty() ? Done : DoneWithSkips;
}

int runSyncCommand(const QCommandLineParser &parser, QStringList arguments, const QString &db)
{
    const QString sub = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (sub == QLatin1String("setup"))
        return runSyncSetup(parser, arguments, db);
    if (sub == QLatin1String("status"))
        return runSyncStatus(db);
    if (sub.isEmpty())
        return runSync(parser, db);
    return usage(parser, QStringLiteral("sync: say sync, sync setup or sync status."));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmora-contacts"));
    // An import lists every property it cannot store: unbuffered, that is a system call a
    // line. A terminal still sees each line at once.
    if (isatty(STDERR_FILENO) != 1)
        std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Imports contacts from vCard, CSV and Access (.mdb) files into the "
                       "address book, exports them, finds likely duplicates, merges two "
                       "contacts and syncs with a CardDAV server.\n\n")
        + QString::fromLatin1(exitHelp));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("import, export, duplicates, merge or sync"));
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("import: the files to read; export: the file to "
                                                "write, - for standard output"));
    parser.addOptions({
        {QStringLiteral("db"),
         QStringLiteral("The address book (default: the program's own, cntdb.mdb beside "
                        "this tool when it lies there, else in ~/.local/share/pelmora)."),
         QStringLiteral("path")},
        {QStringLiteral("format"),
         QStringLiteral("import: vcard or csv, else known from the file's contents; export: "
                        "vcard3 (default), vcard4 or csv, else taken from the file's "
                        "extension."),
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
        {QStringLiteral("user"), QStringLiteral("sync setup: the user name on the server."),
         QStringLiteral("name")},
        {QStringLiteral("password-file"),
         QStringLiteral("sync: read the password from the first line of this file, which only "
                        "its owner may read. Without it, sync setup asks for the password and "
                        "keeps it in the desktop's keyring, and sync reads it from there."),
         QStringLiteral("file")},
        {QStringLiteral("addressbook"),
         QStringLiteral("sync setup: the address book to sync, by name (needed when there are "
                        "several)."),
         QStringLiteral("name")},
        {QStringLiteral("accept-certificate"),
         QStringLiteral("sync: trust the server's certificate of this SHA-256 fingerprint though "
                        "it does not verify."),
         QStringLiteral("SHA256")},
        {QStringLiteral("allow-mass-delete"),
         QStringLiteral("sync: go ahead though the sync would delete more than half of the "
                        "synced contacts on one side (a server's address book that was reset "
                        "or replaced looks like that).")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return Done;
    }
    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usage(parser, QStringLiteral("Say import, export, duplicates, merge or sync."));
    const QString command = arguments.takeFirst();
    QString db = parser.value(QStringLiteral("db"));
    if (!parser.isSet(QStringLiteral("db"))) {
        // The program's own address book: the same folder, made and filled the same way.
        const Result<QString> folder = files::openAppFolder();
        if (!folder) {
            say(folder.error());
            return DatabaseError;
        }
        db = files::appFile(QStringLiteral("cntdb.mdb"));
    }
    if (command == QLatin1String("import"))
        return runImport(parser, arguments, db);
    if (command == QLatin1String("export"))
        return runExport(parser, arguments, db);
    if (command == QLatin1String("duplicates"))
        return runDuplicates(db);
    if (command == QLatin1String("merge"))
        return runMerge(parser, arguments, db);
    if (command == QLatin1String("sync"))
        return runSyncCommand(parser, arguments, db);
    return usage(parser, QStringLiteral("Unknown command \"%1\".").arg(command));
}
