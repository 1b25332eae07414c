#pragma once

#include <QPointer>
#include <QWidget>

namespace platform {

// Holds the one instance of a window. show() creates it on first use (or after it was
// unloaded: closed windows delete themselves) and otherwise brings it to the front.
template<typename Window>
class WindowSlot
{
public:
    template<typename Factory>
    Window *show(Factory makeWindow)
    {
        if (!isLoaded()) {
            m_window = makeWindow();
            m_window->setAttribute(Qt::WA_DeleteOnClose);
        }
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        return m_window;
    }

    // A window that has been closed but not yet deleted counts as unloaded.
    bool isLoaded() const { return m_window && !m_window->testAttribute(Qt::WA_WState_Hidden); }
    Window *window() const { return isLoaded() ? m_window.data() : nullptr; }

    void close()
    {
        if (m_window)
            m_window->close();
    }

private:
    QPointer<Window> m_window;
};

} // namespace platform
