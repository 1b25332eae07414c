// Contacts in and out as a user runs them: pelmora-contacts as a whole process, timed from
// start to exit, its peak memory taken from the kernel's account of the child.
//   pelmora_interchangebench DATABASE RUNS
// DATABASE is a demo address book; its contacts are written once as a file of mixed vCards
// (2.1, 3.0 and 4.0 in turn, with the properties phones and mail programs add) and once as
// CSV, then imported into an empty address book RUNS times each, and exported. Beside them,
// the floor: SQLite inserting the same rows in one transaction, and reading the file once.
// Lines go to standard output in the format scripts/bench.sh tabulates.
#include "samples.h"

#include <core/contacts/contactdatabase.h>
#include <core/contacts/contactfields.h>
#include <core/interchange/contactimport.h>
#include <core/interchange/vcard.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const QString toolPath = QStringLiteral(PELMORA_APP_DIR "/pelmora-contacts");

struct ProcessRun
{
    double ms = -1;
    long peakKiB = -1;
};

// Runs the tool with its output thrown away (an import lists every property it cannot
// store, which a terminal would slow down) and measures what the kernel saw of it. Linux
// hands a process its parent's peak resident set across fork and exec, so the tool is
// started by a small copy of this program (see measureChild) rather than by this one,
// which holds every contact of the floor in memory.
ProcessRun runTool(const QStringList &arguments)
{
    QProcess measurer;
    measurer.start(QCoreApplication::applicationFilePath(),
                   QStringList{QStringLiteral("--measure"), toolPath} + arguments);
    if (!measurer.waitForFinished(-1) || measurer.exitCode() != 0) {
        std::fprintf(stderr, "bench: pelmora-contacts %s failed: %s\n",
                     qPrintable(arguments.join(QLatin1Char(' '))),
                     measurer.readAllStandardError().constData());
        return {};
    }
    const QList<QByteArray> figures = measurer.readAllStandardOutput().trimmed().split('\t');
    if (figures.size() != 2)
        return {};
    return {figures.at(0).toDouble(), figures.at(1).toLong()};
}

// The measuring child: starts argv[0] with the rest as its arguments, output to /dev/null,
// and prints its wall time in ms and its peak resident set in KiB. It runs before Qt is
// loaded, so what the tool inherits is small.
int measureChild(char *argv[])
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return 1;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
        std::fprintf(stderr, "exit status %d\n", status);
        return 1;
    }
    const double ms
        = double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
    std::printf("%.3f\t%ld\n", ms, usage.ru_maxrss);
    return 0;
}

QByteArray quotedPrintable(const QByteArray &text)
{
    QByteArray out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '=' || byte < 32 || byte > 126)
            out += '=' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

// A 2.1 card as old phones write it: bare types, CHARSET and QUOTED-PRINTABLE notes.
QByteArray vCard21(const ContactValues &v)
{
    const auto value = [&](ContactField field) {
        return v[fieldIndex(field)].toUtf8();
    };
    QByteArray card
        = "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8:" + value(ContactField::LastName) + ';'
          + value(ContactField::FirstName) + ';' + value(ContactField::Middle)
          + ";;\r\nFN;CHARSET=UTF-8:" + value(ContactField::FirstName) + ' '
          + value(ContactField::LastName) + "\r\n";
    const std::pair<ContactField, const char *> lines[] = {
        {ContactField::NickName, "NICKNAME;CHARSET=UTF-8"},
        {ContactField::HomePhone, "TEL;HOME;VOICE"},
        {ContactField::WorkPhone, "TEL;WORK;VOICE"},
        {ContactField::Cell, "TEL;CELL"},
        {ContactField::Fax, "TEL;FAX"},
        {ContactField::Email1, "EMAIL;INTERNET;PREF"},
        {ContactField::Email2, "EMAIL;INTERNET"},
    };
    for (const auto &[field, name] : lines) {
        if (!value(field).isEmpty())
            card += QByteArray(name) + ':' + value(field) + "\r\n";
    }
    card += "ADR;HOME;CHARSET=UTF-8:;;" + value(ContactField::Address) + ';'
            + value(ContactField::City) + ';' + value(ContactField::State) + ';'
            + value(ContactField::Zip) + ';' + value(ContactField::Country) + "\r\n";
    if (!value(ContactField::Notes).isEmpty())
        card += "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:"
                + quotedPrintable(value(ContactField::Notes)) + "\r\n";
    return card + "END:VCARD\r\n";
}

// What phones and mail programs add beside the seventeen fields, so the file has the size
// and the mix of a real export.
QByteArray extras(int n)
{
    return "ORG:Example Trading Ltd;Sales\r\nTITLE:Account manager\r\nBDAY:1980-04-"
           + QByteArray::number(n % 28 + 1).rightJustified(2, '0')
           + "\r\nURL:https://example.org/people/" + QByteArray::number(n)
           + "\r\nitem1.EMAIL;TYPE=INTERNET:other" + QByteArray::number(n)
           + "@example.net\r\nitem1.X-ABLabel:Other\r\nADR;TYPE=WORK:;;"
           + QByteArray::number(n % 900 + 1)
           + " Harbour Road;Bergen;;5003;Norway\r\n";
}

