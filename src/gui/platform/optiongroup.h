#pragma once

#include <QList>

class QAbstractButton;

namespace platform {

// Makes auto-exclusive option buttons (radio buttons of one frame) one stop in the window's
// keyboard order, as option groups are on the desktops: Tab and Shift+Tab enter the group at
// its selected option (at the first given when none is) and the next Tab leaves it, so
// Space there keeps the choice. The arrow keys are Qt's own for auto-exclusive buttons: they
// select the option above or below and run its Click. The group lives as long as the
// buttons' parent.
void makeOptionGroup(const QList<QAbstractButton *> &options);

} // namespace platform
