#pragma once

#include <QPointer>

class QTreeWidgetItem;
class TTreeNodeFrame;

// The data every explorer node carries: the page it shows and its read state.
// Owned by its node (see TkaTreeView); when it dies it frees its page unless
// the page is shared or owned by a form.
class TTreeNodeObject {
public:
    TTreeNodeObject() = default;
    // Stores both as they are; the page is not told about the node.
    TTreeNodeObject(QTreeWidgetItem* node, TTreeNodeFrame* page);
    virtual ~TTreeNodeObject();

    TTreeNodeObject(const TTreeNodeObject&) = delete;
    TTreeNodeObject& operator=(const TTreeNodeObject&) = delete;

    // Null also when the page has been freed elsewhere.
    TTreeNodeFrame* Page() const;
    // A different page is stored and told this object's node.
    void SetPage(TTreeNodeFrame* page);

    bool Unread() const { return FUnread; }
    virtual void SetUnread(bool value);

    bool Deletable() const { return FDeletable; }
    void SetDeletable(bool value);

    // The node that carries this object; not owned.
    QTreeWidgetItem* Node() const { return FNode; }
    void SetNode(QTreeWidgetItem* node);

private:
    QPointer<TTreeNodeFrame> FPage;
    bool FUnread = false;
    bool FDeletable = true;
    QTreeWidgetItem* FNode = nullptr;
};
