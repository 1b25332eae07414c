// jetgen OUT.mdb --jet3|--jet4 [--compress] [--non-latin] --rows N [--seed S]
// Writes a contactsdb table of sample contacts, for trying the Jet import by hand and for
// its benchmark.
#include <support/jetwriter.h>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    JetWriteOptions options;
    QString out;
    int rows = -1;
    quint32 seed = 1;
    bool nonLatin = false;
    bool versionGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        bool ok = true;
        if (a == QLatin1String("--jet3") || a == QLatin1String("--jet4")) {
            options.version = a == QLatin1String("--jet3") ? JetVersion::Jet3 : JetVersion::Jet4;
            versionGiven = true;
        } else if (a == QLatin1String("--compress")) {
            options.compressText = true;
        } else if (a == QLatin1String("--non-latin")) {
            nonLatin = true;
        } else if (a == QLatin1String("--rows") && i + 1 < args.size()) {
            rows = args[++i].toInt(&ok);
        } else if (a == QLatin1String("--seed") && i + 1 < args.size()) {
            seed = args[++i].toUInt(&ok);
        } else if (out.isEmpty() && !a.startsWith(QLatin1Char('-'))) {
            out = a;
        } else {
            ok = false;
        }
        if (!ok) {
            err << "jetgen: cannot use the argument \"" << a << "\"\n";
            return 2;
        }
    }
    if (out.isEmpty() || rows < 0 || !versionGiven) {
        err << "usage: jetgen OUT.mdb --jet3|--jet4 [--compress] [--non-latin] --rows N "
               "[--seed S]\n";
        return 2;
    }
    const Result<void> written = writeJetFile(out, options, jetSampleRows(rows, seed, nonLatin));
    if (!written) {
        err << written.error() << '\n';
        return 1;
    }
    return 0;
}
