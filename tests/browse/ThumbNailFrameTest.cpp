#include "ApplicationErrors.h"
#include "BoundedListing.h"
#include "PaintBox.h"
#include "PathTreeNodeObject.h"
#include "PictureSupport.h"
#include "TempProgramDir.h"
#include "frExplorer.h"
#include "frPlayer.h"
#include "frThumbNail.h"
#include "kaAction.h"
#include "kaLabel.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreeView.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

TPathTreeNodeObject* PathObject(QTreeWidgetItem* node) {
    return dynamic_cast<TPathTreeNodeObject*>(TkaTreeView::NodeObject(node));
}

// A day of a camera's recordings with scenes of real pictures; each picture's
// colour tells its number.
class ThumbNailFrameTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SceneDir = PathOf("Scenes/0");
        Day = SceneDir + "/20041231";
        AddScene("100000000", {1, 2, 3});
        AddScene("110000000", {4, 5});
        AddScene("120000000", {6});
        QDir().mkpath(Day + "/090000000");                // no pictures at all
        WriteBytes(Day + "/093000000/notes.txt", "text"); // no picture either
        WritePicture(Day + "/.hidden/" + PictureName(9), PictureColour(9));
        WriteBytes(Day + "/readme.txt", "foreign");
        PreviousLogger =
            SetApplicationErrorLogger([this](const std::exception&) { ++LoggedErrors; });
    }

    void TearDown() override {
        SetApplicationErrorLogger(std::move(PreviousLogger));
        Explorer.reset();
        Frame.reset();
        TempProgramDir::TearDown();
    }

    void AddScene(const QString& name, std::initializer_list<int> numbers) {
        for (int number : numbers)
            WritePicture(Day + "/" + name + "/" + PictureName(number), PictureColour(number),
                         QSize(320, 240));
    }

    QString Scene(const QString& name) const { return Day + "/" + name; }

    // A page alone, shown at Size, with the track bars restored (150 by 112).
    TThumbNailFrame* CreateFrame(QSize size = QSize(400, 320)) {
        Frame.reset(CreateLoaded<TThumbNailFrame>());
        Frame->resize(size);
        Frame->show();
        RestoreRemanentControls();
        // The tests tick the animation themselves: a tick of the real timer
        // inside a slow paint would play one picture more.
        Frame->Timer->stop();
        Frame->SetPath(Day);
        Paint(Frame.get());
        return Frame.get();
    }

    // Paints until the paint box has the height the thumbnails need and the
    // pool has delivered every picture asked for.
    static void Paint(TThumbNailFrame* frame) {
        for (int i = 0; i < 4; ++i) {
            QApplication::processEvents();
            frame->PaintBox->repaint();
            EXPECT_TRUE(QTest::qWaitFor([frame] { return !frame->Busy(); }, 10000));
        }
    }

    static QRect RectOf(const TThumbNailFrame* frame, const QString& key) {
        const qsizetype index = frame->ThumbKeys().indexOf(key);
        EXPECT_GE(index, 0) << key.toStdString();
        return index < 0 ? QRect() : frame->Thumbs().at(size_t(index)).Rect;
    }

    static QColor ColourAt(TThumbNailFrame* frame, const QString& key) {
        Paint(frame);
        return frame->PaintBox->grab().toImage().pixelColor(RectOf(frame, key).center());
    }

    QString SceneDir;
    QString Day;
    std::unique_ptr<TThumbNailFrame> Frame;
    std::unique_ptr<TExplorerFrame> Explorer;
    TApplicationErrorHandler PreviousLogger;
    int LoggedErrors = 0;
};

