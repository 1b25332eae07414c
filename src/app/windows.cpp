#include "windows.h"

#include <contacts/frmcontactlist2.h>
#include <platform/windowslot.h>
#include <search/frmsearch2.h>

namespace app {

namespace {

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

// Gives the main window the commands that open the other windows.
void wireWindowOpeners(FrmContactList2 *window)
{
    window->setWindowOpener(QStringLiteral("Search"), [window] {
        searchSlot().show([window] { return new FrmSearch2(*window); });
    });
    // The search dialog works on the main window's records only: it closes with it.
    QObject::connect(window, &QObject::destroyed, [] { searchSlot().close(); });
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
