#pragma once

#include <QString>

class QPushButton;
class QRect;
class QWidget;

namespace platform {

// A command button as the windows' layouts give it: its objectName, an accessible name
// without the "&" of its access key, never the default button, at a fixed place. Space,
// Enter and Return press it when it has the focus; Enter elsewhere in the window does not.
QPushButton *makeCommandButton(QWidget *parent,
                               const QString &name,
                               const QString &caption,
                               const QRect &geometry);

} // namespace platform
