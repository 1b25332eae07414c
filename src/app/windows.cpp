#include "windows.h"

#include <contacts/frmcontactlist2.h>
#include <info/frmabout.h>
#include <platform/windowslot.h>
#include <settings/frmoptions.h>

namespace app {

namespace {

platform::WindowSlot<FrmContactList2> &mainWindowSlot()
{
    static platform::WindowSlot<FrmContactList2> slot;
    return slot;
}

platform::WindowSlot<FrmOptions> &sortSlot()
{
    static platform::WindowSlot<FrmOptions> slot;
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
    window->setWindowOpener(QStringLiteral("Sort"),
                            [] { sortSlot().show([] { return new FrmOptions; }); });
    window->setWindowOpener(QStringLiteral("About"), [] {
        aboutSlot().show([] { return new FrmAbout([] { showMainWindow(); }); });
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
