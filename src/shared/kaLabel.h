#pragma once

#include <QLabel>

class TkaLabel : public QLabel {
    Q_OBJECT
public:
    explicit TkaLabel(QWidget* parent = nullptr);
    explicit TkaLabel(const QString& text, QWidget* parent = nullptr);
};