TEST_F(ThumbNailFrameTest, NewestSceneTopLeftAndThePaintBoxExactlyAsHighAsTheRows) {
    TThumbNailFrame* frame = CreateFrame();
    ASSERT_EQ(frame->ThumbWidth(), 150);
    ASSERT_EQ(frame->ThumbHeight(), 112);
    const int width = frame->PaintBox->width();
    ASSERT_TRUE(width >= 2 * 150 + 12 && width < 3 * 150 + 18) << width;

    EXPECT_EQ(frame->ThumbKeys(),
              (QStringList{Scene("100000000"), Scene("110000000"), Scene("120000000")}))
        << "scenes without pictures and hidden folders get no thumbnail";
    const int text = QFontMetrics(frame->PaintBox->font()).height();
    EXPECT_EQ(RectOf(frame, Scene("120000000")), QRect(9, 9, 150, 112));
    EXPECT_EQ(RectOf(frame, Scene("110000000")), QRect(165, 9, 150, 112));
    EXPECT_EQ(RectOf(frame, Scene("100000000")), QRect(9, 9 + 112 + text + 6, 150, 112));
    EXPECT_EQ(frame->PaintBox->height(), 2 * 112 + 2 * text + 18);
    EXPECT_EQ(frame->Thumbs().front().FileName, Scene("100000000") + "/" + PictureName(1));
    EXPECT_EQ(frame->Thumbs().front().Caption, "10:00:00");
    EXPECT_TRUE(SameColour(ColourAt(frame, Scene("120000000")), PictureColour(6)));
    EXPECT_TRUE(SameColour(ColourAt(frame, Scene("100000000")), PictureColour(1)));

    // A fourth scene fills the second row, and the row position moves on.
    AddScene("130000000", {7});
    frame->Repaint();
    Paint(frame);
    EXPECT_EQ(RectOf(frame, Scene("130000000")), QRect(9, 9, 150, 112));
    EXPECT_EQ(frame->PaintBox->height(), 3 * 112 + 3 * text + 24);

    // A repaint sees the scenes as they are now.
    QFile::remove(Scene("100000000") + "/" + PictureName(1));
    ASSERT_TRUE(QDir(Scene("130000000")).removeRecursively());
    frame->Repaint();
    Paint(frame);
    ASSERT_EQ(frame->Thumbs().size(), 3u);
    EXPECT_EQ(frame->Thumbs().front().FileName, Scene("100000000") + "/" + PictureName(2));
    EXPECT_TRUE(SameColour(ColourAt(frame, Scene("100000000")), PictureColour(2)));
}

TEST_F(ThumbNailFrameTest, TheWidthBarResizesAndANamelessSceneIsCaptionedWithItsName) {
    AddScene("250000000", {8});
    AddScene("evening", {8});
    TThumbNailFrame* frame = CreateFrame(QSize(700, 500));
    const std::vector<TThumb>& thumbs = frame->Thumbs();
    ASSERT_EQ(thumbs.size(), 5u);
    EXPECT_EQ(thumbs.at(3).Caption, "250000000") << "hour 25 gives no time";
    EXPECT_EQ(thumbs.at(4).Caption, "00:00:00") << "no digits: each part 0";

    frame->WidthFrame->TrackBar->SetPosition(64);
    frame->PaintBox->repaint(); // takes the new height
    frame->PaintBox->repaint();
    EXPECT_TRUE(frame->Busy()) << "the new size is decoded on the pool, not in the paint";
    Paint(frame);
    EXPECT_EQ(frame->ThumbHeight(), 48);
    EXPECT_EQ(frame->Thumbs().at(0).Rect.size(), QSize(64, 48));
}

TEST_F(ThumbNailFrameTest, HoverPlaysTheSceneAndHandsOverRestoringTheFirstPicture) {
    TThumbNailFrame* frame = CreateFrame();
    const QString first = Scene("110000000");
    const QString second = Scene("120000000");
    QTest::mouseMove(frame->PaintBox, RectOf(frame, first).center());
    EXPECT_EQ(frame->HotPath(), first);
    EXPECT_EQ(frame->PathkaLabel->text(), first);
    EXPECT_EQ(frame->HotFiles(), (QStringList{PictureName(4), PictureName(5)}));

    frame->TimerTimer();
    frame->TimerTimer();
    EXPECT_TRUE(SameColour(ColourAt(frame, first), PictureColour(5)));
    EXPECT_EQ(frame->HotIndex(), 0) << "back to the first after the last";
    frame->TimerTimer();
    EXPECT_TRUE(SameColour(ColourAt(frame, first), PictureColour(4)));
    EXPECT_EQ(frame->HotIndex(), 1);
    frame->Repaint();
    Paint(frame);
    EXPECT_EQ(frame->HotThumb(), int(frame->ThumbKeys().indexOf(first)))
        << "a repaint (a new scene) keeps the playing thumbnail";
    frame->TimerTimer();
    EXPECT_TRUE(SameColour(ColourAt(frame, first), PictureColour(5)));

    QTest::mouseMove(frame->PaintBox, RectOf(frame, second).center());
    EXPECT_EQ(frame->HotPath(), second);
    EXPECT_EQ(frame->HotIndex(), 0);
    EXPECT_TRUE(SameColour(ColourAt(frame, first), PictureColour(4))) << "first picture again";
    EXPECT_TRUE(SameColour(ColourAt(frame, second), PictureColour(6)))
        << "the new one starts from its own first picture";

    // Off the pictures nothing plays.
    QTest::mouseMove(frame->PaintBox, QPoint(2, 2));
    EXPECT_EQ(frame->HotThumb(), -1);
    EXPECT_EQ(frame->PathkaLabel->text(), "");
}

