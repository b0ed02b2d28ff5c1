#include "BoundedListing.h"
#include "FileTreeNodeObject.h"
#include "PathTreeNodeObject.h"
#include "SceneRetention.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "TreeNodeFrame.h"
#include "WaitForDeletions.h"
#include "frExplorer.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaLanguageFiles.h"
#include "kaTreePanel.h"
#include "kaTreeView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QStyleOptionViewItem>
#include <future>
#include <QTest>
#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

TPathTreeNodeObject* PathObject(QTreeWidgetItem* node) {
    return dynamic_cast<TPathTreeNodeObject*>(TkaTreeView::NodeObject(node));
}

bool Unread(QTreeWidgetItem* node) {
    return TkaTreeView::NodeObject(node)->Unread();
}

QStringList Captions(const QTreeWidgetItem* node) {
    QStringList captions;
    for (int i = 0; i < node->childCount(); ++i)
        captions.append(node->child(i)->text(0));
    return captions;
}

void WriteFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

// An explorer over one camera whose scene directory holds two days:
// 20041230 with the scene 080000000 (one picture) and 20041231 with the
// scenes 100000000 (two pictures) and 120000000 (one picture).
class ExplorerTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SavedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        SceneDir = PathOf("Scenes/0");
        Picture("20041230/080000000/20041230080000000.jpg");
        Picture("20041231/100000000/20041231100000000.jpg");
        Picture("20041231/100000000/20041231100000500.jpg");
        Picture("20041231/120000000/20041231120000000.jpg");
        CreateExplorer();
    }

    void TearDown() override {
        Explorer.reset();
        QLocale::setDefault(SavedLocale);
        TempProgramDir::TearDown();
    }

    void CreateExplorer() {
        Explorer.reset(CreateLoaded<TExplorerFrame>());
        Tree = Explorer->kaTreeView;
        // As the main window builds it: a camera node with its scenes node.
        Camera = Tree->AddNode(nullptr, "Camera", nullptr, new TTreeNodeObject, -1, 3);
        Scenes = Tree->AddNode(Camera, "Scenes", nullptr,
                               new TPathTreeNodeObject(nullptr, SceneDir, nullptr), -1, 7);
        PathObject(Scenes)->SetDeletable(false);
        Scenes->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        Camera->setExpanded(true);
    }

    void Picture(const QString& relative) { WriteFile(SceneDir + "/" + relative); }

    // Expands the path of captions below the scenes node, one level at a time.
    QTreeWidgetItem* Open(const QStringList& captions = {}) {
        Scenes->setExpanded(true);
        QTreeWidgetItem* node = Scenes;
        for (const QString& caption : captions) {
            node = Tree->FindChild(node, caption);
            EXPECT_NE(node, nullptr) << caption.toStdString();
            if (node == nullptr)
                return nullptr;
            node->setExpanded(true);
        }
        return node;
    }

    void Select(QTreeWidgetItem* node) {
        Tree->setCurrentItem(node);
        Explorer->ActionList->UpdateActions();
    }

    QStyleOptionViewItem StyleOf(QTreeWidgetItem* node, bool selected = false) {
        QModelIndex index;
        QList<int> rows;
        for (QTreeWidgetItem* n = node; n != nullptr; n = n->parent())
            rows.prepend(n->parent() ? n->parent()->indexOfChild(n) : Tree->indexOfTopLevelItem(n));
        for (int row : rows)
            index = Tree->model()->index(row, 0, index);
        EXPECT_EQ(Tree->NodeFromIndex(index), node);
        QStyleOptionViewItem option;
        if (selected)
            option.state |= QStyle::State_Selected;
        auto* delegate = static_cast<TExplorerItemDelegate*>(Tree->itemDelegate());
        delegate->initStyleOption(&option, index);
        return option;
    }

    QLocale SavedLocale;
    QString SceneDir;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TExplorerFrame> Explorer;
    TkaTreeView* Tree = nullptr;
    QTreeWidgetItem* Camera = nullptr;
    QTreeWidgetItem* Scenes = nullptr;
};

