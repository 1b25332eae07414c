// Runs a real event loop with a "main window" and a report viewer, closes the main window
// and exits 0 if the program then ends by itself; 3 if it kept running. Used by
// tst_reportengine, which cannot run QApplication::exec() itself.

#include <gui/report/viewerreportcontrol.h>

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc < 2)
        return 2;
    QWidget mainWindow;
    mainWindow.show();
    reportui::ViewerReportControl control;
    control.setReportFileName(QString::fromLocal8Bit(argv[1]));
    if (!control.run())
        return 1;
    QTimer::singleShot(200, &mainWindow, [&] {
        if (reportui::openReportViewers().size() != 1)
            QApplication::exit(4);
        mainWindow.close();
    });
    QTimer::singleShot(20000, [] {
        std::fprintf(stderr, "still running with only a report viewer open\n");
        QApplication::exit(3);
    });
    return QApplication::exec();
}
