// A child process for the fault tests: runs the contact store where the parent cannot, under
// a file-size limit or to be killed at any moment.
//
//   faultchild commit-loop <db>           adds contacts one by one until it is killed, and
//                                         edits each after adding it; prints "<contactid>"
//                                         after the insert's commit returned (acknowledged)
//                                         and "<contactid> edited" after the edit's, flushing.
//   faultchild disk-full <db> <bytes> [retry-small]
//                                         limits the size of every file it writes to <bytes>,
//                                         then types a 1 MB note into the first contact and
//                                         commits; prints "ok" or "failed: <reason>". With
//                                         retry-small it then puts a short note in its place
//                                         and commits again: "after: ok" or "after: <reason>".
//   faultchild window-edit <app folder> <characters> [<bytes>]
//                                         the main window over the folder's database (with
//                                         message boxes recorded, not shown): types that many
//                                         characters into Last Name of the first contact and
//                                         steps to the next, with every file it writes limited
//                                         to <bytes> if given. Prints each box as "box: <text>"
//                                         (line breaks as " | ") and "kept: yes" or "kept: no"
//                                         for the typed text still being in the field.
//   faultchild window-import <app folder> <file> <headroom MiB>
//                                         the main window over the folder's database, its
//                                         address space then capped at what the process holds
//                                         plus the headroom: the file is offered for import as
//                                         a drop offers it, the question answered Yes. Prints
//                                         each box as "box: <text>" and "records: <count>".
//
// Exit code 0 when the commands ran (whatever their outcome), 2 when the database could not
// be opened, 3 on bad arguments.
#include <core/contacts/contactstore.h>
#include <core/contacts/recordsource.h>
#include <core/files/apppath.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/scriptedmessageboxes.h>
#include <support/childprocess.h>
#include <support/commands.h>

#include <QApplication>
#include <QLineEdit>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>

namespace {

struct OpenStore
{
    ContactStore store;
};

bool openStore(OpenStore &open, const char *path)
{
    open.store.setBusyTimeout(2000);
    open.store.setDatabaseName(QString::fromLocal8Bit(path));
    open.store.setRecordSource(recordSourceForSortType(QStringLiteral("contactid")));
    const Result<void> opened = open.store.open();
    if (!opened)
        std::printf("open failed: %s\n", qPrintable(opened.error()));
    return opened.ok();
}

// Prints "failed: <reason>" for a store call that failed; true when it succeeded.
bool succeeded(const Result<void> &result)
{
    if (!result)
        std::printf("failed: %s\n", qPrintable(result.error()));
    return result.ok();
}

void type(OpenStore &open, ContactField field, const QString &text)
{
    open.store.setFieldText(field, text);
}

int commitLoop(const char *path)
{
    OpenStore open;
    if (!openStore(open, path))
        return 2;
    for (;;) {
        const Result<qint64> next = open.store.nextContactId();
        if (!next) {
            std::printf("failed: %s\n", qPrintable(next.error()));
            return 0;
        }
        const qint64 id = *next;
        if (!succeeded(open.store.addNew()))
            return 0;
        type(open, ContactField::ContactId, QString::number(id));
        type(open, ContactField::LastName, QStringLiteral("Crash %1").arg(id));
        type(open, ContactField::Notes, QString(500, QLatin1Char('n')));
        if (!succeeded(open.store.commit()))
            return 0;
        std::printf("%lld\n", id);
        std::fflush(stdout);
        // And an edit of the contact just stored, which is an update rather than an insert.
        if (!succeeded(open.store.moveTo(open.store.recordCount() - 1)))
            return 0;
        type(open, ContactField::City, QStringLiteral("edited"));
        if (!succeeded(open.store.commit()))
            return 0;
        std::printf("%lld edited\n", id);
        std::fflush(stdout);
    }
}

bool limitFileSize(const char *limit)
{
    // Writing past the limit fails with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit size{rlim_t(std::atoll(limit)), rlim_t(std::atoll(limit))};
    if (::setrlimit(RLIMIT_FSIZE, &size) == 0)
        return true;
    std::printf("setrlimit failed\n");
    return false;
}

int diskFull(const char *path, const char *limit, bool retrySmall)
{
    OpenStore open;
    if (!openStore(open, path))
        return 2;
    if (!limitFileSize(limit))
        return 3;
    type(open, ContactField::Notes, QString(1024 * 1024, QLatin1Char('x')));
    if (succeeded(open.store.commit()))
        std::printf("ok\n");
    if (!retrySmall)
        return 0;
    // The typed text is still there; a small change in its place fits and is stored.
    type(open, ContactField::Notes, QStringLiteral("small"));
    const Result<void> retried = open.store.commit();
    std::printf("after: %s\n", retried ? "ok" : qPrintable(retried.error()));
    return 0;
}

void printBoxes(const platform::ScriptedMessageBoxes &boxes)
{
    for (const platform::MessageRequest &box : boxes.shown())
        std::printf("box: %s\n",
                    qPrintable(QString(box.text).replace(QLatin1Char('\n'), QLatin1String(" | "))));
}

int windowImport(const char *folder, const char *file, const char *headroomMb)
{
    files::setAppPathForTesting(QString::fromLocal8Bit(folder));
    platform::ScriptedMessageBoxes boxes;
    int result = 0;
    {
        MainWindow window;
        if (!window.load()) {
            result = 2;
        } else if (!capAddressSpace(std::atol(headroomMb))) {
            std::printf("cannot cap the address space\n");
            result = 3;
        } else {
            window.offerImport({QString::fromLocal8Bit(file)});
            std::printf("records: %d\n", window.dbData1().recordCount());
        }
        window.dbData1().close();
    }
    printBoxes(boxes);
    return result;
}

int windowEdit(const char *folder, const char *characters, const char *limit)
{
    files::setAppPathForTesting(QString::fromLocal8Bit(folder));
    platform::ScriptedMessageBoxes boxes;
    int result = 0;
    {
        MainWindow window;
        if (!window.load()) {
            result = 2;
        } else if (limit && !limitFileSize(limit)) {
            result = 3;
        } else {
            auto *field = static_cast<QLineEdit *>(window.fieldWidget(ContactField::LastName));
            const QString typed(std::atoi(characters), QLatin1Char('t'));
            field->selectAll();
            field->insert(typed);
            runCommand(window, QStringLiteral("Next"));
            std::printf("kept: %s\n", field->text() == typed ? "yes" : "no");
        }
        // Gone without closing: closing would commit again and ask whether to give up.
        window.dbData1().close();
    }
    printBoxes(boxes);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "window-edit" && (argc == 4 || argc == 5)) {
        QApplication app(argc, argv);
        return windowEdit(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    }
    if (mode == "window-import" && argc == 5) {
        QApplication app(argc, argv);
        return windowImport(argv[2], argv[3], argv[4]);
    }
    QCoreApplication app(argc, argv);
    if (mode == "commit-loop" && argc == 3)
        return commitLoop(argv[2]);
    if (mode == "disk-full" && (argc == 4 || argc == 5))
        return diskFull(argv[2], argv[3], argc == 5 && QByteArray(argv[4]) == "retry-small");
    return 3;
}
