// Starts the program as its executable does, from wherever this copy of it lies, with every
// message box answered with its first button. Once the program has ended it prints the text
// of each box as one JSON string per line. Tests copy it into made-up folders.
#include <app/startup.h>
#include <gui/platform/fonts.h>
#include <gui/platform/scriptedmessageboxes.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    platform::installFontSubstitutions();
    platform::ScriptedMessageBoxes boxes;
    QTimer::singleShot(0, &application, &app::startup);
    const int status = QApplication::exec();
    for (const platform::MessageRequest &box : boxes.shown()) {
        const QByteArray line = QJsonDocument(QJsonArray{box.text}).toJson(QJsonDocument::Compact);
        std::printf("%s\n", line.constData());
    }
    return status;
}
