// A child process for store tests: opens a database, edits the last name of the first
// record and commits. Prints "ok" or "failed: <reason>"; exit code 0 either way, 2 when
// the database could not be opened.
#include <core/contacts/contactstore.h>
#include <core/contacts/recordsource.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 3;
    ContactStore store;
    store.setBusyTimeout(200);
    store.setDatabaseName(QString::fromLocal8Bit(argv[1]));
    store.setRecordSource(recordSourceForSortType(QStringLiteral("contactid")));
    if (Result<void> opened = store.open(); !opened) {
        std::printf("open failed: %s\n", qPrintable(opened.error()));
        return 2;
    }
    store.setFieldText(ContactField::LastName, QString::fromLocal8Bit(argv[2]));
    if (Result<void> moved = store.moveNext())
        std::printf("ok\n");
    else
        std::printf("failed: %s\n", qPrintable(moved.error()));
    return 0;
}
