#include "kaTreeView.h"

#include "EkaError.h"
#include "TIniFile.h"
#include "TreeNodeFrame.h"
#include "TreeNodeObject.h"

#include <QCursor>
#include <QHash>
#include <QScrollBar>
#include <QTreeWidgetItemIterator>
#include <memory>

namespace {

constexpr int ImageIndexRole = Qt::UserRole + 1;
constexpr int SelectedIndexRole = Qt::UserRole + 2;
constexpr int StateIndexRole = Qt::UserRole + 3;

// A node that owns its node object.
class TkaTreeNode final : public QTreeWidgetItem {
public:
    explicit TkaTreeNode(const QString& caption) : QTreeWidgetItem(QStringList{caption}, UserType) {
        setData(0, ImageIndexRole, -1);
        setData(0, SelectedIndexRole, -1);
        setData(0, StateIndexRole, -1);
    }

    ~TkaTreeNode() override {
        // Children go first. While this node is in a view they leave it one by
        // one, so deletion handlers see each node in place with its object;
        // a cleared or detached subtree is freed without notice.
        if (treeWidget() == nullptr) {
            qDeleteAll(takeChildren());
            return;
        }
        while (childCount() > 0)
            delete child(0);
        if (auto* view = qobject_cast<TkaTreeView*>(treeWidget()))
            emit view->Deletion(this);
    }

    QVariant data(int column, int role) const override {
        if (role == Qt::DecorationRole && column == 0) {
            const auto* view = qobject_cast<const TkaTreeView*>(treeWidget());
            if (view != nullptr && !view->Images().isEmpty())
                return Icon(view->Images());
        }
        return QTreeWidgetItem::data(column, role);
    }

    std::unique_ptr<TTreeNodeObject> Object;

private:
    QVariant Icon(const QList<QIcon>& images) const {
        const int index = data(0, isSelected() ? SelectedIndexRole : ImageIndexRole).toInt();
        if (index < 0 || index >= images.size())
            return {};
        return images.at(index);
    }
};

int IndexOf(const QTreeWidgetItem* node, int role) {
    return node->data(0, role).toInt();
}

} // namespace

TkaTreeView::TkaTreeView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    FChangeTimer.setSingleShot(true);
    connect(&FChangeTimer, &QTimer::timeout, this, [this] { emit Change(currentItem()); });
    connect(this, &QTreeWidget::currentItemChanged, this, &TkaTreeView::CurrentNodeChanged);
    // Pixels, so that the node under the mouse can be held exactly in place.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(model(), &QAbstractItemModel::rowsAboutToBeInserted, this,
            &TkaTreeView::NoteNodeUnderMouse);
    connect(model(), &QAbstractItemModel::rowsInserted, this, &TkaTreeView::KeepNodeUnderMouse);
}

void TkaTreeView::NoteNodeUnderMouse() {
    FAnchor = QPersistentModelIndex();
    if (!viewport()->underMouse())
        return;
    const QPoint pointer = viewport()->mapFromGlobal(QCursor::pos());
    const QModelIndex index = indexAt(pointer);
    if (!index.isValid())
        return;
    FAnchor = index;
    FAnchorTop = visualRect(index).top();
}

void TkaTreeView::KeepNodeUnderMouse() {
    if (!FAnchor.isValid())
        return;
    const QModelIndex anchor = FAnchor;
    FAnchor = QPersistentModelIndex();
    const int moved = visualRect(anchor).top() - FAnchorTop;
    if (moved == 0)
        return;
    // The range must already count the new rows.
    updateGeometries();
    verticalScrollBar()->setValue(verticalScrollBar()->value() + moved);
}

TkaTreeView::~TkaTreeView() {
    // Free the node objects while this view is whole; handlers of a parent
    // that is itself being destroyed must not run.
    const bool wasBlocked = blockSignals(true);
    clear();
    blockSignals(wasBlocked);
}

QTreeWidgetItem* TkaTreeView::AddNode(QTreeWidgetItem* parent, const QString& caption,
                                      TTreeNodeFrame* page, TTreeNodeObject* nodeObject,
                                      int stateIndex, int imageIndex) {
    const int last = parent != nullptr ? parent->childCount() : topLevelItemCount();
    return AttachNode(parent, last, caption, page, nodeObject, stateIndex, imageIndex);
}

QTreeWidgetItem* TkaTreeView::AddNodeFirst(QTreeWidgetItem* parent, const QString& caption,
                                           TTreeNodeFrame* page, TTreeNodeObject* nodeObject,
                                           int stateIndex, int imageIndex) {
    return AttachNode(parent, 0, caption, page, nodeObject, stateIndex, imageIndex);
}

QTreeWidgetItem* TkaTreeView::AttachNode(QTreeWidgetItem* parent, int index, const QString& caption,
                                         TTreeNodeFrame* page, TTreeNodeObject* nodeObject,
                                         int stateIndex, int imageIndex) {
    QTreeWidgetItem* node = InsertNode(parent, index, caption);
    SetImageIndex(node, imageIndex);
    SetSelectedIndex(node, imageIndex);
    SetStateIndex(node, stateIndex);
    if (page != nullptr)
        page->SetNode(node);
    if (nodeObject != nullptr) {
        SetNodeObject(node, nodeObject);
        nodeObject->SetPage(page);
    }
    return node;
}

