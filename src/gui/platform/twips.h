#pragma once

#include <QRect>
#include <QSize>

#include <cmath>

namespace platform {

// Layout positions are stored in twips, 1/1440 inch: 15 twips to a pixel at 96 dpi.
constexpr int twipsPerPixel = 15;

constexpr int twips(int value)
{
    return (value + (value >= 0 ? twipsPerPixel / 2 : -twipsPerPixel / 2)) / twipsPerPixel;
}

constexpr QSize twipsSize(int width, int height)
{
    return QSize(twips(width), twips(height));
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace platform
