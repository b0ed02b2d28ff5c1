#pragma once

#include <QRegion>
#include <QWidget>
#include <functional>

class QPainter;

// A plain drawing surface: its owner draws it through OnPaint.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    std::function<void(QPainter& canvas)> OnPaint;
    // What the paint under way draws, in the box's pixels (valid inside
    // OnPaint): an owner with many items may skip those outside it.
    const QRegion& Exposed() const { return FExposed; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRegion FExposed;
};
