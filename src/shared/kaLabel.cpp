#include "kaLabel.h"

TkaLabel::TkaLabel(QWidget* parent) : QLabel(parent) {}

TkaLabel::TkaLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}
