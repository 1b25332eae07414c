#include <gui/mainwindow/keyboardlocks.h>

#include <QGuiApplication>

#ifdef PELMORA_HAVE_X11
#include <X11/XKBlib.h>
#endif

std::optional<KeyboardLocks> readKeyboardLocks()
{
#ifdef PELMORA_HAVE_X11
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return std::nullopt;
    unsigned int state = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &state) != Success)
        return std::nullopt;
    const auto lit = [display, state](const char *name) {
        const Atom atom = XInternAtom(display, name, True);
        if (atom == None)
            return false;
        int index = -1;
        Bool on = False;
        if (!XkbGetNamedIndicator(display, atom, &index, &on, nullptr, nullptr))
            return false;
        return on == True || (index >= 0 && (state & (1u << index)));
    };
    return KeyboardLocks{lit("Caps Lock"), lit("Num Lock"), lit("Scroll Lock")};
#else
    return std::nullopt;
#endif
}
