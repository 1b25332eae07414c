#include "startup.h"

#include <gui/platform/fonts.h>

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelmora"));
    platform::installFontSubstitutions();
    app::setFilesToImport(QApplication::arguments().mid(1));
    QTimer::singleShot(0, &application, &app::startup);
    return QApplication::exec();
}
