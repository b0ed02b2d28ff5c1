#include "PaintBox.h"

#include "ApplicationErrors.h"

#include <QPainter>

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {}

void TPaintBox::paintEvent(QPaintEvent* /*event*/) {
    if (!OnPaint)
        return;
    QPainter canvas(this);
    // An error must not escape into Qt's event dispatch (a picture that does
    // not decode, for instance); it is reported and the box stays as drawn.
    RunHandled([&] { OnPaint(canvas); });
}