TEST_F(ThumbNailFrameTest, BrokenPicturesAreFacedPassedOverAndLoggedOnce) {
    AddScene("130000000", {10, 11});
    WriteBytes(Scene("130000000") + "/" + PictureName(10), QByteArray()); // first: zero bytes
    WriteTruncatedPicture(Scene("110000000") + "/" + PictureName(5));
    TThumbNailFrame* frame = CreateFrame(QSize(700, 500));
    EXPECT_FALSE(SameColour(ColourAt(frame, Scene("130000000")), PictureColour(10)));
    frame->Repaint();
    Paint(frame);

    QTest::mouseMove(frame->PaintBox, RectOf(frame, Scene("110000000")).center());
    for (int tick = 0; tick < 4; ++tick) {
        frame->TimerTimer();
        EXPECT_TRUE(SameColour(ColourAt(frame, Scene("110000000")), PictureColour(4)))
            << "picture 5 is passed over, tick " << tick;
    }
    // Deleted while it plays: the scene is read again.
    QFile::remove(Scene("110000000") + "/" + PictureName(4));
    frame->TimerTimer();
    EXPECT_EQ(frame->HotFiles(), QStringList{PictureName(5)});
    EXPECT_EQ(LoggedErrors, 2) << "one row per broken file";
}

// A day too large to list on the main thread: listed on the worker, the
// page showing its last listing until the new one comes.
TEST_F(ThumbNailFrameTest, ALargeDayIsListedOnTheWorkerAndShownWhenItComes) {
    TThumbNailFrame* frame = CreateFrame();
    // Each scene costs three entries: its own, its state and its picture's.
    const int count = int(MainThreadListingBudget / 3) + 1;
    const QString picture = Scene("120000000") + "/" + PictureName(6);
    for (int i = 0; i < count; ++i) {
        const QString scene = Scene(QStringLiteral("13%1").arg(i, 7, 10, QLatin1Char('0')));
        ASSERT_TRUE(QDir().mkpath(scene) && QFile::copy(picture, scene + "/" + PictureName(6)));
    }
    frame->Repaint();
    EXPECT_TRUE(frame->Busy());
    frame->PaintBox->repaint();
    EXPECT_EQ(frame->Thumbs().size(), 3u);
    Paint(frame);
    ASSERT_EQ(frame->Thumbs().size(), size_t(count) + 3);
    const QString newest = Scene(QStringLiteral("13%1").arg(count - 1, 7, 10, QLatin1Char('0')));
    EXPECT_EQ(RectOf(frame, newest), QRect(9, 9, 150, 112));
    EXPECT_TRUE(SameColour(ColourAt(frame, newest), PictureColour(6)));
}

