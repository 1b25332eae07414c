#pragma once

class QWidget;

namespace platform {

// Places a top-level window in the centre of its screen's available area.
void centreOnScreen(QWidget *window);

} // namespace platform
