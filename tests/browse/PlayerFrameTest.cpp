#include "ApplicationErrors.h"
#include "PaintBox.h"
#include "PictureSupport.h"
#include "TempProgramDir.h"
#include "frPlayer.h"
#include "kaAction.h"
#include "kaTrackBar.h"

#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <memory>

namespace {

// A player over scene folders of real pictures, shown so that its timer works.
class PlayerFrameTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        Scene = PathOf("Scenes/0/20041231/120000000");
        for (int number = 1; number <= 10; ++number)
            WritePicture(File(number), PictureColour(number));
        Player.reset(CreateLoaded<TkaPlayerFrame>());
        Player->resize(400, 300);
        Player->show();
        PreviousLogger =
            SetApplicationErrorLogger([this](const std::exception&) { ++LoggedErrors; });
    }

    void TearDown() override {
        SetApplicationErrorLogger(std::move(PreviousLogger));
        Player.reset();
        TempProgramDir::TearDown();
    }

    QString File(int number) const { return Scene + "/" + PictureName(number); }

    // The numbers of the pictures shown by Ticks timer ticks.
    std::vector<int> Play(int ticks) {
        std::vector<int> shown;
        for (int i = 0; i < ticks; ++i) {
            Player->PlayTimerTimer();
            shown.push_back(Shown());
        }
        return shown;
    }

    int Shown() const {
        for (int number = 1; number <= 20; ++number) {
            if (Player->CurrentFile() == File(number))
                return number;
        }
        return 0;
    }

    QString Count() const { return Player->CountLabel->text(); }
    bool Playing() const {
        return Player->PlayForwardAction->isChecked() || Player->PlayBackwardAction->isChecked();
    }

    QString Scene;
    std::unique_ptr<TkaPlayerFrame> Player;
    TApplicationErrorHandler PreviousLogger;
    int LoggedErrors = 0;
};

TEST_F(PlayerFrameTest, ForwardWithoutRepeatEndsOnThePictureOneAndStops) {
    Player->SetPath(Scene);
    EXPECT_EQ(Shown(), 1);
    EXPECT_EQ(Count(), "[1/10]");
    EXPECT_TRUE(SameColour(Player->Picture().pixelColor(10, 10), PictureColour(1)));

    Player->PlayForwardAction->trigger();
    EXPECT_EQ(Play(10), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 1}));
    EXPECT_EQ(Count(), "[1/10]");
    EXPECT_FALSE(Playing());
    EXPECT_EQ(Play(2), (std::vector<int>{1, 1})) << "stopped";
}

TEST_F(PlayerFrameTest, BackwardWithRepeatWrapsFromPictureTwoToTheLast) {
    Player->RepeatAction->setChecked(true);
    Player->PlayBackwardAction->trigger();
    Player->SetPath(Scene);
    EXPECT_EQ(Shown(), 10) << "a scene selected while playing backward starts at its end";
    EXPECT_EQ(Play(10), (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 10, 9}));
    EXPECT_TRUE(Player->PlayBackwardAction->isChecked());
    EXPECT_FALSE(Player->PlayForwardAction->isChecked());
}

TEST_F(PlayerFrameTest, AGrowingSceneIsPlayedWithItsNewPicturesInTheNextPass) {
    Player->RepeatAction->setChecked(true);
    Player->SetPath(Scene);
    Player->PlayForwardAction->trigger();
    Play(9);
    ASSERT_EQ(Shown(), 10);
    WritePicture(File(11), PictureColour(11));
    WritePicture(File(12), PictureColour(12));
    // The list is read at the end only: this pass still ends after picture 10.
    EXPECT_EQ(Play(1), std::vector<int>{1});
    EXPECT_EQ(Count(), "[1/12]");
    Play(10);
    EXPECT_EQ(Shown(), 11);
    EXPECT_EQ(Play(2), (std::vector<int>{12, 1}));
    EXPECT_TRUE(Playing());
}

TEST_F(PlayerFrameTest, AnEmptySceneKeepsThePictureAndCountsNone) {
    Player->SetPath(Scene);
    const QString empty = PathOf("Scenes/0/20041231/130000000");
    QDir().mkpath(empty);
    Player->SetPath(empty);
    EXPECT_EQ(Count(), "[1/0]");
    EXPECT_TRUE(SameColour(Player->Picture().pixelColor(10, 10), PictureColour(1)));
    Player->PlayForwardAction->trigger();
    Play(3);
    EXPECT_EQ(Count(), "[1/0]");
    EXPECT_FALSE(Playing());
}

TEST_F(PlayerFrameTest, TheTrackBarStepsAndItsZeroEndsPlayingUnlessRepeated) {
    Player->SetPath(Scene);
    EXPECT_EQ(Player->TrackBar->maximum(), 9);
    Player->TrackBar->setValue(5);
    EXPECT_EQ(Shown(), 6);
    EXPECT_EQ(Count(), "[6/10]");

    Player->PlayForwardAction->trigger();
    Play(2);
    ASSERT_EQ(Shown(), 8);
    Player->TrackBar->setValue(0);
    EXPECT_EQ(Shown(), 1);
    EXPECT_FALSE(Playing());

    Player->RepeatAction->setChecked(true);
    Player->PlayForwardAction->trigger();
    Play(3);
    Player->TrackBar->setValue(0);
    EXPECT_EQ(Shown(), 1);
    EXPECT_TRUE(Playing());
    EXPECT_EQ(Play(1), std::vector<int>{2});
}

