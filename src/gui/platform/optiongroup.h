#pragma once

class QButtonGroup;
class QGroupBox;
class QRadioButton;
class QRect;
class QString;
class QWidget;

namespace platform {

// Makes the option buttons of an exclusive button group (radio buttons of one frame) one
// stop in the window's keyboard order, as option groups are on the desktops: Tab and
// Shift+Tab enter the group at its selected option (at the first added when none is) and
// the next Tab leaves it, so Space there keeps the choice. The arrow keys are Qt's own for
// buttons of an exclusive group: they select the option above or below and run its Click.
// Call it once the group holds its buttons; the rule lives as long as the group.
void makeOptionGroup(QButtonGroup *group);

// The frame of an option group, at a fixed place, its title as its accessible name.
QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &title, const QRect &rect);
// An option button in a frame, joined to the group under id, its caption as its accessible
// name.
QRadioButton *addOption(QButtonGroup *group,
                        QWidget *frame,
                        const QString &name,
                        const QString &caption,
                        const QRect &rect,
                        int id);

} // namespace platform