bool writeMixedVCards(const QString &database, const QString &path, int *cards)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    int n = 0;
    const Result<int> read = interchange::forEachContact(database, [&](const ContactValues &v) {
        QByteArray card;
        switch (n % 3) {
        case 0:
            card = vCard21(v);
            break;
        case 1:
            card = interchange::writeVCard(v, interchange::VCardVersion::V3);
            break;
        default:
            card = interchange::writeVCard(v, interchange::VCardVersion::V4);
            break;
        }
        card.insert(card.size() - int(qstrlen("END:VCARD\r\n")), extras(n));
        file.write(card);
        ++n;
    });
    *cards = n;
    return read && file.flush();
}

// The floor of an import: the same rows inserted through SQLite's C API, one prepared
// statement, one transaction, synchronous=FULL as the program has it.
double insertFloor(const QString &database, const QString &emptyTemplate, const QString &target)
{
    QList<ContactValues> rows;
    if (!interchange::forEachContact(database, [&](const ContactValues &v) { rows << v; }))
        return -1;
    QFile::remove(target);
    QFile::copy(emptyTemplate, target);
    QElapsedTimer timer;
    timer.start();
    sqlite3 *db = nullptr;
    sqlite3_open_v2(target.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=FULL; BEGIN", nullptr, nullptr, nullptr);
    QString sql = QStringLiteral("INSERT INTO contactsdb VALUES (?");
    sql += QStringLiteral(", ?").repeated(contactFieldCount - 1) + QLatin1Char(')');
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &insert, nullptr);
    bool ok = insert != nullptr;
    for (const ContactValues &row : rows) {
        sqlite3_bind_int64(insert, 1, row[0].toLongLong());
        for (int i = 1; i < contactFieldCount; ++i) {
            const QByteArray text = row[size_t(i)].toUtf8();
            sqlite3_bind_text(insert, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
        ok = ok && sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok ? elapsedMs(timer) : -1;
}

double readFileFloor(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return -1;
    static char buffer[1 << 20];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    ::close(fd);
    return elapsedMs(timer);
}

void figure(int size, const char *name, double ms, double floorMs = -1)
{
    if (floorMs < 0)
        std::printf("figure\t%d\t%s\t%.3f\t-\n", size, name, ms);
    else
        std::printf("figure\t%d\t%s\t%.3f\t%.3f\n", size, name, ms, floorMs);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 2 && std::strcmp(argv[1], "--measure") == 0)
        return measureChild(argv + 2);
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelmora_interchangebench DATABASE RUNS\n");
        return 2;
    }
    const QString database = QString::fromLocal8Bit(argv[1]);
    const int runs = QByteArray(argv[2]).toInt();
    QTemporaryDir work;
    // To look at the input files or profile one run by hand.
    work.setAutoRemove(qEnvironmentVariableIsEmpty("PELMORA_BENCH_KEEP"));
    const QString vcards = work.filePath(QStringLiteral("mixed.vcf"));
    const QString csv = work.filePath(QStringLiteral("contacts.csv"));
    const QString empty = work.filePath(QStringLiteral("empty.mdb"));
    const QString target = work.filePath(QStringLiteral("cntdb.mdb"));
    int size = 0;
    if (!writeMixedVCards(database, vcards, &size) || !cntdb::createDatabase(empty)) {
        std::fprintf(stderr, "bench: cannot write the input files in %s\n",
                     qPrintable(work.path()));
        return 1;
    }
    std::fprintf(stderr, "bench: %d mixed vCards, %.1f MB\n", size,
                 double(QFile(vcards).size()) / 1e6);

    Samples insertFloorMs, readFloorMs;
    for (int i = 0; i < runs; ++i) {
        insertFloorMs.add(insertFloor(database, empty, target));
        readFloorMs.add(readFileFloor(vcards));
    }
    figure(size, "floor: SQLite inserts the rows in one transaction", insertFloorMs.median());
    figure(size, "floor: reading the vCard file once", readFloorMs.median());

    const std::pair<const char *, QStringList> exports[] = {
        {"export: vCard 3.0 (whole process)",
         {QStringLiteral("export"), vcards + QStringLiteral(".out"), QStringLiteral("--db"),
          database}},
        {"export: CSV (whole process)",
         {QStringLiteral("export"), csv, QStringLiteral("--db"), database}},
    };
    for (const auto &[name, arguments] : exports) {
        Samples ms;
        long peak = 0;
        for (int i = 0; i < runs; ++i) {
            const ProcessRun run = runTool(arguments);
            ms.add(run.ms);
            peak = std::max(peak, run.peakKiB);
        }
        figure(size, name, ms.median());
        std::printf("memory\t%d\t%s\t%ld\n", size, name, peak);
    }

    const std::pair<const char *, QString> imports[] = {
        {"import: mixed vCards (whole process)", vcards},
        {"import: CSV (whole process)", csv},
    };
    for (const auto &[name, input] : imports) {
        Samples ms;
        long peak = 0;
        for (int i = 0; i < runs; ++i) {
            QFile::remove(target);
            QFile::copy(empty, target);
            const ProcessRun run
                = runTool({QStringLiteral("import"), input, QStringLiteral("--db"), target});
            ms.add(run.ms);
            peak = std::max(peak, run.peakKiB);
        }
        figure(size, name, ms.median(), insertFloorMs.median());
        std::printf("memory\t%d\t%s\t%ld\n", size, name, peak);
    }
    return 0;
}
