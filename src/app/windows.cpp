#include "windows.h"

#include <contacts/frmcontactlist2.h>
#include <platform/windowslot.h>
#include <reportengine/reportviewer.h>
#include <reports/frmreports.h>

namespace app {

namespace {

platform::WindowSlot<FrmContactList2> &mainWindowSlot()
{
    static platform::WindowSlot<FrmContactList2> slot;
    return slot;
}

// Gives the main window the commands that open the other windows.
void wireWindowOpeners(FrmContactList2 *window)
{
    window->setWindowOpener(QStringLiteral("Reports"), [] {
        static platform::WindowSlot<FrmReports> reports;
        reports.show([] { return new FrmReports([] { showMainWindow(); }); });
    });
    // Report viewers do not keep the program running; they close with the main window.
    QObject::connect(window, &QObject::destroyed, [] { reportengine::closeAllReportViewers(); });
}

} // namespace

FrmContactList2 *mainWindow()
{
    return mainWindowSlot().window();
}

bool showMainWindow()
{
    if (FrmContactList2 *window = mainWindowSlot().window()) {
        window->show();
        window->raise();
        window->activateWindow();
        return true;
    }
    auto *window = new FrmContactList2;
    if (!window->load()) {
        delete window;
        return false;
    }
    wireWindowOpeners(window);
    mainWindowSlot().show([window] { return window; });
    return true;
}

} // namespace app
