#include "TreeNodeFrame.h"

#include <QGridLayout>

TTreeNodeFrame::TTreeNodeFrame(QObject* owner, QWidget* parent) : QWidget(parent) {
    SetOwner(this, owner, objectName());
}

void TTreeNodeFrame::SetNode(QTreeWidgetItem* node) {
    FNode = node;
}

void TTreeNodeFrame::SetShared(bool value) {
    FShared = value;
}

void TTreeNodeFrame::CentrePanel(QWidget* panel) {
    auto* centre = new QGridLayout(this);
    centre->setContentsMargins(0, 0, 0, 0);
    centre->addWidget(panel, 1, 1);
    centre->setRowStretch(0, 1);
    centre->setRowStretch(2, 1);
    centre->setColumnStretch(0, 1);
    centre->setColumnStretch(2, 1);
    setMinimumSize(panel->minimumSizeHint().expandedTo(panel->minimumSize()));
}
