// pelmora_jetbench ROWS [RUNS] [SEED]: the import of a Jet 4 file as whole processes.
// Writes a Jet 4 file of ROWS sample contacts (compressed text, as Access writes it), then
// times, RUNS times each, on a fresh empty address book every time:
//   the reader process alone, its frames going to /dev/null;
//   pelmora-contacts import FILE --db DB, launch to exit (reader, frames, one transaction);
//   the conversion in place, as the start-up runs it (reader, new file, link, rename, syncs).
// Prints "figure <rows> <name> <median ms> - <runs>" lines for scripts/bench.sh.
#include "samples.h"

#include <core/contacts/contactdatabase.h>
#include <core/interchange/jetconversion.h>
#include <support/jetwriter.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void die(const QString &why)
{
    std::fprintf(stderr, "pelmora_jetbench: %s\n", qPrintable(why));
    std::exit(1);
}

double runProcess(const QString &program, const QStringList &arguments, bool toNull)
{
    QProcess process;
    if (toNull)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        die(QStringLiteral("%1 failed: %2").arg(program, QString::fromUtf8(process.readAll())));
    return elapsedMs(timer);
}

void print(int rows, const char *name, const Samples &samples)
{
    std::printf("figure\t%d\t%s\t%.3f\t-\t%d\n", rows, name, samples.median(), samples.count());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        die(QStringLiteral("usage: pelmora_jetbench ROWS [RUNS] [SEED]"));
    const int rows = std::atoi(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const quint32 seed = argc > 3 ? quint32(std::atoi(argv[3])) : 7;
    const QString appDir = QStringLiteral(PELMORA_APP_DIR);
    interchange::setJetReaderPathForTesting(appDir + QStringLiteral("/pelmora-jetreader"));

    QTemporaryDir work;
    const QString jet = work.filePath(QStringLiteral("old.mdb"));
    JetWriteOptions options;
    options.version = JetVersion::Jet4;
    options.compressText = true;
    if (Result<void> written = writeJetFile(jet, options, jetSampleRows(rows, seed)); !written)
        die(written.error());

    Samples reader;
    Samples import;
    Samples conversion;
    for (int run = 0; run < runs; ++run) {
        reader.add(runProcess(appDir + QStringLiteral("/pelmora-jetreader"), {jet}, true));

        const QString db = work.filePath(QStringLiteral("import-%1.mdb").arg(run));
        if (Result<void> created = cntdb::createDatabase(db); !created)
            die(created.error());
        import.add(runProcess(appDir + QStringLiteral("/pelmora-contacts"),
                              {QStringLiteral("import"), jet, QStringLiteral("--db"), db}, true));

        const QString folder = work.filePath(QStringLiteral("convert-%1").arg(run));
        QDir().mkpath(folder);
        const QString cntdb = folder + QStringLiteral("/cntdb.mdb");
        if (!QFile::copy(jet, cntdb))
            die(QStringLiteral("%1 could not be copied").arg(jet));
        QElapsedTimer timer;
        timer.start();
        if (Result<interchange::JetConversion> converted = interchange::convertJetDatabase(cntdb);
            !converted)
            die(converted.error());
        conversion.add(elapsedMs(timer));
    }
    print(rows, "Jet 4 import: reader process alone, frames to /dev/null", reader);
    print(rows, "Jet 4 import: pelmora-contacts import, whole process", import);
    print(rows, "Jet 4 import: conversion in place (start-up's Yes)", conversion);
    return 0;
}
