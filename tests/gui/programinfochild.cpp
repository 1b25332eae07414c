// Loads the program-information window in its own process, so a test can run it as an
// unprivileged user for whom the file is unreadable.
//
// Usage: programinfochild <application folder>
// Prints one JSON object: {"text": shown text, "boxes": [{"title", "text", "icon"}...]}.

#include <core/files/apppath.h>
#include <gui/dialogs/programinfowindow.h>
#include <gui/platform/scriptedmessageboxes.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2)
        return 2;
    files::setAppPathForTesting(arguments.at(1));
    platform::ScriptedMessageBoxes boxes;
    ProgramInfoWindow *window = info::showProgramInfo();
    auto *textBox = window->findChild<QPlainTextEdit *>(QStringLiteral("txtProgramInfo"));

    QJsonArray shown;
    for (const platform::MessageRequest &box : boxes.shown()) {
        shown.append(QJsonObject{{QStringLiteral("title"), box.title},
                                 {QStringLiteral("text"), box.text},
                                 {QStringLiteral("icon"), int(box.icon)}});
    }
    const QJsonObject result{{QStringLiteral("text"), textBox->toPlainText()},
                             {QStringLiteral("visible"), window->isVisible()},
                             {QStringLiteral("boxes"), shown}};
    std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}