void TkaTreeView::AddNodes(QTreeWidgetItem* parent, const QList<TNewNode>& nodes) {
    QList<QTreeWidgetItem*> children;
    children.reserve(nodes.size());
    for (const TNewNode& wanted : nodes) {
        auto* node = new TkaTreeNode(wanted.Caption);
        children.append(node);
        SetImageIndex(node, wanted.ImageIndex);
        SetSelectedIndex(node, wanted.ImageIndex);
        SetStateIndex(node, -1);
        if (wanted.ShowChildIndicator)
            node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        if (wanted.Page != nullptr)
            wanted.Page->SetNode(node);
        if (wanted.NodeObject != nullptr) {
            SetNodeObject(node, wanted.NodeObject);
            wanted.NodeObject->SetPage(wanted.Page);
        }
    }
    parent->addChildren(children);
}

QTreeWidgetItem* TkaTreeView::InsertNode(QTreeWidgetItem* parent, int index,
                                         const QString& caption) {
    auto* node = new TkaTreeNode(caption);
    if (parent != nullptr)
        parent->insertChild(index, node);
    else
        insertTopLevelItem(index, node);
    return node;
}

QTreeWidgetItem* TkaTreeView::FindOrInsertPath(QTreeWidgetItem* parent, const QString& path,
                                               bool addFirst) {
    QTreeWidgetItem* node = parent;
    for (const QString& caption : path.split(CaptionSeparator, Qt::SkipEmptyParts)) {
        QTreeWidgetItem* child = FindChild(node, caption);
        if (child == nullptr) {
            const int last = node != nullptr ? node->childCount() : topLevelItemCount();
            child = InsertNode(node, addFirst ? 0 : last, caption);
        }
        node = child;
    }
    return node;
}

QTreeWidgetItem* TkaTreeView::FindChild(QTreeWidgetItem* parent, const QString& caption) const {
    const int count = parent != nullptr ? parent->childCount() : topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* child = parent != nullptr ? parent->child(i) : topLevelItem(i);
        if (child->text(0) == caption)
            return child;
    }
    return nullptr;
}

void TkaTreeView::ClearNodes() {
    while (topLevelItemCount() > 0)
        delete topLevelItem(0);
}

TTreeNodeObject* TkaTreeView::NodeObject(const QTreeWidgetItem* node) {
    const auto* own = dynamic_cast<const TkaTreeNode*>(node);
    return own != nullptr ? own->Object.get() : nullptr;
}

void TkaTreeView::SetNodeObject(QTreeWidgetItem* node, TTreeNodeObject* object) {
    auto* own = dynamic_cast<TkaTreeNode*>(node);
    if (own == nullptr) {
        delete object;
        throw EkaError("Tree node cannot carry an object");
    }
    if (own->Object.get() == object)
        return;
    own->Object.reset(object);
    if (object != nullptr)
        object->SetNode(node);
}

TTreeNodeFrame* TkaTreeView::NodePage(const QTreeWidgetItem* node) {
    const TTreeNodeObject* object = NodeObject(node);
    return object != nullptr ? object->Page() : nullptr;
}

int TkaTreeView::ImageIndex(const QTreeWidgetItem* node) {
    return IndexOf(node, ImageIndexRole);
}

void TkaTreeView::SetImageIndex(QTreeWidgetItem* node, int index) {
    node->setData(0, ImageIndexRole, index);
}

int TkaTreeView::SelectedIndex(const QTreeWidgetItem* node) {
    return IndexOf(node, SelectedIndexRole);
}

void TkaTreeView::SetSelectedIndex(QTreeWidgetItem* node, int index) {
    node->setData(0, SelectedIndexRole, index);
}

int TkaTreeView::StateIndex(const QTreeWidgetItem* node) {
    return IndexOf(node, StateIndexRole);
}

void TkaTreeView::SetStateIndex(QTreeWidgetItem* node, int index) {
    node->setData(0, StateIndexRole, index);
}

void TkaTreeView::SetImages(const QList<QIcon>& images) {
    FImages = images;
    viewport()->update();
}

void TkaTreeView::SetChangeDelay(int milliseconds) {
    FChangeDelay = qMax(0, milliseconds);
}

void TkaTreeView::CurrentNodeChanged() {
    if (FChangeDelay == 0) {
        FChangeTimer.stop();
        emit Change(currentItem());
        return;
    }
    FChangeTimer.start(FChangeDelay);
}

QList<QTreeWidgetItem*> TkaTreeView::NodesInTreeOrder() const {
    QList<QTreeWidgetItem*> nodes;
    // The iterator walks depth first, each node before its children.
    for (QTreeWidgetItemIterator it(const_cast<TkaTreeView*>(this)); *it != nullptr; ++it)
        nodes.append(*it);
    return nodes;
}

void TkaTreeView::ExportTreeTexts(const QString& fileName, const QString& section) const {
    QList<QPair<QString, QString>> texts;
    const QList<QTreeWidgetItem*> nodes = NodesInTreeOrder();
    for (int i = 0; i < nodes.size(); ++i)
        texts.append({QString::number(i), nodes.at(i)->text(0)});
    TIniFile(fileName).ReplaceSection(section, texts);
}

void TkaTreeView::ImportTreeTexts(const QString& fileName, const QString& section) {
    // One read of the section instead of one parse of the file per node; the
    // first of repeated keys wins, as a keyed read would find it.
    QHash<QString, QString> texts;
    for (const auto& [key, value] : TIniFile(fileName).ReadSectionValues(section)) {
        if (!texts.contains(key))
            texts.insert(key, value);
    }
    const QList<QTreeWidgetItem*> nodes = NodesInTreeOrder();
    for (int i = 0; i < nodes.size(); ++i) {
        QTreeWidgetItem* node = nodes.at(i);
        node->setText(0, texts.value(QString::number(i), node->text(0)));
    }
}
