#pragma once

#include <QTabWidget>

class TkaPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TkaPageControl(QWidget* parent = nullptr);
};
