#pragma once

#include <optional>

// The keyboard's lock indicators, when the window system tells them.
struct KeyboardLocks
{
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

// Reads the lock indicators through Xkb on X11; nothing elsewhere.
std::optional<KeyboardLocks> readKeyboardLocks();
