#include "EkaError.h"
#include "FileTreeNodeObject.h"
#include "PathTreeNodeObject.h"
#include "TIniFile.h"
#include "TreeNodeFrame.h"
#include "TreeNodeObject.h"
#include "kaComponent.h"
#include "kaTreeView.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Counts living objects so tests can see that the view frees them.
class CountedObject : public TTreeNodeObject {
public:
    explicit CountedObject(int& alive) : Alive(alive) { ++Alive; }
    ~CountedObject() override { --Alive; }
    int& Alive;
};

QStringList Captions(const QTreeWidgetItem* parent) {
    QStringList captions;
    for (int i = 0; i < parent->childCount(); ++i)
        captions.append(parent->child(i)->text(0));
    return captions;
}

void WaitUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(TreeNodeFrameworkTest, FindOrInsertPathReusesPrefixesAndInsertsFirstOrLast) {
    TkaTreeView tree;
    QTreeWidgetItem* a = tree.AddNode(nullptr, "a");
    tree.AddNode(a, "x");

    QTreeWidgetItem* b = tree.FindOrInsertPath(nullptr, "a\\b", true);
    EXPECT_EQ(b->parent(), a);
    EXPECT_EQ(Captions(a), (QStringList{"b", "x"}));
    EXPECT_EQ(TkaTreeView::NodeObject(b), nullptr);

    QTreeWidgetItem* c = tree.FindOrInsertPath(a, "c", false);
    EXPECT_EQ(Captions(a), (QStringList{"b", "x", "c"}));
    EXPECT_EQ(c->parent(), a);

    // A full existing path inserts nothing; captions are compared exactly.
    EXPECT_EQ(tree.FindOrInsertPath(nullptr, "a\\x", true), a->child(1));
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* upper = tree.FindOrInsertPath(nullptr, "A\\b", false);
    EXPECT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(upper->parent(), tree.topLevelItem(1));

    // Day captions hold "/", which is no separator.
    QTreeWidgetItem* scene = tree.FindOrInsertPath(a, "12/31/04 Fri\\10:00:00.000", true);
    EXPECT_EQ(scene->parent()->text(0), "12/31/04 Fri");
    EXPECT_EQ(a->child(0), scene->parent());

    EXPECT_EQ(tree.FindOrInsertPath(a, "", true), a);
}

TEST(TreeNodeFrameworkTest, FindChildTakesTheFirstEqualCaptionAndNothingBelowALeaf) {
    TkaTreeView tree;
    QTreeWidgetItem* root = tree.AddNode(nullptr, "root");
    QTreeWidgetItem* first = tree.AddNode(root, "same");
    tree.AddNode(root, "same");
    EXPECT_EQ(tree.FindChild(root, "same"), first);
    EXPECT_EQ(tree.FindChild(root, "Same"), nullptr);
    EXPECT_EQ(tree.FindChild(first, "same"), nullptr);
    EXPECT_EQ(tree.FindChild(nullptr, "root"), root);
}

TEST(TreeNodeFrameworkTest, MarkingReadClearsUnreadNamesOnlyWhenItWasUnread) {
    TPathTreeNodeObject object(nullptr, "/scenes", nullptr);
    EXPECT_FALSE(object.Unread());
    EXPECT_TRUE(object.Deletable());
    object.UnreadNames().append("12/31/04 Fri\\10:00:00.000");
    object.SetUnread(false);
    EXPECT_EQ(object.UnreadNames().size(), 1);

    object.SetUnread(true);
    EXPECT_EQ(object.UnreadNames().size(), 1);
    object.SetUnread(false);
    EXPECT_TRUE(object.UnreadNames().isEmpty());
    EXPECT_FALSE(object.Unread());
}

TEST(TreeNodeFrameworkTest, SetPathClearsUnreadNamesForAnyOtherText) {
    TPathTreeNodeObject object(nullptr, "/rec/Scenes", nullptr);
    object.UnreadNames().append("x");
    object.SetPath("/rec/Scenes");
    EXPECT_EQ(object.UnreadNames(), QStringList{"x"});
    object.SetPath("/rec/scenes");
    EXPECT_TRUE(object.UnreadNames().isEmpty());
    EXPECT_EQ(object.Path(), "/rec/scenes");
}

