#pragma once

#include <QRect>
#include <QString>

#include <span>

class QButtonGroup;
class QWidget;

namespace platform {

// One control of a window's stored layout. A window keeps its controls in one table, in
// creation order, which is the order they are drawn in.
struct LayoutControl
{
    enum class Kind { Label, Frame, Option, Edit, Button };

    Kind kind;
    const char *name;
    const char *text;                  // a caption, or what a label says; an edit box starts empty
    QRect rect;                        // an option's or an edit box's lies in the frame above it
    int id = 0;                        // an option's id in the window's option group
    const char *description = nullptr; // what the window says an option does
};

// Makes the table's controls: labels, frames and command buttons on the window, options
// and edit boxes in the frame above them. The options join group under their ids. An edit
// box has no length limit and takes its frame's title as its accessible name.
void makeControls(QWidget *window, QButtonGroup *group, std::span<const LayoutControl> controls);

// The description of the option with this id; a null string when no option has it.
QString optionDescription(std::span<const LayoutControl> controls, int id);

} // namespace platform
