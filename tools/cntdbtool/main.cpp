// cntdbtool: creates the contact database and fills it with demo contacts.
//   cntdbtool create <file> [--demo N] [--seed S]
#include "demodata.h"
#include <core/contacts/contactdatabase.h>

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: cntdbtool create <file> [--demo N] [--seed S]\n", stderr);
    return 2;
}

int fail(const QString &error)
{
    std::fprintf(stderr, "cntdbtool: %s\n", qPrintable(error));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return usage();
    const QString command = args.takeFirst();
    const QString file = args.takeFirst();
    int demo = 0;
    quint32 seed = 1;
    bool ok = true;
    if (command != QLatin1String("create"))
        return usage();
    while (ok && args.size() >= 2) {
        const QString option = args.takeFirst();
        const QString value = args.takeFirst();
        if (option == QLatin1String("--demo"))
            demo = value.toInt(&ok);
        else if (option == QLatin1String("--seed"))
            seed = value.toUInt(&ok);
        else
            ok = false;
    }
    if (!ok || !args.isEmpty() || demo < 0)
        return usage();

    if (Result<void> made = cntdb::createDatabase(file); !made)
        return fail(made.error());
    if (demo > 0) {
        if (Result<void> filled = cntdb::insertContacts(file, cntdb::demoContacts(demo, seed));
            !filled)
            return fail(filled.error());
    }
    return 0;
}
