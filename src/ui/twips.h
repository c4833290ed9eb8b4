#pragma once

#include <QRect>
#include <QtMath>

// Window positions and sizes are kept in twips, as the layout was drawn: 15 to a
// device-independent pixel.
namespace Twips {

constexpr int TwipsPerPixel = 15;

inline int toPixels(int twips)
{
    return qRound(double(twips) / TwipsPerPixel);
}

inline QRect toPixels(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

} // namespace Twips