const QString Day30 = QStringLiteral("12/30/04 Thu");
const QString Day31 = QStringLiteral("12/31/04 Fri");
const QString Scene10 = QStringLiteral("10:00:00.000");
const QString Scene12 = QStringLiteral("12:00:00.000");

// ---- Listing ---------------------------------------------------------------------

TEST_F(ExplorerTest, ListsNewestDayAndSceneFirstAndPicturesOldestFirst) {
    Open();
    EXPECT_EQ(Captions(Scenes), (QStringList{Day31, Day30}));
    QTreeWidgetItem* day = Scenes->child(0);
    EXPECT_EQ(PathObject(day)->Path(), SceneDir + "/20041231");
    EXPECT_EQ(TkaTreeView::ImageIndex(day), 0);
    EXPECT_EQ(day->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(TkaTreeView::ImageIndex(Scenes), 7) << "only folder images open and close";

    day->setExpanded(true);
    EXPECT_EQ(TkaTreeView::ImageIndex(day), 1);
    EXPECT_EQ(Captions(day), (QStringList{Scene12, Scene10}));
    QTreeWidgetItem* scene = day->child(1);
    EXPECT_EQ(TkaTreeView::ImageIndex(scene), 6);
    EXPECT_EQ(TkaTreeView::SelectedIndex(scene), 6);

    scene->setExpanded(true);
    EXPECT_EQ(Captions(scene), (QStringList{"20041231100000000.jpg", "20041231100000500.jpg"}));
    auto* file = dynamic_cast<TFileTreeNodeObject*>(TkaTreeView::NodeObject(scene->child(0)));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->FileName(), SceneDir + "/20041231/100000000/20041231100000000.jpg");
    EXPECT_EQ(TkaTreeView::ImageIndex(scene->child(0)), 5);

    day->setExpanded(false);
    EXPECT_EQ(day->childCount(), 0) << "collapsing drops the listing";
    EXPECT_EQ(TkaTreeView::ImageIndex(day), 0);
    EXPECT_EQ(day->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
}

TEST_F(ExplorerTest, FilesFollowDirectoriesAndHiddenEntriesStayOut) {
    Picture("20041231/notes.txt");
    Picture("20041231/.hidden/x.jpg");
    Picture("20041231/100000000/.20041231100000900.jpg");
    QTreeWidgetItem* day = Open({Day31});
    EXPECT_EQ(Captions(day), (QStringList{Scene12, Scene10, "notes.txt"}));
    QTreeWidgetItem* scene = Tree->FindChild(day, Scene10);
    scene->setExpanded(true);
    EXPECT_EQ(scene->childCount(), 2);
}

TEST_F(ExplorerTest, StrayPictureMakesADayAScene) {
    Picture("20041231/stray.JPG");
    Open();
    // Hour 20, minute 04, second 12, millisecond 31 from the day's name.
    EXPECT_EQ(Captions(Scenes), (QStringList{"20:04:12.031", Day30}));
    EXPECT_EQ(TkaTreeView::ImageIndex(Scenes->child(0)), 6);
}

TEST_F(ExplorerTest, OddNamesFallBackToDefaultsOrThemselves) {
    QDir().mkpath(SceneDir + "/abc");
    QDir().mkpath(SceneDir + "/20041331");
    Picture("250000000/x.jpg");
    Open();
    // Listed as 20041230, 20041231, 20041331, 250000000, abc; newest on top.
    EXPECT_EQ(Captions(Scenes),
              (QStringList{"04/23/68 Tue", "250000000", "20041331", Day31, Day30}));

    EXPECT_EQ(FormatDayCaption("200412", "yyyy-MM-dd"), "2004-12-23");
    EXPECT_EQ(FormatDayCaption("2004xx15", "yyyy-MM-dd"), "2004-04-15");
    EXPECT_EQ(FormatDayCaption("2004x231", "yyyy-MM-dd"), "2004x231") << "April has no 31st";
    EXPECT_EQ(FormatDayCaption("20040230", "yyyy-MM-dd"), "20040230");
    EXPECT_EQ(FormatDayCaption("00001231", "yyyy-MM-dd"), "00001231");
    EXPECT_EQ(FormatSceneCaption("", "hh:mm:ss.zzz"), "00:00:00.000");
    EXPECT_EQ(FormatSceneCaption("2359", "hh:mm:ss.zzz"), "23:59:00.000");
    EXPECT_EQ(FormatSceneCaption("006000000", "hh:mm:ss.zzz"), "006000000");
}

TEST_F(ExplorerTest, GermanDayCaptionsNeedALanguageFile) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    CreateExplorer();
    EXPECT_EQ(Explorer->DayCaption("20041231").left(8), "12.31.04");

    // A hidden file is no language; the list is read once a run.
    WriteFile(PathOf("Language/.Deutsch.ini"));
    ResetLanguageSystem();
    CreateExplorer();
    EXPECT_EQ(Explorer->DayFormat(), "MM.dd.yy ddd");

    WriteFile(PathOf("Language/Deutsch.ini"));
    CreateExplorer();
    EXPECT_EQ(Explorer->DayFormat(), "MM.dd.yy ddd") << "the list of this run stays";
    ResetLanguageSystem();
    CreateExplorer();
    EXPECT_EQ(Explorer->DayFormat(), "dd.MM.yy ddd");
    EXPECT_EQ(Explorer->DayCaption("20041231"),
              "31.12.04 " + QLocale().dayName(5, QLocale::ShortFormat));

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    CreateExplorer();
    EXPECT_EQ(Explorer->DayCaption("20041231"), Day31) << "a language file alone changes nothing";
}

