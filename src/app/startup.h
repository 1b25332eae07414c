#pragma once

namespace app {

// The start-up routine: registers the common controls and shows the splash window, whose
// first timer tick runs the rest of the start-up.
void startup();

} // namespace app
