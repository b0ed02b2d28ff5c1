#pragma once

#include <QWidget>
#include <functional>

// The client's picture area. It is opaque: nothing erases it before a paint,
// so a picture is not flickered over by the background. Clear asks the next
// paint to fill the whole area with the background first.
class TClientPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TClientPaintBox(QWidget* parent = nullptr);

    void Clear();
    bool ClearPending() const { return FClearPending; }
    // The background colour of clearing and of an empty picture.
    QColor BackgroundColor() const;

    std::function<void(QPainter& painter)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool FClearPending = true;
};
