#include "windows.h"

#include <gui/dialogs/aboutdialog.h>
#include <gui/dialogs/reportswindow.h>
#include <gui/dialogs/searchdialog.h>
#include <gui/dialogs/sortoptionsdialog.h>
#include <gui/mainwindow/mainwindow.h>
#include <gui/platform/windowslot.h>
#include <gui/report/reportviewer.h>

namespace app {

namespace {

// The one instance of each window.
platform::WindowSlot<MainWindow> &mainWindowSlot()
{
    static platform::WindowSlot<MainWindow> slot;
    return slot;
}

platform::WindowSlot<SearchDialog> &searchSlot()
{
    static platform::WindowSlot<SearchDialog> slot;
    return slot;
}

platform::WindowSlot<SortOptionsDialog> &sortSlot()
{
    static platform::WindowSlot<SortOptionsDialog> slot;
    return slot;
}

platform::WindowSlot<ReportsWindow> &reportsSlot()
{
    static platform::WindowSlot<ReportsWindow> slot;
    return slot;
}

platform::WindowSlot<AboutDialog> &aboutSlot()
{
    static platform::WindowSlot<AboutDialog> slot;
    return slot;
}

// Gives the main window the commands that open the other windows.
void wireWindowOpeners(MainWindow *window)
{
    window->setWindowOpener(MainWindow::Command::Search, [window] {
        searchSlot().show([window] {
            return new SearchDialog(window->dbData1(), window->storeFailureReporter());
        });
    });
    window->setWindowOpener(MainWindow::Command::Sort,
                            [] { sortSlot().show([] { return new SortOptionsDialog; }); });
    window->setWindowOpener(MainWindow::Command::Reports, [] {
        reportsSlot().show([] { return new ReportsWindow([] { showMainWindow(); }); });
    });
    window->setWindowOpener(MainWindow::Command::About, [] {
        aboutSlot().show([] { return new AboutDialog([] { showMainWindow(); }); });
    });
    // The search dialog works on the main window's records only, and report viewers never
    // keep the program running: both close with the main window.
    QObject::connect(window, &QObject::destroyed, [] {
        searchSlot().close();
        reportui::closeAllReportViewers();
    });
}

} // namespace

MainWindow *mainWindow()
{
    return mainWindowSlot().window();
}

bool showMainWindow()
{
    if (MainWindow *window = mainWindowSlot().window()) {
        window->show();
        window->raise();
        window->activateWindow();
        return true;
    }
    auto *window = new MainWindow;
    if (!window->load()) {
        delete window;
        return false;
    }
    wireWindowOpeners(window);
    mainWindowSlot().show([window] { return window; });
    return true;
}

} // namespace app
