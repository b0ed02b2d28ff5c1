#pragma once

#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QString>
#include <QTimer>
#include <QTreeWidget>

class TTreeNodeFrame;
class TTreeNodeObject;

// The explorer's tree: a single-column tree whose nodes carry node objects.
// The view owns every node's object and frees it when the node is deleted,
// when the tree is cleared and when the view is destroyed; the object in turn
// frees an unshared, unowned page. Only nodes made by the view's own helpers
// (AddNode, AddNodeFirst, FindOrInsertPath) can carry an object.
class TkaTreeView : public QTreeWidget {
    Q_OBJECT

public:
    // Joins the captions of a path through the tree (unread names,
    // FindOrInsertPath); day captions contain "/", so it is the backslash.
    static constexpr QChar CaptionSeparator{u'\\'};

    explicit TkaTreeView(QWidget* parent = nullptr);
    ~TkaTreeView() override;

    // Appends a node to Parent (top level when null). A given Page learns the
    // new node; a given NodeObject becomes the node's data and shows Page.
    // Image and selected index become ImageIndex; a state index of -1 or 0
    // shows no state image.
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& caption,
                             TTreeNodeFrame* page = nullptr, TTreeNodeObject* nodeObject = nullptr,
                             int stateIndex = -1, int imageIndex = -1);
    // The same, inserted as Parent's first child.
    QTreeWidgetItem* AddNodeFirst(QTreeWidgetItem* parent, const QString& caption,
                                  TTreeNodeFrame* page = nullptr,
                                  TTreeNodeObject* nodeObject = nullptr, int stateIndex = -1,
                                  int imageIndex = -1);
    // Appends one node per entry below Parent (not top level) in one
    // insertion, however many: the view lays itself out once, not per node.
    struct TNewNode {
        QString Caption;
        TTreeNodeFrame* Page = nullptr;
        TTreeNodeObject* NodeObject = nullptr;
        int ImageIndex = -1;
        bool ShowChildIndicator = false;
    };
    void AddNodes(QTreeWidgetItem* parent, const QList<TNewNode>& nodes);

    // Path holds captions separated by backslashes, compared exactly. Each one
    // is looked up below the node found so far and inserted (first or last
    // child) when missing; inserted nodes carry no object. Empty captions are
    // skipped, so an empty path gives Parent. Returns the last node.
    QTreeWidgetItem* FindOrInsertPath(QTreeWidgetItem* parent, const QString& path, bool addFirst);
    // The first child of Parent (top level when null) captioned Caption, or null.
    QTreeWidgetItem* FindChild(QTreeWidgetItem* parent, const QString& caption) const;

    // Delete every node one by one, so Deletion is emitted for each (clear()
    // frees the objects without notice).
    void ClearNodes();

    // The node's object, or null (also for a null node or a foreign item).
    static TTreeNodeObject* NodeObject(const QTreeWidgetItem* node);
    // Hands Object to Node, freeing the object it had; sets the object's node.
    // Raises EkaError for an item the view did not create.
    static void SetNodeObject(QTreeWidgetItem* node, TTreeNodeObject* object);
    // The page of the node's object, or null when there is none.
    static TTreeNodeFrame* NodePage(const QTreeWidgetItem* node);
    // The node at Index of this view's model, or null (for item delegates).
    QTreeWidgetItem* NodeFromIndex(const QModelIndex& index) const { return itemFromIndex(index); }
    // The model index of Node, which a QPersistentModelIndex can keep across a
    // dialog while the node itself may be deleted.
    QModelIndex IndexOfNode(const QTreeWidgetItem* node) const { return indexFromItem(node); }

    static int ImageIndex(const QTreeWidgetItem* node);
    static void SetImageIndex(QTreeWidgetItem* node, int index);
    static int SelectedIndex(const QTreeWidgetItem* node);
    static void SetSelectedIndex(QTreeWidgetItem* node, int index);
    static int StateIndex(const QTreeWidgetItem* node);
    static void SetStateIndex(QTreeWidgetItem* node, int index);

    // Icons drawn for the image index (the selected index while the node is
    // selected); an index outside the list draws nothing. State indexes are
    // kept on the nodes but not drawn: no node of the program shows one.
    const QList<QIcon>& Images() const { return FImages; }
    void SetImages(const QList<QIcon>& images);

    // Milliseconds between a change of the current node and Change; 0 emits at once.
    int ChangeDelay() const { return FChangeDelay; }
    void SetChangeDelay(int milliseconds);

    // Language export: erases Section of the ini file FileName and writes each
    // caption under "0", "1", ... in depth-first order.
    void ExportTreeTexts(const QString& fileName, const QString& section) const;
    // Language import: each node's caption from the same keys, its current
    // caption being the default.
    void ImportTreeTexts(const QString& fileName, const QString& section);

signals:
    // The current node changed and ChangeDelay has passed; Node is the current
    // node at that moment (null when there is none).
    void Change(QTreeWidgetItem* node);
    // Node is about to be deleted from the view: children are reported before
    // their parent, each while still in the tree and with its object intact.
    // Handlers must not delete nodes.
    void Deletion(QTreeWidgetItem* node);

private:
    QTreeWidgetItem* InsertNode(QTreeWidgetItem* parent, int index, const QString& caption);
    QTreeWidgetItem* AttachNode(QTreeWidgetItem* parent, int index, const QString& caption,
                                TTreeNodeFrame* page, TTreeNodeObject* nodeObject, int stateIndex,
                                int imageIndex);
    QList<QTreeWidgetItem*> NodesInTreeOrder() const;
    void CurrentNodeChanged();
    // Nodes inserted above the node under the mouse scroll the view by as
    // much as they push it down, so a click aimed at it still hits it.
    void NoteNodeUnderMouse();
    void KeepNodeUnderMouse();

    QList<QIcon> FImages;
    int FChangeDelay = 0;
    QTimer FChangeTimer;
    QPersistentModelIndex FAnchor;
    int FAnchorTop = 0;
};
