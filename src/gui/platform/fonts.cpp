#include <gui/platform/fonts.h>

namespace platform {

void installFontSubstitutions()
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
}

QFont msSansSerif(qreal pointSize, bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace platform