TEST(TreeNodeFrameworkTest, SetPageTellsOnlyANewPageItsNode) {
    TkaTreeView tree;
    QTreeWidgetItem* node = tree.AddNode(nullptr, "n");
    TTreeNodeFrame page(nullptr);
    page.SetShared(true);
    TTreeNodeObject object(node, &page);
    EXPECT_EQ(page.Node(), nullptr);
    object.SetPage(&page);
    EXPECT_EQ(page.Node(), nullptr);
    object.SetPage(nullptr);
    object.SetPage(&page);
    EXPECT_EQ(page.Node(), node);
}

TEST(TreeNodeFrameworkTest, AddNodeWiresPageObjectAndImages) {
    TkaTreeView tree;
    QPixmap red(16, 16), blue(16, 16);
    red.fill(Qt::red);
    blue.fill(Qt::blue);
    tree.SetImages({QIcon(red), QIcon(blue)});
    auto* page = new TTreeNodeFrame(nullptr, &tree);
    EXPECT_EQ(page->Node(), nullptr);
    EXPECT_FALSE(page->Shared());

    auto* object = new TFileTreeNodeObject("/rec/a.jpg");
    QTreeWidgetItem* root = tree.AddNode(nullptr, "root");
    QTreeWidgetItem* node = tree.AddNode(root, "a.jpg", page, object, 0, 1);
    EXPECT_EQ(node->parent(), root);
    EXPECT_EQ(page->Node(), node);
    EXPECT_EQ(object->Node(), node);
    EXPECT_EQ(object->Page(), page);
    EXPECT_EQ(TkaTreeView::NodeObject(node), object);
    EXPECT_EQ(TkaTreeView::NodePage(node), page);
    EXPECT_EQ(TkaTreeView::NodePage(root), nullptr);
    EXPECT_EQ(TkaTreeView::ImageIndex(node), 1);
    EXPECT_EQ(TkaTreeView::SelectedIndex(node), 1);
    EXPECT_EQ(TkaTreeView::StateIndex(node), 0);

    TkaTreeView::SetSelectedIndex(node, 0);
    const auto iconOf = [&] { return node->data(0, Qt::DecorationRole).value<QIcon>().cacheKey(); };
    EXPECT_EQ(iconOf(), tree.Images().at(1).cacheKey());
    tree.setCurrentItem(node);
    EXPECT_EQ(iconOf(), tree.Images().at(0).cacheKey());
    TkaTreeView::SetImageIndex(root, 7);
    EXPECT_TRUE(root->data(0, Qt::DecorationRole).isNull());

    QTreeWidgetItem* first = tree.AddNodeFirst(root, "dir");
    EXPECT_EQ(root->indexOfChild(first), 0);
}

TEST(TreeNodeFrameworkTest, DeletingANodeFreesOnlyAnUnsharedUnownedPage) {
    TkaTreeView tree;
    QWidget form;
    QPointer<TTreeNodeFrame> camera = new TTreeNodeFrame(nullptr, &form);
    QPointer<TTreeNodeFrame> thumbnails = new TTreeNodeFrame(nullptr, &form);
    thumbnails->SetShared(true);
    QPointer<TTreeNodeFrame> support = Own(&form, new TTreeNodeFrame(nullptr, &form), "Support");

    QTreeWidgetItem* cameraNode = tree.AddNode(nullptr, "Camera", camera, new TTreeNodeObject);
    QTreeWidgetItem* day = tree.AddNode(cameraNode, "day", thumbnails,
                                        new TPathTreeNodeObject(nullptr, "/d", nullptr));
    QTreeWidgetItem* supportNode = tree.AddNode(nullptr, "Support", support, new TTreeNodeObject);

    delete day;
    ASSERT_FALSE(thumbnails.isNull());
    EXPECT_EQ(thumbnails->Node(), nullptr);
    delete supportNode;
    ASSERT_FALSE(support.isNull());
    EXPECT_EQ(support->Node(), nullptr);
    delete cameraNode;
    EXPECT_TRUE(camera.isNull());
}

TEST(TreeNodeFrameworkTest, APageFreedElsewhereIsNotFreedAgain) {
    TkaTreeView tree;
    auto* page = new TTreeNodeFrame(nullptr);
    QTreeWidgetItem* node = tree.AddNode(nullptr, "n", page, new TTreeNodeObject);
    delete page;
    EXPECT_EQ(TkaTreeView::NodePage(node), nullptr);
    delete node;
}

