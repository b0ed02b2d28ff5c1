#include "ClientPaintBox.h"

#include <QPaintEvent>
#include <QPainter>

TClientPaintBox::TClientPaintBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void TClientPaintBox::Clear() {
    FClearPending = true;
    update();
}

QColor TClientPaintBox::BackgroundColor() const {
    return palette().color(QPalette::Window);
}

void TClientPaintBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (FClearPending) {
        FClearPending = false;
        painter.fillRect(rect(), BackgroundColor());
    }
    if (OnPaint)
        OnPaint(painter);
}
