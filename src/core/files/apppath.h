#pragma once

#include <core/base/result.h>

#include <QString>

namespace files {

// The application folder, without a trailing separator: the folder of the address book, the
// report definitions and "Program Data". Never the current directory. Before openAppFolder()
// has run (and in programs that never call it) it is the executable's own folder.
QString appPath();

// The folder of the settings files and ProgramInfo.txt: AppPath + "/Program Data".
QString dataDir();

// AppPath joined with a fixed relative path such as "Program Data/settings.ini".
QString appFile(const QString &relativePath);

// Tests point AppPath at a folder they filled; an empty path restores the executable's folder.
void setAppPathForTesting(const QString &path);

// Where the application folder lies for an executable, and where its first files come from.
struct AppFolderPlan
{
    QString folder;
    // The installed templates the folder is filled from; empty when portable.
    QString templates;
    // Where the program's helper processes lie (PELMORA_HELPER_DIR in the install rules).
    QString helpers;
    bool portable = false;
};

// Portable: the executable's folder holds cntdb.mdb or "Program Data", and it is the
// application folder, even without its address book. Installed: the executable's folder holds
// neither and <executable>/../share/pelmora holds the templates; the folder is
// <dataHome>/pelmora, filled from them. A folder that is neither (no templates where they are
// installed) is taken as portable. Helpers lie in <executable>/../lib/pelmora when
// installed, beside the executable when portable.
AppFolderPlan planAppFolder(const QString &executableDir, const QString &dataHome);

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share.
QString userDataHome();

// Makes the plan's folder when missing and copies into it every template file it lacks,
// sub-folders included; a file already there is never replaced. The failure names the
// folder or file and the reason. A portable plan is left as it is.
Result<void> prepareAppFolder(const AppFolderPlan &plan);

// Plans the folder for this executable, prepares it and makes it AppPath. Run once at the
// start by the program and by the command-line tool; a test's AppPath is kept as it is.
Result<QString> openAppFolder();

// The folder of the program's helper processes: beside the executable when portable,
// <prefix>/lib/pelmora (the install rules' PELMORA_HELPER_DIR) when installed.
QString helperDir();

} // namespace files
