#pragma once

class MainWindow;

namespace app {

// The one main window, or nullptr when it is not loaded.
MainWindow *mainWindow();

// Shows the main window: creates it and runs its load handler on first use, brings it to
// the front otherwise. Returns false when loading failed (a message box has said why).
bool showMainWindow();

} // namespace app