TEST_F(ExplorerTest, MissingOrEmptyDirectoryShowsNoChildren) {
    PathObject(Scenes)->SetPath(SceneDir + "/missing");
    Open();
    EXPECT_EQ(Scenes->childCount(), 0);
    EXPECT_EQ(Scenes->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

    QDir().mkpath(SceneDir + "/20050101");
    PathObject(Scenes)->SetPath(SceneDir);
    Scenes->setExpanded(false);
    QTreeWidgetItem* day = Open({"01/01/05 Sat"});
    EXPECT_EQ(day->childCount(), 0);
    EXPECT_EQ(day->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
}

TEST_F(ExplorerTest, HasPicturesLooksForJpgFilesOnly) {
    EXPECT_TRUE(TExplorerFrame::HasPictures(SceneDir + "/20041231/100000000"));
    EXPECT_FALSE(TExplorerFrame::HasPictures(SceneDir + "/20041231"));
    QDir().mkpath(SceneDir + "/20041231/a.jpg");
    EXPECT_FALSE(TExplorerFrame::HasPictures(SceneDir + "/20041231"))
        << "a directory is no picture";
    EXPECT_FALSE(TExplorerFrame::HasPictures(SceneDir + "/missing"));
}

// ---- Unread state -----------------------------------------------------------------------

TEST_F(ExplorerTest, CollapseAndExpandKeepUnreadScenesBold) {
    QTreeWidgetItem* day = Open({Day31});
    PathObject(day)->SetUnread(true);
    PathObject(Tree->FindChild(day, Scene12))->SetUnread(true);

    day->setExpanded(false);
    EXPECT_EQ(PathObject(day)->UnreadNames(), QStringList{Scene12});
    day->setExpanded(true);
    EXPECT_TRUE(PathObject(day)->UnreadNames().isEmpty());
    EXPECT_TRUE(Unread(Tree->FindChild(day, Scene12)));
    EXPECT_FALSE(Unread(Tree->FindChild(day, Scene10)));
    EXPECT_TRUE(StyleOf(Tree->FindChild(day, Scene12)).font.bold());
    EXPECT_FALSE(StyleOf(Tree->FindChild(day, Scene10)).font.bold());

    // Two levels at once: the expanded day hands its scene up first.
    Scenes->setExpanded(false);
    EXPECT_EQ(PathObject(Scenes)->UnreadNames(), (QStringList{Day31 + "\\" + Scene12, Day31}));
    day = Open({Day31});
    EXPECT_TRUE(Unread(day));
    EXPECT_FALSE(Unread(Tree->FindChild(Scenes, Day30)));
    EXPECT_TRUE(Unread(Tree->FindChild(day, Scene12)));
    EXPECT_TRUE(PathObject(Scenes)->UnreadNames().isEmpty());
}

TEST_F(ExplorerTest, NewSceneRememberedWhileCollapsedIsBoldOnExpansion) {
    PathObject(Scenes)->UnreadNames().append(Day31 + "\\" + Scene12);
    QTreeWidgetItem* day = Open({Day31});
    EXPECT_TRUE(Unread(day)) << "a name below a day marks the day too";
    EXPECT_TRUE(Unread(Tree->FindChild(day, Scene12)));
    EXPECT_FALSE(Unread(Tree->FindChild(Scenes, Day30)));
}

TEST_F(ExplorerTest, UnreadNameClaimsWholeCaptionsOnly) {
    // The day the name stood for is gone; a day whose caption merely begins
    // the name must not inherit it.
    QDir().mkpath(SceneDir + "/20041331");
    PathObject(Scenes)->UnreadNames() << "200413311"
                                      << "20041331x\\" + Scene12;
    Open();
    QTreeWidgetItem* day = Tree->FindChild(Scenes, "20041331");
    EXPECT_FALSE(Unread(day));
    EXPECT_TRUE(PathObject(day)->UnreadNames().isEmpty());
    EXPECT_TRUE(PathObject(Scenes)->UnreadNames().isEmpty()) << "unclaimed names are dropped";
}

TEST_F(ExplorerTest, SelectedNodeIsRed) {
    Open();
    const QStyleOptionViewItem selected = StyleOf(Scenes->child(0), true);
    EXPECT_EQ(selected.palette.color(QPalette::HighlightedText), QColor(Qt::red));
    EXPECT_EQ(selected.palette.color(QPalette::Text), QColor(Qt::red));
    EXPECT_NE(StyleOf(Scenes->child(0)).palette.color(QPalette::Text), QColor(Qt::red));
}

TEST_F(ExplorerTest, MarkingADayReadStaysInsideItAndClimbsWhenNothingElseIsUnread) {
    QTreeWidgetItem* day31 = Open({Day31});
    QTreeWidgetItem* day30 = Open({Day30});
    for (QTreeWidgetItem* node : {Camera, Scenes, day31, day30, day31->child(0), day30->child(0)})
        TkaTreeView::NodeObject(node)->SetUnread(true);

    Select(day31->child(1));
    EXPECT_FALSE(Explorer->MarkAsReadAction->isEnabled()) << "a read node has nothing to mark";
    Select(day31);
    ASSERT_TRUE(Explorer->MarkAsReadAction->isEnabled());
    Explorer->MarkAsReadAction->trigger();
    EXPECT_FALSE(Unread(day31));
    EXPECT_FALSE(Unread(day31->child(0)));
    EXPECT_TRUE(Unread(Scenes)) << "the other day is still unread";
    EXPECT_TRUE(Unread(day30->child(0)));

    Select(day30->child(0));
    Explorer->MarkAsReadAction->trigger();
    EXPECT_FALSE(Unread(day30));
    EXPECT_FALSE(Unread(Scenes));
    EXPECT_TRUE(Unread(Camera)) << "a camera node ends the climb";
}

// ---- Keys, mouse, editing and selection -------------------------------------------------

TEST_F(ExplorerTest, CtrlEnterMarksReadAndRightClickSelects) {
    Explorer->show();
    QTreeWidgetItem* day = Open({Day31});
    PathObject(day->child(0))->SetUnread(true);
    QApplication::processEvents();

    const QPoint point = Tree->visualItemRect(day->child(0)).center();
    QMouseEvent press(QEvent::MouseButtonPress, point, Tree->viewport()->mapToGlobal(point),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(Tree->viewport(), &press);
    EXPECT_EQ(Tree->currentItem(), day->child(0));

    QKeyEvent plain(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(Tree, &plain);
    EXPECT_TRUE(Unread(day->child(0)));
    QKeyEvent ctrl(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    QApplication::sendEvent(Tree, &ctrl);
    EXPECT_FALSE(Unread(day->child(0)));
}

TEST_F(ExplorerTest, CaptionsCannotBeEdited) {
    Explorer->show();
    Open();
    Tree->editItem(Scenes->child(0));
    QApplication::processEvents();
    EXPECT_TRUE(Tree->findChildren<QLineEdit*>().isEmpty());
    EXPECT_EQ(Scenes->child(0)->text(0), Day31);
}

TEST_F(ExplorerTest, SelectionShowsTheNodePageOrNone) {
    auto* page = new TTreeNodeFrame(nullptr, Explorer->kaPanel);
    page->SetShared(true);
    page->hide();
    auto* other = new TTreeNodeFrame(nullptr, Explorer->kaPanel);
    other->SetShared(true);
    other->hide();
    QTreeWidgetItem* day = Open({Day31});
    PathObject(day)->SetPage(page);
    TkaTreeView::NodeObject(Camera)->SetPage(other);
    QTreeWidgetItem* bare = Tree->FindOrInsertPath(nullptr, "Bare", false);

    Tree->SetChangeDelay(0);
    Tree->setCurrentItem(day);
    EXPECT_EQ(Explorer->CurrentPage(), page);
    EXPECT_TRUE(page->isVisibleTo(Explorer.get()));
    page->SetNode(nullptr);
    Explorer->NodeSelected(day);
    EXPECT_EQ(page->Node(), day) << "a path node tells its page";

    Tree->setCurrentItem(Camera);
    EXPECT_EQ(Explorer->CurrentPage(), other);
    EXPECT_FALSE(page->isVisibleTo(Explorer.get()));
    Tree->setCurrentItem(bare);
    EXPECT_EQ(Explorer->CurrentPage(), nullptr);
    EXPECT_FALSE(other->isVisibleTo(Explorer.get()));

    // Deleting the selected node hides the page it shows; a shared page survives.
    Tree->setCurrentItem(day);
    Scenes->setExpanded(false);
    EXPECT_EQ(Explorer->CurrentPage(), nullptr);
    EXPECT_FALSE(page->isVisibleTo(Explorer.get()));
    EXPECT_EQ(page->Node(), nullptr);
}

// ---- Delete -------------------------------------------------------------------------------

TEST_F(ExplorerTest, DeletingTheScenesNodeEmptiesTheDirectoryButKeepsTheNode) {
    Open({Day31});
    PathObject(Scenes)->SetUnread(true);
    PathObject(Scenes->child(0))->SetUnread(true);
    Select(Scenes);
    ASSERT_TRUE(Explorer->DeleteAction->isEnabled());

    Dialogs.ConfirmAnswers << TDialogAnswer::No << TDialogAnswer::Cancel;
    Explorer->DeleteAction->trigger();
    Explorer->DeleteAction->trigger();
    EXPECT_EQ(Scenes->childCount(), 2);
    EXPECT_TRUE(QFileInfo::exists(SceneDir + "/20041231/120000000/20041231120000000.jpg"));

    Dialogs.ConfirmAnswers << TDialogAnswer::Yes;
    Explorer->DeleteAction->trigger();
    ASSERT_TRUE(WaitForDeletions(*Explorer->SceneDeleter()));
    EXPECT_EQ(Dialogs.Asked.last(),
              "Confirm: Are you sure to delete all Files in " + SceneDir + " ?");
    ASSERT_EQ(Tree->FindChild(Camera, "Scenes"), Scenes);
    EXPECT_EQ(Scenes->childCount(), 0);
    EXPECT_FALSE(Scenes->isExpanded());
    EXPECT_EQ(Scenes->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_FALSE(Unread(Scenes));
    EXPECT_TRUE(PathObject(Scenes)->UnreadNames().isEmpty()) << "nothing is left to read";
    EXPECT_TRUE(QFileInfo(SceneDir).isDir());
    EXPECT_TRUE(QDir(SceneDir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

TEST_F(ExplorerTest, DeletingADayRemovesNodeAndDirectory) {
    QTreeWidgetItem* day = Open({Day31});
    Select(day);
    std::promise<void> release;
    Explorer->SceneDeleter()->Run(
        {}, [held = release.get_future().share()](TDeletionControl&) { held.wait(); });
    Dialogs.ConfirmAnswers << TDialogAnswer::Yes;
    Explorer->DeleteAction->trigger();
    EXPECT_EQ(Captions(Scenes), QStringList{Day30});
    Scenes->setExpanded(false);
    Scenes->setExpanded(true);
    EXPECT_EQ(Captions(Scenes), QStringList{Day30}) << "a day being deleted is not listed";
    release.set_value();
    ASSERT_TRUE(WaitForDeletions(*Explorer->SceneDeleter()));

    EXPECT_FALSE(QFileInfo::exists(SceneDir + "/20041231"));

    Select(Camera);
    EXPECT_FALSE(Explorer->DeleteAction->isEnabled());
}

TEST_F(ExplorerTest, DeletingTheLastPictureLeavesTheSceneWithoutPage) {
    auto* player = new TTreeNodeFrame(nullptr, Explorer->kaPanel);
    player->SetShared(true);
    QTreeWidgetItem* day = Open({Day31});
    QTreeWidgetItem* single = Tree->FindChild(day, Scene12);
    QTreeWidgetItem* pair = Tree->FindChild(day, Scene10);
    PathObject(single)->SetPage(player);
    PathObject(pair)->SetPage(player);
    single->setExpanded(true);
    pair->setExpanded(true);

    // Pictures go without a question (no answer is scripted).
    Select(pair->child(0));
    ASSERT_TRUE(Explorer->DeleteAction->isEnabled());
    Explorer->DeleteAction->trigger();
    EXPECT_EQ(pair->childCount(), 1);
    EXPECT_EQ(PathObject(pair)->Page(), player) << "one picture is left";

    Explorer->NodeSelected(single);
    ASSERT_EQ(Explorer->CurrentPage(), player);
    Select(single->child(0));
    Explorer->DeleteAction->trigger();
    EXPECT_FALSE(QFileInfo::exists(SceneDir + "/20041231/120000000/20041231120000000.jpg"));
    EXPECT_EQ(single->childCount(), 0);
    EXPECT_EQ(PathObject(single)->Page(), nullptr);
    EXPECT_EQ(Explorer->CurrentPage(), nullptr);
    Explorer->NodeSelected(single);
    EXPECT_EQ(Explorer->CurrentPage(), nullptr);
    EXPECT_TRUE(Dialogs.Asked.isEmpty());
}

TEST_F(ExplorerTest, DeleteQuestionDefaultsToNoAndSurvivesTheTreeChangingWhileOpen) {
    QTreeWidgetItem* day = Open({Day31});
    const QString asked = SceneDir + "/20041231/100000000";
    const QString other = SceneDir + "/20041231/120000000";

    // The per-day limit removes the very scene while the question is open.
    Select(Tree->FindChild(day, Scene10));
    Dialogs.WhileOpen = [this, day] { LimitScenesPerDay(day, SceneDir, 1); };
    Dialogs.ConfirmAnswers << TDialogAnswer::Yes;
    Explorer->DeleteAction->trigger();
    EXPECT_EQ(Dialogs.ConfirmDefaults, QList<TDialogAnswer>{TDialogAnswer::No})
        << "Del then Enter must not delete";
    ASSERT_TRUE(WaitForDeletions(*Explorer->SceneDeleter()));
    EXPECT_FALSE(QFileInfo::exists(asked));
    EXPECT_EQ(Captions(day), QStringList{Scene12}) << "the answer meant a node that is gone";
    EXPECT_TRUE(QFileInfo::exists(other + "/20041231120000000.jpg"));

    // A new scene on top moves the asked node down a row: Yes still means it.
    Picture("20041231/100000000/20041231100000000.jpg");
    Picture("20041231/140000000/20041231140000000.jpg");
    day->setExpanded(false);
    day->setExpanded(true);
    Select(Tree->FindChild(day, Scene10));
    Dialogs.WhileOpen = [this, day] {
        Tree->AddNodeFirst(
            day, "15:00:00.000", nullptr,
            new TPathTreeNodeObject(nullptr, SceneDir + "/20041231/150000000", nullptr));
    };
    Dialogs.ConfirmAnswers << TDialogAnswer::Yes;
    Explorer->DeleteAction->trigger();
    ASSERT_TRUE(WaitForDeletions(*Explorer->SceneDeleter()));
    EXPECT_FALSE(QFileInfo::exists(SceneDir + "/20041231/100000000"));
    EXPECT_EQ(Captions(day), (QStringList{"15:00:00.000", "14:00:00.000", Scene12}));
    EXPECT_TRUE(QFileInfo::exists(SceneDir + "/20041231/140000000/20041231140000000.jpg"));
}

// ---- Retention rules on the explorer's tree ---------------------------------------------

TEST_F(ExplorerTest, PerDayLimitDeletesTheOldestShownScenes) {
    Picture("20041231/140000000/20041231140000000.jpg");
    QTreeWidgetItem* day = Open({Day31});
    QTreeWidgetItem* oldest = Tree->FindChild(day, Scene10);
    oldest->setExpanded(true);
    ASSERT_EQ(oldest->childCount(), 2);

    LimitScenesPerDay(day, SceneDir, 2);
    EXPECT_EQ(Captions(day), (QStringList{"14:00:00.000", Scene12}));
    EXPECT_FALSE(QFileInfo::exists(SceneDir + "/20041231/100000000"));

    LimitScenesPerDay(day, SceneDir, 2);
    EXPECT_EQ(day->childCount(), 2);
}

TEST_F(ExplorerTest, PreviousSceneCheckDeletesASmallPreviousScene) {
    Picture("20041231/140000000/20041231140000000.jpg");
    QTreeWidgetItem* day = Open({Day31});
    QTreeWidgetItem* newest = day->child(0);

    CheckPreviousScene(newest, SceneDir, 1);
    EXPECT_EQ(day->childCount(), 3) << "one picture is enough";
    CheckPreviousScene(day->child(1), SceneDir, 2);
    EXPECT_EQ(day->childCount(), 3) << "only the first scene's predecessor is checked";

    CheckPreviousScene(newest, SceneDir, 2);
    EXPECT_EQ(Captions(day), (QStringList{"14:00:00.000", Scene10}));
    EXPECT_FALSE(QFileInfo::exists(SceneDir + "/20041231/120000000"));
    EXPECT_TRUE(QFileInfo::exists(SceneDir + "/20041231/140000000"));
}

// A day of more scenes than the main thread lists at once: the expansion
// returns at once and the scenes come from the worker through the event
// loop, newest first, with their unread marks; a node collapsed or deleted
// before its listing came is looked up again, not touched.
TEST_F(ExplorerTest, ALargeDayIsListedOnTheWorkerAndTheNodeLookedUpAgain) {
    // Each scene costs two entries: its own and its picture's.
    const int count = int(MainThreadListingBudget / 2) + 1;
    for (int i = 0; i < count; ++i)
        Picture(QStringLiteral("20041229/%1/a.jpg").arg(i, 9, 10, QLatin1Char('0')));
    QTreeWidgetItem* day = Open();
    day = Tree->FindChild(Scenes, Explorer->DayCaption("20041229"));
    ASSERT_NE(day, nullptr);
    const QString newest =
        Explorer->SceneCaption(QStringLiteral("%1").arg(count - 1, 9, 10, QLatin1Char('0')));
    PathObject(day)->UnreadNames() = QStringList{newest};

    for (const bool collapse : {true, false}) {
        day->setExpanded(true);
        EXPECT_EQ(day->childCount(), 0);
        EXPECT_TRUE(Explorer->Listing());
        if (collapse)
            day->setExpanded(false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Explorer->Listing(); }, 20000));
        EXPECT_EQ(day->childCount(), collapse ? 0 : count);
    }
    EXPECT_EQ(day->child(0)->text(0), newest);
    EXPECT_TRUE(Unread(day->child(0))) << "the unread mark survived the collapse";
    EXPECT_FALSE(Unread(day->child(1)));
    EXPECT_EQ(TkaTreeView::ImageIndex(day->child(0)), 6);

    // Gone before its listing comes: nothing happens to the tree.
    day->setExpanded(false);
    day->setExpanded(true);
    delete day;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Explorer->Listing(); }, 20000));
    EXPECT_EQ(Scenes->childCount(), 2);
}

} // namespace