// New scenes come in at the top left while the mouse rests on a thumbnail:
// its row stays where it was on the screen, and the scene under the pointer
// after the rebuild is the one that plays.
TEST_F(ThumbNailFrameTest, NewScenesAboveTheMouseKeepItsRowAndTheHotSceneUnderIt) {
    TThumbNailFrame* frame = CreateFrame(QSize(400, 300));
    QWidget* viewport = frame->ScrollBox->viewport();
    const QPoint pointer =
        frame->PaintBox->mapTo(viewport, RectOf(frame, Scene("100000000")).center());
    frame->PaintBoxMouseMove(frame->PaintBox->mapFrom(viewport, pointer));
    const int row = RectOf(frame, Scene("100000000")).top() - 9;
    const struct {
        QStringList Scenes; // recorded before the next repaint
        const char* Under;
        int Rows;                                                 // scrolled
    } arrivals[] = {{{"130000000", "140000000"}, "100000000", 1}, // back under the pointer
                    {{"150000000"}, "110000000", 0}}; // one place on: the neighbour is hot
    for (const auto& arrival : arrivals) {
        const int before = frame->ScrollBox->verticalScrollBar()->value();
        for (const QString& scene : arrival.Scenes)
            AddScene(scene, {7});
        frame->Repaint();
        Paint(frame);
        EXPECT_EQ(frame->ScrollBox->verticalScrollBar()->value() - before, arrival.Rows * row);
        const int under = frame->HitTest(frame->PaintBox->mapFrom(viewport, pointer));
        ASSERT_GE(under, 0);
        EXPECT_EQ(frame->ThumbKeys().at(under), Scene(arrival.Under));
        EXPECT_EQ(frame->HotPath(), Scene(arrival.Under));
    }
}

// The page inside the explorer: the double click opens the scene in the player.
TEST_F(ThumbNailFrameTest, DoubleClickSelectsTheSceneAndPlaysItForwardWithRepeat) {
    Explorer.reset(CreateLoaded<TExplorerFrame>());
    TkaTreeView* tree = Explorer->kaTreeView;
    QTreeWidgetItem* camera = tree->AddNode(nullptr, "Camera", nullptr, new TTreeNodeObject, -1, 3);
    QTreeWidgetItem* scenes = tree->AddNode(
        camera, "Scenes", nullptr, new TPathTreeNodeObject(nullptr, SceneDir, nullptr), -1, 7);
    Explorer->resize(900, 600);
    Explorer->show();
    RestoreRemanentControls();
    // The slowest pause: under load the player's own timer would otherwise
    // play on between the checks below.
    Explorer->PlayerPage->SpeedTrackBar->SetPosition(Explorer->PlayerPage->SpeedTrackBar->Max());
    scenes->setExpanded(true);
    QTreeWidgetItem* day = scenes->child(0);
    ASSERT_NE(day, nullptr);
    tree->setCurrentItem(day);
    Explorer->NodeSelected(day);
    TThumbNailFrame* page = Explorer->ThumbnailPage;
    ASSERT_EQ(Explorer->CurrentPage(), page);
    EXPECT_EQ(page->Path(), Day);
    Paint(page);

    // Another day node shown by the shared page goes away: the page still
    // finds its own day.
    QTreeWidgetItem* other = tree->AddNode(
        camera, "Other day", page, new TPathTreeNodeObject(nullptr, PathOf("elsewhere"), nullptr));
    delete other;
    const QString key = Scene("110000000");
    QTest::mouseDClick(page->PaintBox, Qt::LeftButton, {}, RectOf(page, key).center());
    EXPECT_TRUE(day->isExpanded());
    QTreeWidgetItem* scene = tree->currentItem();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(PathObject(scene)->Path(), key);
    TkaPlayerFrame* player = Explorer->PlayerPage;
    EXPECT_TRUE(player->RepeatAction->isChecked());
    EXPECT_TRUE(player->PlayForwardAction->isChecked());
    // The tree reports the new selection after its change delay.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Explorer->CurrentPage() == player; }, 3000));
    EXPECT_EQ(player->Path(), key);
    EXPECT_EQ(player->CountLabel->text(), "[1/2]");
    EXPECT_TRUE(player->PlayForwardAction->isChecked()) << "repeat keeps it playing";
    player->PlayTimerTimer();
    player->PlayTimerTimer();
    EXPECT_EQ(player->CountLabel->text(), "[1/2]") << "wrapped around";
    EXPECT_TRUE(player->PlayForwardAction->isChecked());

    // A picture node shows the viewer with that file.
    scene->setExpanded(true);
    QTreeWidgetItem* file = scene->child(1);
    ASSERT_NE(file, nullptr);
    tree->setCurrentItem(file);
    Explorer->NodeSelected(file);
    EXPECT_EQ(Explorer->CurrentPage(), Explorer->ImagePage);
    EXPECT_EQ(Explorer->ImagePage->FileName(), key + "/" + PictureName(5));
}

} // namespace
