#pragma once

#include <QImage>
#include <QPoint>

// Painting on a detection mask in any of its formats (see MaskFile): black
// hides, white watches. Indexed masks get black or white into their colour
// table when it lacks them and has room; otherwise the closest entry serves.
namespace MaskBitmap {

// A mask of Width x Height that watches everything: 8 bits, black and white.
QImage White(int width, int height);

// A line from From to To of Width pixels with round ends, as the mask
// editor's pen draws it, clipped to the mask. Answers the touched rectangle.
QRect DrawLine(QImage& mask, QPoint from, QPoint to, int width, bool black);

// Makes the whole mask white.
void Clear(QImage& mask);

} // namespace MaskBitmap
