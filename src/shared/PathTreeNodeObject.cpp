#include "PathTreeNodeObject.h"

#include "kaTreeView.h"

#include <utility>

TPathTreeNodeObject::TPathTreeNodeObject(QTreeWidgetItem* node, QString path, TTreeNodeFrame* page)
    : TTreeNodeObject(node, page), FPath(std::move(path)) {}

void TPathTreeNodeObject::SetPath(const QString& value) {
    if (value == FPath)
        return;
    FPath = value;
    FUnreadNames.clear();
}

void TPathTreeNodeObject::SetUnread(bool value) {
    if (!value && Unread())
        FUnreadNames.clear();
    TTreeNodeObject::SetUnread(value);
}

TPathTreeNodeObject* PathNodeObject(const QTreeWidgetItem* node) {
    return dynamic_cast<TPathTreeNodeObject*>(TkaTreeView::NodeObject(node));
}