TEST(TreeNodeFrameworkTest, DeletionIsReportedChildrenFirstWhileNodesAreInPlace) {
    TkaTreeView tree;
    int alive = 0;
    QTreeWidgetItem* root = tree.AddNode(nullptr, "root", nullptr, new CountedObject(alive));
    QTreeWidgetItem* day = tree.AddNode(root, "day", nullptr, new CountedObject(alive));
    QTreeWidgetItem* scene = tree.AddNode(day, "scene", nullptr, new CountedObject(alive));
    tree.FindOrInsertPath(root, "plain", false);
    tree.setCurrentItem(scene);

    QStringList seen;
    bool sceneSelected = false;
    QObject::connect(&tree, &TkaTreeView::Deletion, [&](QTreeWidgetItem* node) {
        const bool inPlace = node->treeWidget() == &tree;
        const bool hasObject = TkaTreeView::NodeObject(node) != nullptr;
        seen.append(node->text(0) + (inPlace ? "" : "-gone") + (hasObject ? "" : "-empty"));
        sceneSelected = sceneSelected || (node == scene && node->isSelected());
    });
    delete day;
    EXPECT_EQ(seen, (QStringList{"scene", "day"}));
    EXPECT_TRUE(sceneSelected);
    EXPECT_EQ(alive, 1);

    seen.clear();
    tree.ClearNodes();
    EXPECT_EQ(seen, (QStringList{"plain-empty", "root"}));
    EXPECT_EQ(alive, 0);
}

TEST(TreeNodeFrameworkTest, ClearingOrDestroyingTheViewFreesEveryObject) {
    int alive = 0;
    auto tree = std::make_unique<TkaTreeView>();
    QTreeWidgetItem* root = tree->AddNode(nullptr, "root", nullptr, new CountedObject(alive));
    tree->AddNode(tree->AddNode(root, "day", nullptr, new CountedObject(alive)), "scene", nullptr,
                  new CountedObject(alive));
    tree->clear();
    EXPECT_EQ(alive, 0);

    root = tree->AddNode(nullptr, "root", nullptr, new CountedObject(alive));
    tree->AddNode(root, "day", nullptr, new CountedObject(alive));
    int deletions = 0;
    QObject::connect(tree.get(), &TkaTreeView::Deletion, [&] { ++deletions; });
    tree.reset();
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(deletions, 0);
}

TEST(TreeNodeFrameworkTest, SetNodeObjectReplacesAndRefusesForeignItems) {
    TkaTreeView tree;
    int alive = 0;
    QTreeWidgetItem* node = tree.AddNode(nullptr, "n", nullptr, new CountedObject(alive));
    auto* second = new CountedObject(alive);
    TkaTreeView::SetNodeObject(node, second);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(second->Node(), node);

    auto* foreign = new QTreeWidgetItem(&tree, QStringList{"foreign"});
    EXPECT_THROW(TkaTreeView::SetNodeObject(foreign, new CountedObject(alive)), EkaError);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(TkaTreeView::NodeObject(foreign), nullptr);
    EXPECT_EQ(TkaTreeView::NodePage(nullptr), nullptr);
}

TEST(TreeNodeFrameworkTest, ChangeFollowsTheDelayWithTheNodeCurrentThen) {
    TkaTreeView tree;
    QTreeWidgetItem* a = tree.AddNode(nullptr, "a");
    QTreeWidgetItem* b = tree.AddNode(nullptr, "b");
    QTreeWidgetItem* c = tree.AddNode(nullptr, "c");
    QList<QTreeWidgetItem*> changes;
    QObject::connect(&tree, &TkaTreeView::Change,
                     [&](QTreeWidgetItem* node) { changes.append(node); });

    tree.setCurrentItem(a);
    EXPECT_EQ(changes, QList<QTreeWidgetItem*>{a});

    changes.clear();
    tree.SetChangeDelay(30);
    tree.setCurrentItem(b);
    tree.setCurrentItem(c);
    EXPECT_TRUE(changes.isEmpty());
    // The node selected last goes away before the delay ends.
    delete c;
    WaitUntil([&] { return !changes.isEmpty(); });
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes.first(), tree.currentItem());
    EXPECT_NE(changes.first(), nullptr);
}

