// Window layouts are designed in twips: 1/1440 inch, 15 to a pixel at 96 dpi.
#pragma once

#include <QRect>
#include <QSize>

inline constexpr int TwipsPerPixel = 15;

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                 height / TwipsPerPixel);
}

constexpr QSize twipsSize(int width, int height) {
    return QSize(width / TwipsPerPixel, height / TwipsPerPixel);
}
