#include "kaPanel.h"

#include <QLayout>
#include <algorithm>

TkaPanel::TkaPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(FBevelWidth);
}

void TkaPanel::SetBevelWidth(int value) {
    FBevelWidth = value;
    setLineWidth(value);
}

void TkaPanel::Loaded() {
    if (!FConstraintAuto)
        return;
    // The bevel counts once per side, whatever the frame style; children placed
    // by the panel's layout are kept whole by the layout itself.
    const int border = 2 * FBevelWidth;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (layout() != nullptr && layout()->indexOf(child) >= 0)
            continue;
        const QRect area = child->geometry();
        setMinimumWidth(std::max(minimumWidth(), area.x() + area.width() + border));
        setMinimumHeight(std::max(minimumHeight(), area.y() + area.height() + border));
    }
}
