#include "kaMaskBitmap.h"

#include <QPainter>
#include <QPen>
#include <algorithm>

namespace {

// The table entry for black or white: the exact colour, added when missing and
// there is room, else the entry closest to it.
int ColourIndex(QImage& mask, bool black) {
    const QRgb wanted = black ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    QList<QRgb> table = mask.colorTable();
    for (int i = 0; i < int(table.size()); ++i)
        if ((table[i] & 0x00ffffffu) == (wanted & 0x00ffffffu))
            return i;
    if (table.size() < 256) {
        table.append(wanted);
        mask.setColorTable(table);
        return int(table.size()) - 1;
    }
    const auto lightness = [](QRgb c) { return qRed(c) + qGreen(c) + qBlue(c); };
    const auto closest =
        black ? std::min_element(table.begin(), table.end(),
                                 [&](QRgb a, QRgb b) { return lightness(a) < lightness(b); })
              : std::max_element(table.begin(), table.end(),
                                 [&](QRgb a, QRgb b) { return lightness(a) < lightness(b); });
    return int(closest - table.begin());
}

QPen StrokePen(const QColor& colour, int width) {
    QPen pen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    return pen;
}

} // namespace

namespace MaskBitmap {

QImage White(int width, int height) {
    QImage mask(width, height, QImage::Format_Indexed8);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(1);
    return mask;
}

QRect DrawLine(QImage& mask, QPoint from, QPoint to, int width, bool black) {
    const int reach = width / 2 + 2;
    const QRect area = QRect(from, to)
                           .normalized()
                           .adjusted(-reach, -reach, reach, reach)
                           .intersected(mask.rect());
    if (area.isEmpty())
        return {};
    if (mask.format() != QImage::Format_Indexed8) {
        QPainter painter(&mask);
        painter.setPen(StrokePen(black ? Qt::black : Qt::white, width));
        painter.drawLine(from, to);
        return area;
    }
    // QPainter cannot paint on an indexed picture: the stroke is drawn on a
    // scratch picture of the touched area and its pixels set in the mask.
    QImage stroke(area.size(), QImage::Format_Grayscale8);
    stroke.fill(0);
    {
        QPainter painter(&stroke);
        painter.setPen(StrokePen(Qt::white, width));
        painter.translate(-area.topLeft());
        painter.drawLine(from, to);
    }
    const uchar index = uchar(ColourIndex(mask, black));
    for (int y = 0; y < area.height(); ++y) {
        const uchar* covered = stroke.constScanLine(y);
        uchar* target = mask.scanLine(area.top() + y) + area.left();
        for (int x = 0; x < area.width(); ++x)
            if (covered[x] != 0)
                target[x] = index;
    }
    return area;
}

void Clear(QImage& mask) {
    if (mask.format() == QImage::Format_Indexed8)
        mask.fill(uint(ColourIndex(mask, false)));
    else
        mask.fill(Qt::white);
}

} // namespace MaskBitmap
