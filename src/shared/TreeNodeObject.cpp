#include "TreeNodeObject.h"

#include "TreeNodeFrame.h"
#include "kaComponent.h"

TTreeNodeObject::TTreeNodeObject(QTreeWidgetItem* node, TTreeNodeFrame* page)
    : FPage(page), FNode(node) {}

TTreeNodeObject::~TTreeNodeObject() {
    TTreeNodeFrame* page = Page();
    if (page == nullptr)
        return;
    if (!page->Shared() && OwnerOf(page) == nullptr) {
        delete page;
        return;
    }
    // A surviving page must not keep pointing at a node that is going away.
    if (FNode != nullptr && page->Node() == FNode)
        page->SetNode(nullptr);
}

TTreeNodeFrame* TTreeNodeObject::Page() const {
    return FPage.data();
}

void TTreeNodeObject::SetPage(TTreeNodeFrame* page) {
    if (page == Page())
        return;
    FPage = page;
    if (page != nullptr)
        page->SetNode(FNode);
}

void TTreeNodeObject::SetUnread(bool value) {
    FUnread = value;
}

void TTreeNodeObject::SetDeletable(bool value) {
    FDeletable = value;
}

void TTreeNodeObject::SetNode(QTreeWidgetItem* node) {
    FNode = node;
}
