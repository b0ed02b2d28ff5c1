#pragma once

#include "kaPanel.h"

// A panel whose children are alternative pages, one shown at a time.
class TkaTreePanel : public TkaPanel {
    Q_OBJECT
public:
    explicit TkaTreePanel(QWidget* parent = nullptr);
};
