#pragma once

#include <QFont>

namespace platform {

// Maps "MS Sans Serif" to "Liberation Sans", which keeps Arial's widths.
void installFontSubstitutions();

// "MS Sans Serif" at the given point size, as the windows' layouts name it.
QFont msSansSerif(qreal pointSize, bool bold = false);

} // namespace platform
