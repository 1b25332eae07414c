#include "windows.h"

#include <contacts/frmcontactlist2.h>
#include <info/frmabout.h>
#include <platform/windowslot.h>
#include <reportengine/reportviewer.h>
#include <reports/frmreports.h>
#include <search/frmsearch2.h>
#include <settings/frmoptions.h>

namespace app {

namespace {

// The one instance of each window.
platform::WindowSlot<FrmContactList2> &mainWindowSlot()
{
    static platform::WindowSlot<FrmContactList2> slot;
    return slot;
}

platform::WindowSlot<FrmSearch2> &searchSlot()
{
    static platform::WindowSlot<FrmSearch2> slot;
    return slot;
}

platform::WindowSlot<FrmOptions> &sortSlot()
{
    static platform::WindowSlot<FrmOptions> slot;
    return slot;
}

platform::WindowSlot<FrmReports> &reportsSlot()
{
    static platform::WindowSlot<FrmReports> slot;
    return slot;
}

platform::WindowSlot<FrmAbout> &aboutSlot()
{
    static platform::WindowSlot<FrmAbout> slot;
    return slot;
}

// Gives the main window the commands that open the other windows.
void wireWindowOpeners(FrmContactList2 *window)
{
    window->setWindowOpener(QStringLiteral("Search"), [window] {
        searchSlot().show([window] { return new FrmSearch2(*window); });
    });
    window->setWindowOpener(QStringLiteral("Sort"),
                            [] { sortSlot().show([] { return new FrmOptions; }); });
    window->setWindowOpener(QStringLiteral("Reports"), [] {
        reportsSlot().show([] { return new FrmReports([] { showMainWindow(); }); });
    });
    window->setWindowOpener(QStringLiteral("About"), [] {
        aboutSlot().show([] { return new FrmAbout([] { showMainWindow(); }); });
    });
    // The search dialog works on the main window's records only, and report viewers never
    // keep the program running: both close with the main window.
    QObject::connect(window, &QObject::destroyed, [] {
        searchSlot().close();
        reportengine::closeAllReportViewers();
    });
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
