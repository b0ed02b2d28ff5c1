#pragma once

#include <QWidget>
#include <functional>

class QPainter;

// A plain drawing surface: its owner draws it through OnPaint.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    std::function<void(QPainter& canvas)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};
