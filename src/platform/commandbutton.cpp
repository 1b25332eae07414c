#include "commandbutton.h"

#include <QPushButton>

namespace platform {

QPushButton *makeCommandButton(QWidget *parent,
                               const QString &name,
                               const QString &caption,
                               const QRect &geometry)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(geometry);
    return button;
}

} // namespace platform