TEST(TreeNodeFrameworkTest, PageRecordsOwnerAndCaption) {
    QWidget form;
    SetOwner(&form, nullptr, "TarvikForm");
    auto* page = Own(&form, new TTreeNodeFrame(&form, &form), "ProductFrame");
    EXPECT_EQ(OwnerOf(page), &form);
    EXPECT_EQ(ComponentPath(page), "TarvikForm.ProductFrame");
    page->setProperty("Caption", "Product");
    EXPECT_EQ(page->Caption(), "Product");
}

class TreeTextsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Folder.isValid()); }
    QString FileName() const { return Folder.filePath("language.ini"); }
    QTemporaryDir Folder;
};

TEST_F(TreeTextsTest, ExportErasesTheSectionAndWritesDepthFirst) {
    TIniFile ini(FileName());
    ini.WriteString("T.kaTreeView.Tree", "7", "stale");
    ini.WriteString("Other", "0", "kept");

    TkaTreeView tree;
    QTreeWidgetItem* top = tree.AddNode(nullptr, "Cameras");
    tree.AddNode(tree.AddNode(top, "Camera"), "Scenes");
    tree.AddNode(nullptr, "Support");
    tree.ExportTreeTexts(FileName(), "T.kaTreeView.Tree");

    EXPECT_EQ(ini.ReadSection("T.kaTreeView.Tree"), (QStringList{"0", "1", "2", "3"}));
    EXPECT_EQ(ini.ReadString("T.kaTreeView.Tree", "2", ""), "Scenes");
    EXPECT_EQ(ini.ReadString("T.kaTreeView.Tree", "3", ""), "Support");
    EXPECT_EQ(ini.ReadString("Other", "0", ""), "kept");
}

TEST_F(TreeTextsTest, ImportSetsTheNodesItHasAndKeepsCaptionsOfMissingKeys) {
    TIniFile ini(FileName());
    ini.WriteString("S", "0", "Kameras");
    ini.WriteString("S", "2", "Szenen");
    ini.WriteString("S", "3", "Hilfe");

    TkaTreeView tree;
    QTreeWidgetItem* top = tree.AddNode(nullptr, "Cameras");
    QTreeWidgetItem* camera = tree.AddNode(top, "Camera");
    QTreeWidgetItem* scenes = tree.AddNode(camera, "Scenes");
    tree.ImportTreeTexts(FileName(), "S");
    EXPECT_EQ(top->text(0), "Kameras");
    EXPECT_EQ(camera->text(0), "Camera");
    EXPECT_EQ(scenes->text(0), "Szenen");

    tree.ImportTreeTexts(Folder.filePath("missing.ini"), "S");
    EXPECT_EQ(top->text(0), "Kameras");
}

} // namespace

// Nodes inserted while the mouse rests on a node scroll the view by exactly as
// much as they push that node, so a click aimed at it still hits it.
TEST(TreeNodeFrameworkTest, TheNodeUnderTheMouseStaysInPlaceWhenNodesComeAboveIt) {
    TkaTreeView tree;
    tree.resize(200, 160);
    QList<QTreeWidgetItem*> nodes;
    for (int i = 0; i < 40; ++i)
        nodes.append(tree.AddNode(nullptr, QString::number(i)));
    nodes.at(5)->setExpanded(true);
    tree.show();
    tree.scrollToItem(nodes.at(20), QAbstractItemView::PositionAtCenter);
    const QPoint pointer = tree.visualItemRect(nodes.at(20)).center();
    QCursor::setPos(tree.viewport()->mapToGlobal(pointer));
    tree.viewport()->setAttribute(Qt::WA_UnderMouse, true);
    // At the top, below a collapsed and an expanded node above, and below it.
    for (QTreeWidgetItem* parent :
         {static_cast<QTreeWidgetItem*>(nullptr), nodes.at(2), nodes.at(5), nodes.at(30)}) {
        tree.AddNodeFirst(parent, "new");
        EXPECT_EQ(tree.itemAt(pointer), nodes.at(20)) << tree.indexOfTopLevelItem(parent);
    }
    // Without the mouse over it the view does not move on its own.
    tree.viewport()->setAttribute(Qt::WA_UnderMouse, false);
    const int scrolled = tree.verticalScrollBar()->value();
    tree.AddNodeFirst(nullptr, "unseen");
    EXPECT_EQ(tree.verticalScrollBar()->value(), scrolled);
}
