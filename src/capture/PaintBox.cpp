#include "PaintBox.h"

#include "ApplicationErrors.h"

#include <QPaintEvent>
#include <QPainter>

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {}

void TPaintBox::paintEvent(QPaintEvent* event) {
    if (!OnPaint)
        return;
    FExposed = event->region();
    QPainter canvas(this);
    // An error must not escape into Qt's event dispatch (a picture that does
    // not decode, for instance); it is reported and the box stays as drawn.
    RunHandled([&] { OnPaint(canvas); });
}
