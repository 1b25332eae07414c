#include <gui/platform/controltable.h>

#include <gui/platform/commandbutton.h>
#include <gui/platform/label.h>
#include <gui/platform/optiongroup.h>

#include <QGroupBox>
#include <QLineEdit>

#include <limits>

namespace platform {

void makeControls(QWidget *window, QButtonGroup *group, std::span<const LayoutControl> controls)
{
    QGroupBox *frame = nullptr;
    for (const LayoutControl &control : controls) {
        const QString name = QString::fromLatin1(control.name);
        const QString text = QString::fromLatin1(control.text);
        switch (control.kind) {
        case LayoutControl::Kind::Label:
            makeLabel(window, name, text, control.rect);
            break;
        case LayoutControl::Kind::Frame:
            frame = makeFrame(window, name, text, control.rect);
            break;
        case LayoutControl::Kind::Option:
            addOption(group, frame, name, text, control.rect, control.id);
            break;
        case LayoutControl::Kind::Edit: {
            auto *edit = new QLineEdit(frame);
            edit->setObjectName(name);
            edit->setAccessibleName(frame->title());
            edit->setMaxLength(std::numeric_limits<int>::max());
            edit->setGeometry(control.rect);
            break;
        }
        case LayoutControl::Kind::Button:
            makeCommandButton(window, name, text, control.rect);
            break;
        }
    }
}

QString optionDescription(std::span<const LayoutControl> controls, int id)
{
    for (const LayoutControl &control : controls) {
        if (control.kind == LayoutControl::Kind::Option && control.id == id)
            return QString::fromLatin1(control.description);
    }
    return {};
}

} // namespace platform
