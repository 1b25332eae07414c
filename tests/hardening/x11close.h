#pragma once

#include <QByteArray>

// Asks a top-level window to close as a window manager does when its close box is clicked:
// sends it the WM_DELETE_WINDOW client message. Returns false when the display cannot be
// reached. Kept apart from Qt's headers, which Xlib's macros would clash with.
bool sendCloseBoxClick(const QByteArray &display, unsigned long window);

// Takes the X input focus away from every window, as happens when the user turns to another
// program: the focus goes to the root window.
bool moveInputFocusToRoot(const QByteArray &display);
