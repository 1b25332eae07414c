#pragma once

#include <QStringList>

class SplashWindow;

namespace app {

// The start-up routine: opens the application folder (a folder that cannot be made or filled
// is named in a message, and the program ends with status 1), registers the common controls and shows the splash window, whose
// first timer tick runs the rest of the start-up once: the report-engine check, the progress
// animation, then the main window in place of the splash window.
void startup();
// Files the program was started with ("Open with" in a file manager): once the main window
// is shown it offers to import them.
void setFilesToImport(const QStringList &files);

// The one splash window while it is loaded, or nullptr.
SplashWindow *splashWindow();

} // namespace app
