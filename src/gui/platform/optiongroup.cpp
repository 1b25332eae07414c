#include <gui/platform/optiongroup.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QEvent>
#include <QGroupBox>
#include <QPointer>
#include <QRadioButton>

namespace platform {

namespace {

// Qt already takes the other options of a group out of the Tab order once one of them has
// had the focus, keeping the one that had it. This keeps the selected option the one that
// stays in whenever the focus is outside the group: from the start, after the focus leaves
// and when the selection changes without the focus.
class OptionGroupTabStop final : public QObject
{
public:
    explicit OptionGroupTabStop(QButtonGroup *group)
        : QObject(group)
    {
        const QList<QAbstractButton *> options = group->buttons();
        for (QAbstractButton *option : options) {
            m_options.append(option);
            option->installEventFilter(this);
        }
        connect(group, &QButtonGroup::buttonToggled, this, &OptionGroupTabStop::update);
        update();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusOut)
            update();
        return QObject::eventFilter(watched, event);
    }

private:
    // The stop is the option with the focus, else the selected one, else the first.
    QAbstractButton *stop() const
    {
        for (QAbstractButton *option : m_options) {
            if (option && option->hasFocus())
                return option;
        }
        for (QAbstractButton *option : m_options) {
            if (option && option->isChecked())
                return option;
        }
        return m_options.value(0);
    }

    void update()
    {
        QAbstractButton *const tabStop = stop();
        for (QAbstractButton *option : std::as_const(m_options)) {
            if (!option)
                continue;
            const Qt::FocusPolicy policy = option->focusPolicy();
            option->setFocusPolicy(option == tabStop ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                                     : Qt::FocusPolicy(policy & ~Qt::TabFocus));
        }
    }

    QList<QPointer<QAbstractButton>> m_options;
};

} // namespace

void makeOptionGroup(QButtonGroup *group)
{
    new OptionGroupTabStop(group);
}

QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &title, const QRect &rect)
{
    auto *frame = new QGroupBox(title, parent);
    frame->setObjectName(name);
    frame->setAccessibleName(title);
    frame->setGeometry(rect);
    return frame;
}

QRadioButton *addOption(QButtonGroup *group,
                        QWidget *frame,
                        const QString &name,
                        const QString &caption,
                        const QRect &rect,
                        int id)
{
    auto *option = new QRadioButton(caption, frame);
    option->setObjectName(name);
    option->setAccessibleName(caption);
    option->setGeometry(rect);
    group->addButton(option, id);
    return option;
}

} // namespace platform
