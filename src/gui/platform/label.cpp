#include <gui/platform/label.h>

#include <gui/platform/fonts.h>

#include <QLabel>
#include <QPixmap>

#include <algorithm>

namespace platform {

QLabel *makeLabel(QWidget *parent,
                  const QString &name,
                  const QString &text,
                  const QRect &geometry,
                  const LabelLook &look)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    if (look.pointSize > 0)
        label->setFont(msSansSerif(look.pointSize, look.bold));
    if (look.colour) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(*look.colour));
        label->setPalette(palette);
    }
    label->setAlignment(look.alignment);
    label->setWordWrap(look.fit == TextFit::WordWrap);
    label->setGeometry(geometry);
    switch (look.fit) {
    case TextFit::SizedToText:
        label->adjustSize();
        break;
    case TextFit::WidenToText:
        // Liberation Sans runs a little wider than the bitmap font the layouts were drawn
        // with; the caption grows rather than lose its last letters.
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
        break;
    case TextFit::WordWrap:
    case TextFit::OneLine:
        break;
    }
    return label;
}

QLabel *makePicture(QWidget *parent,
                    const QString &name,
                    const QString &resource,
                    const QString &accessibleName,
                    const QRect &geometry,
                    bool stretched)
{
    auto *picture = new QLabel(parent);
    picture->setObjectName(name);
    picture->setAccessibleName(accessibleName);
    picture->setPixmap(QPixmap(resource));
    picture->setScaledContents(stretched);
    if (!stretched)
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setGeometry(geometry);
    return picture;
}

} // namespace platform
