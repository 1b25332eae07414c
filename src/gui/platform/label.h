#pragma once

#include <QString>
#include <Qt>

#include <optional>

class QLabel;
class QRect;
class QWidget;

namespace platform {

// How a label's text fills the rectangle the layout gives it.
enum class TextFit {
    WordWrap,    // broken into lines inside the rectangle
    OneLine,     // one line, cut off at the rectangle's edge
    SizedToText, // the rectangle's corner, the size of the text
    WidenToText, // at least as wide as the text: a left-aligned caption grows to the right
};

struct LabelLook
{
    qreal pointSize = 0; // "MS Sans Serif" at this size; 0: the window's font
    bool bold = false;
    std::optional<Qt::GlobalColor> colour = {}; // none: the window's text colour
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
    TextFit fit = TextFit::WordWrap;
};

// A label as the windows' layouts give it: its objectName, its text (which is also its
// accessible name), a fixed place and its look.
QLabel *makeLabel(QWidget *parent,
                  const QString &name,
                  const QString &text,
                  const QRect &geometry,
                  const LabelLook &look = {});

// A picture from the program's resources, stretched to its rectangle or drawn at its own
// size in the top left corner.
QLabel *makePicture(QWidget *parent,
                    const QString &name,
                    const QString &resource,
                    const QString &accessibleName,
                    const QRect &geometry,
                    bool stretched = true);

} // namespace platform
