#include "TreeNodeFrame.h"

TTreeNodeFrame::TTreeNodeFrame(QObject* owner, QWidget* parent) : QWidget(parent) {
    SetOwner(this, owner, objectName());
}

void TTreeNodeFrame::SetNode(QTreeWidgetItem* node) {
    FNode = node;
}

void TTreeNodeFrame::SetShared(bool value) {
    FShared = value;
}
