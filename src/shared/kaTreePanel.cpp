#include "kaTreePanel.h"

TkaTreePanel::TkaTreePanel(QWidget* parent) : TkaPanel(parent) {}