TEST_F(PlayerFrameTest, BrokenAndForeignFilesArePassedOverAndLoggedOnce) {
    WriteBytes(File(3), QByteArray());
    WriteTruncatedPicture(File(5));
    WriteBytes(Scene + "/notes.txt", "not a picture");
    // The scene maker's temporary of a picture being written is no file of the scene.
    WriteBytes(Scene + "/.20041231120000011.tmp", "half");
    Player->RepeatAction->setChecked(true);
    Player->SetPath(Scene);
    EXPECT_EQ(Count(), "[1/11]") << "notes.txt counts, the temporary does not";
    Player->PlayForwardAction->trigger();
    EXPECT_EQ(Play(8), (std::vector<int>{2, 4, 6, 7, 8, 9, 10, 1}));
    EXPECT_EQ(Play(8), (std::vector<int>{2, 4, 6, 7, 8, 9, 10, 1}));
    EXPECT_EQ(LoggedErrors, 2) << "one row per broken picture, not one per pass";

    // Stepped onto a broken picture, the page says so instead of showing a picture.
    Player->StopAction->trigger();
    Player->TrackBar->setValue(4);
    EXPECT_TRUE(Player->CurrentUnreadable());
    EXPECT_TRUE(Player->Picture().isNull());
    EXPECT_EQ(LoggedErrors, 2);
}

TEST_F(PlayerFrameTest, PicturesOrTheSceneDeletedWhilePlayingStopTheSceneGracefully) {
    Player->SetPath(Scene);
    Player->PlayForwardAction->trigger();
    Play(2);
    ASSERT_EQ(Shown(), 3);
    QFile::remove(File(4));
    Play(1);
    EXPECT_TRUE(SameColour(Player->Picture().pixelColor(10, 10), PictureColour(3)))
        << "a missing file leaves the previous picture";
    ASSERT_TRUE(QDir(Scene).removeRecursively());
    Play(7);
    EXPECT_EQ(Count(), "[1/0]");
    EXPECT_FALSE(Playing());
}

TEST_F(PlayerFrameTest, StretchFillsTheBoxAndCentredShowsTheMiddleOfALargePicture) {
    // A picture larger than the box: left half one colour, right half another.
    QImage bitmap(2000, 1000, QImage::Format_RGB32);
    bitmap.fill(Qt::blue);
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 1000; x < bitmap.width(); ++x)
            bitmap.setPixelColor(x, y, Qt::yellow);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    const QString big = PathOf("Scenes/0/20041231/140000000/" + PictureName(1));
    QDir().mkpath(QFileInfo(big).absolutePath());
    jpeg.SaveToFile(big);
    Player->SetPath(QFileInfo(big).absolutePath());

    const QImage centred = Player->PaintBox->grab().toImage();
    const int middle = centred.width() / 2;
    EXPECT_TRUE(SameColour(centred.pixelColor(middle - 20, 10), Qt::blue));
    EXPECT_TRUE(SameColour(centred.pixelColor(middle + 20, 10), Qt::yellow));
    EXPECT_TRUE(SameColour(centred.pixelColor(2, 2), Qt::blue)) << "no border: the middle part";

    Player->StretchAction->trigger();
    const QImage stretched = Player->PaintBox->grab().toImage();
    EXPECT_TRUE(SameColour(stretched.pixelColor(2, 2), Qt::blue));
    EXPECT_TRUE(SameColour(stretched.pixelColor(stretched.width() - 3, 2), Qt::yellow));
}

TEST_F(PlayerFrameTest, TheRestoredPauseDrivesTheTimerAndItsLabel) {
    EXPECT_FALSE(Player->PlayTimer->isActive()) << "runs from the first restore on";
    WriteIntegerSetting(Player->SpeedTrackBar, 750);
    RestoreRemanentControls();
    EXPECT_TRUE(Player->PlayTimer->isActive());
    EXPECT_EQ(Player->PlayTimer->interval(), 750);
    EXPECT_EQ(Player->SpeedLabel->text(), "750 [ms]");
    EXPECT_EQ(ComponentPath(Player->SpeedTrackBar), "kaPlayerFrame.SpeedTrackBar");
}

} // namespace

TEST_F(PlayerFrameTest, TheToolBarShowsTheTimeOfDayOfThePictureShown) {
    WritePicture(Scene + "/holiday.jpg", Qt::red);
    Player->SetPath(Scene);
    // The user's time format, the milliseconds after the seconds; a missing
    // file leaves the time of the picture still on show.
    for (const auto& [file, time] : {std::pair{File(5), "12:00:00.005"},
                                     {Scene + "/x.jpg", "12:00:00.005"},
                                     {Scene + "/holiday.jpg", ""}}) {
        Player->ShowFile(file);
        EXPECT_EQ(Player->TimeLabel->text().left(12), time);
    }
}
