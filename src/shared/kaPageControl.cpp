#include "kaPageControl.h"

TkaPageControl::TkaPageControl(QWidget* parent) : QTabWidget(parent) {}
