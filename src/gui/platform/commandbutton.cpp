#include <gui/platform/commandbutton.h>

#include <QKeyEvent>
#include <QPushButton>

namespace platform {

namespace {

// Qt presses a focused push button with Enter only when it is an (auto-)default button,
// which would make it the window's default button while it has the focus. The desktops
// press the focused command button with Enter and Return as with Space.
class CommandButton final : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            // A held key presses it once, as Space does.
            if (!event->isAutoRepeat())
                click();
            event->accept();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

} // namespace

QPushButton *makeCommandButton(QWidget *parent,
                               const QString &name,
                               const QString &caption,
                               const QRect &geometry)
{
    auto *button = new CommandButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(geometry);
    return button;
}

} // namespace platform
