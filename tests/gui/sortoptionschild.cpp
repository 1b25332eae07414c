// Runs one save of the sort options dialog in its own process, so a test can impose what
// only a process can: a file-size limit, or the rights of an unprivileged user.
//
// Usage: sortoptionschild <application folder> <option object name> [--ignore-sigxfsz]
// Prints every message box as one JSON object per line: {"title", "text", "icon"}.

#include <core/files/apppath.h>
#include <gui/dialogs/sortoptionsdialog.h>
#include <gui/platform/scriptedmessageboxes.h>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRadioButton>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3)
        return 2;
    // A file-size limit stands for a full disk: the write must fail with an error, as with
    // ENOSPC, instead of the signal ending the process.
    if (arguments.contains(QStringLiteral("--ignore-sigxfsz")))
        std::signal(SIGXFSZ, SIG_IGN);

    files::setAppPathForTesting(arguments.at(1));
    platform::ScriptedMessageBoxes boxes;
    SortOptionsDialog dialog;
    auto *option = dialog.findChild<QRadioButton *>(arguments.at(2));
    if (!option)
        return 3;
    option->setChecked(true);
    dialog.save();

    for (const platform::MessageRequest &box : boxes.shown()) {
        const QJsonObject object{{QStringLiteral("title"), box.title},
                                 {QStringLiteral("text"), box.text},
                                 {QStringLiteral("icon"), int(box.icon)}};
        std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}
