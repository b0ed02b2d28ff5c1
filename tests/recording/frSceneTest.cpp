#include "frScene.h"

#include "ApplicationErrors.h"
#include "DemoCamera.h"
#include "DiskSpace.h"
#include "PathTreeNodeObject.h"
#include "RecordingTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WaitForDeletions.h"
#include "kaCheckBox.h"
#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaSceneFiles.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreeView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QToolButton>
#include <future>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr qint64 MB = BytesPerMegabyte;

class SceneFrameTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        Clock = LocalTime(2024, 5, 17, 8, 0, 0);
        SetClock([this] { return Clock; });
    }
    void TearDown() override {
        Frame.reset();
        SetFreeSpaceReader({});
        TempProgramDir::TearDown();
    }

    void Create() { Frame.reset(CreateLoaded<TSceneFrame>(QStringLiteral("VideoFrame1Scene"))); }
    static QString Stored(const QString& section, const QString& key) {
        return CfgIniFile()->ReadString(section, key, "<none>");
    }
    void Advance(double seconds) { Clock += seconds / 86400.0; }

    double Clock = 0;
    std::unique_ptr<TSceneFrame> Frame;
};

struct TrackbarExpectation {
    TkaTrackbarFrame* Frame;
    QString Name, Caption, Hint;
    int Min, Max, Position, Frequency;
};

TEST_F(SceneFrameTest, ControlsHaveTheirCaptionsRangesAndDefaults) {
    Create();
    EXPECT_EQ(Frame->objectName(), "VideoFrame1Scene");
    EXPECT_EQ(Frame->ActivekaCheckBox->text(), "Scenemanager active");
    EXPECT_TRUE(Frame->ActivekaCheckBox->isChecked());
    EXPECT_EQ(Frame->GroupBox->title(), "Scene Directory");
    EXPECT_EQ(Frame->SceneDirSpeedButton->toolTip(), "Select Scene Directory");
    EXPECT_EQ(Frame->DeleteOldCheckBox->text(), "Delete old scenes, if necessary");
    EXPECT_FALSE(Frame->DeleteOldCheckBox->isChecked());
    EXPECT_EQ(Frame->DiskLabel->text() + Frame->CurrentFreeLabel->text() + Frame->MBLabel->text(),
              "Disk Free:  - MByte");
    const TrackbarExpectation expected[] = {
        {Frame->MaxSceneskaTrackbarFrame, "MaxSceneskaTrackbarFrame",
         "Max Scenes per Day:", "Maximum Count of Scenes per Day", 1, 1000, 500, 100},
        {Frame->MaxPickaTrackbarFrame, "MaxPickaTrackbarFrame",
         "Max Picture per Scene:", "Max Count of pictures per Scene", 1, 1000, 500, 100},
        {Frame->MinPicsPerScenekaTrackbarFrame, "MinPicsPerScenekaTrackbarFrame",
         "Min Pictures per Scene:", "Autodelete Scenes, which have less number of pictures", 1, 100,
         1, 10},
        {Frame->NewSceneTimeFrame, "NewSceneTimeFrame", "Scene Time",
         "A new Scenedirectory will be create, if there is not Motiondection during this "
         "timeinterval",
         1, 600, 5, 60},
        {Frame->MinDiskSpaceFrame, "MinDiskSpaceFrame", "Min DiskSpace [MByte]",
         "Minimum Diskspace to write new pictures to disk", 10, 1000, 20, 100},
    };
    for (const TrackbarExpectation& e : expected) {
        SCOPED_TRACE(e.Name.toStdString());
        EXPECT_EQ(e.Frame->objectName(), e.Name);
        EXPECT_EQ(e.Frame->kaLabel1->text(), e.Caption);
        EXPECT_EQ(e.Frame->toolTip(), e.Hint);
        EXPECT_EQ(e.Frame->TrackBar->Min(), e.Min);
        EXPECT_EQ(e.Frame->TrackBar->Max(), e.Max);
        EXPECT_EQ(e.Frame->TrackBar->Position(), e.Position);
        EXPECT_EQ(e.Frame->TrackBar->Frequency(), e.Frequency);
    }
    EXPECT_EQ(Frame->MinDiskSpaceFrame->TrackBar->singleStep(), 10);
    EXPECT_EQ(Frame->MinDiskSpaceFrame->TrackBar->pageStep(), 100);
    EXPECT_GE(Frame->minimumWidth(), 257);
    EXPECT_GE(Frame->minimumHeight(), 397);
    EXPECT_TRUE(IsExcludedFromLanguage(Frame->SceneDirkaLabel));
    EXPECT_TRUE(IsExcludedFromLanguage(Frame->CurrentFreeLabel));
    EXPECT_TRUE(IsExcludedFromLanguage(Frame->RecordingFailurekaLabel));
}

TEST_F(SceneFrameTest, RestoredTrackBarsReachTheSceneMaker) {
    Create();
    RestoreRemanentControls();
    EXPECT_EQ(Frame->kaSceneMaker->MaxPicturePerScene(), 500);
    EXPECT_EQ(Frame->kaSceneMaker->SecondsBeforeNewScene(), 5);
    EXPECT_EQ(Frame->MaxPickaTrackbarFrame->kaLabel2->text(), "500");

    Frame.reset();
    CfgIniFile()->WriteInteger("Integer", "VideoFrame1Scene.MaxPickaTrackbarFrame.TrackBar", 7);
    CfgIniFile()->WriteInteger("Integer", "VideoFrame1Scene.NewSceneTimeFrame.TrackBar", 30);
    Create();
    RestoreRemanentControls();
    EXPECT_EQ(Frame->kaSceneMaker->MaxPicturePerScene(), 7);
    EXPECT_EQ(Frame->kaSceneMaker->SecondsBeforeNewScene(), 30);
    Frame->NewSceneTimeFrame->TrackBar->SetPosition(42);
    EXPECT_EQ(Frame->kaSceneMaker->SecondsBeforeNewScene(), 42);
}

TEST_F(SceneFrameTest, StoredSceneDirIsAppliedWhenLoaded) {
    const QString dir = PathOf("rec/cam1");
    CfgIniFile()->WriteString("VideoFrame1Scene", "SceneDir", dir);
    Create();
    EXPECT_EQ(Frame->SceneDir(), dir);
    EXPECT_TRUE(QFileInfo(dir).isDir()) << "created with its missing parents";
    EXPECT_EQ(Frame->SceneDirkaLabel->text(), dir);
    EXPECT_EQ(Frame->SceneDirkaLabel->toolTip(), dir);
    EXPECT_EQ(Frame->kaSceneMaker->SceneDir(), dir);
}

TEST_F(SceneFrameTest, SetSceneDirWritesAndRepointsTheScenesNodeOnlyOnAChange) {
    Create();
    TkaTreeView tree;
    auto* object = new TPathTreeNodeObject(nullptr, PathOf("a"), nullptr);
    QTreeWidgetItem* scenes = tree.AddNode(nullptr, "Scenes", nullptr, object);
    tree.AddNode(scenes, "day");
    Frame->SetSceneNode(scenes);

    Frame->SetSceneDir(PathOf("a"));
    EXPECT_EQ(Stored("VideoFrame1Scene", "SceneDir"), PathOf("a"));
    object->UnreadNames().append("05/17/24 Fri");
    scenes->setExpanded(true);
    CfgIniFile()->WriteString("VideoFrame1Scene", "SceneDir", "untouched");
    Frame->SetSceneDir(PathOf("a"));
    EXPECT_EQ(Stored("VideoFrame1Scene", "SceneDir"), "untouched") << "the same text is no change";
    EXPECT_TRUE(scenes->isExpanded());

    Frame->SetSceneDir(PathOf("A"));
    EXPECT_EQ(Stored("VideoFrame1Scene", "SceneDir"), PathOf("A")) << "letter case counts";
    EXPECT_FALSE(scenes->isExpanded());
    EXPECT_EQ(object->Path(), PathOf("A"));
    EXPECT_TRUE(object->UnreadNames().isEmpty());
}

TEST_F(SceneFrameTest, DirectoryButtonGoesThroughTheDialog) {
    Create();
    ScriptedDialogs dialogs;
    Frame->SetSceneDir(PathOf("first"));
    dialogs.PathAnswers.enqueue("");
    Frame->SceneDirSpeedButton->click();
    EXPECT_EQ(Frame->SceneDir(), PathOf("first")) << "cancel changes nothing";

    dialogs.PathAnswers.enqueue(PathOf("new/place"));
    dialogs.ConfirmAnswers.enqueue(TDialogAnswer::No);
    Frame->SceneDirSpeedButton->click();
    EXPECT_EQ(Frame->SceneDir(), PathOf("first"));
    EXPECT_FALSE(QFileInfo::exists(PathOf("new/place")));

    dialogs.PathAnswers.enqueue(PathOf("new/place"));
    dialogs.ConfirmAnswers.enqueue(TDialogAnswer::Yes);
    Frame->SceneDirSpeedButton->click();
    EXPECT_EQ(Frame->SceneDir(), PathOf("new/place"));
    EXPECT_TRUE(QFileInfo(PathOf("new/place")).isDir());
    EXPECT_EQ(dialogs.Asked.size(), 5);
}

TEST_F(SceneFrameTest, APageThatGoesWhileItsDirectoryDialogsAreOpenIsLeftAlone) {
    ScriptedDialogs dialogs;
    ASSERT_TRUE(QDir().mkpath(PathOf("existing")));
    for (const bool inConfirmation : {false, true}) {
        Create();
        Frame->SetSceneDir(PathOf("first"));
        dialogs.PathAnswers.enqueue(PathOf(inConfirmation ? "missing" : "existing"));
        dialogs.ConfirmAnswers.enqueue(TDialogAnswer::Yes);
        dialogs.WhileOpen = [this, inConfirmation, &dialogs] {
            if (!inConfirmation) {
                Frame.reset();
                return;
            }
            // The page goes while the question after the directory dialog is open.
            dialogs.WhileOpen = [this] { Frame.reset(); };
        };
        Frame->SceneDirSpeedButton->click();
        EXPECT_EQ(Frame, nullptr);
        EXPECT_EQ(Stored("VideoFrame1Scene", "SceneDir"), PathOf("first"));
        EXPECT_FALSE(QFileInfo::exists(PathOf("missing")));
        dialogs.ConfirmAnswers.clear();
    }
}

TEST_F(SceneFrameTest, AddPictureStoresOnlyWhileActiveAndForwardsNewScenes) {
    Create();
    RestoreRemanentControls();
    Frame->SetSceneDir(PathOf("rec"));
    QList<std::pair<QObject*, QString>> announced;
    Frame->OnNewScene = [&](QObject* sender, const QString& sPath) {
        announced.append({sender, sPath});
    };
    Frame->ActivekaCheckBox->setChecked(false);
    EXPECT_EQ(Frame->AddPicture(TestPicture()), "");
    EXPECT_EQ(CountSubDirectories(PathOf("rec")), 0);

    Frame->ActivekaCheckBox->setChecked(true);
    EXPECT_EQ(Frame->AddPicture(TestPicture()), "20240517/080000000");
    ASSERT_EQ(announced.size(), 1);
    EXPECT_EQ(announced[0].first, Frame.get());
    EXPECT_EQ(announced[0].second, "20240517/080000000");
    EXPECT_TRUE(QFileInfo::exists(PathOf("rec/20240517/080000000/20240517080000000.jpg")));
}

TEST_F(SceneFrameTest, GuardShowsLowSpaceInRedAndStoresAgainWhenSpaceReturns) {
    Create();
    Frame->SetSceneDir(PathOf("rec"));
    qint64 free = 15 * MB;
    SetFreeSpaceReader([&](const QString& dir) {
        EXPECT_EQ(dir, PathOf("rec"));
        return free;
    });
    EXPECT_FALSE(Frame->GuardDiskSpace());
    EXPECT_EQ(Frame->CurrentFreeLabel->text(), "15 ");
    EXPECT_EQ(Frame->CurrentFreeLabel->palette().color(QPalette::WindowText), QColor(Qt::red));

    free = 25 * MB + MB - 1;
    EXPECT_TRUE(Frame->GuardDiskSpace());
    EXPECT_EQ(Frame->CurrentFreeLabel->text(), "25 ");
    EXPECT_EQ(Frame->CurrentFreeLabel->palette().color(QPalette::WindowText), QColor(Qt::black));
}

TEST_F(SceneFrameTest, GuardDoesNothingWithoutADirectory) {
    Create();
    SetFreeSpaceReader([](const QString&) { return 1 * MB; });
    EXPECT_FALSE(Frame->GuardDiskSpace());
    EXPECT_EQ(Frame->CurrentFreeLabel->text(), "- ");
}

TEST_F(SceneFrameTest, GuardDeletionsRemoveTheirNodesAndRepaintWhileRecordingIsOff) {
    Create();
    const QString rec = PathOf("rec");
    Frame->SetSceneDir(rec);
    MakeDir(rec + "/20240101/090000000");
    WriteFile(rec + "/20240101/090000000/20240101090000000.jpg");
    SetModified(rec + "/20240101", 3);

    TkaTreeView tree;
    QTreeWidgetItem* scenes =
        tree.AddNode(nullptr, "Scenes", nullptr, new TPathTreeNodeObject(nullptr, rec, nullptr));
    // Newest day first (recorded elsewhere); the oldest day shows its scene,
    // whose path is given in other letter case.
    tree.AddNode(scenes, "02", nullptr,
                 new TPathTreeNodeObject(nullptr, rec + "/20240102", nullptr));
    QTreeWidgetItem* oldDay = tree.AddNode(
        scenes, "01", nullptr, new TPathTreeNodeObject(nullptr, rec + "/20240101", nullptr));
    tree.AddNode(oldDay, "09:00", nullptr,
                 new TPathTreeNodeObject(nullptr, rec.toUpper() + "/20240101/090000000", nullptr));
    Frame->SetSceneNode(scenes);

    Frame->ActivekaCheckBox->setChecked(false);
    Frame->DeleteOldCheckBox->setChecked(true);
    // Enough once the scene and then its emptied day are gone.
    SetFreeSpaceReader(
        [&](const QString&) { return (QFileInfo::exists(rec + "/20240101") ? 5 : 25) * MB; });
    Frame->GuardDiskSpace();
    EXPECT_EQ(scenes->child(1)->childCount(), 1) << "the node goes with its files";
    ASSERT_TRUE(WaitForDeletions(Frame->SceneDeleter()));
    EXPECT_FALSE(QFileInfo::exists(rec + "/20240101"));
    EXPECT_EQ(scenes->childCount(), 1);
    EXPECT_EQ(scenes->child(0)->text(0), "02");
}

// The guard deletes on the deleter's thread: the picture in hand is judged
// at once (half the minimum suffices while space is being freed, not once
// nothing is left to delete), pictures meanwhile start no second pass, and
// the pass deletes what the minimum needs, no more.
TEST_F(SceneFrameTest, GuardFreesSpaceOffTheMainThreadAndNoMoreThanNeeded) {
    Create();
    const QString day = PathOf("rec/20240101");
    Frame->SetSceneDir(PathOf("rec"));
    Frame->DeleteOldCheckBox->setChecked(true);
    for (int s = 1; s <= 6; ++s) {
        const QString scene = day + QString("/%1").arg(s * 10000000, 9, 10, QLatin1Char('0'));
        WriteFile(scene + "/20240101010000000.jpg");
        SetModified(scene, 10 - s);
    }
    // Three scenes short of the minimum.
    SetFreeSpaceReader([&](const QString&) { return (23 - CountSubDirectories(day)) * MB; });
    std::promise<void> release;
    Frame->SceneDeleter().Run(
        {}, [held = release.get_future().share()](TDeletionControl&) { held.wait(); });
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(Frame->GuardDiskSpace()) << i;
    EXPECT_EQ(Frame->CurrentFreeLabel->text(), "17 ");
    EXPECT_EQ(CountSubDirectories(day), 6) << "nothing is deleted on the main thread";
    release.set_value();
    ASSERT_TRUE(WaitForDeletions(Frame->SceneDeleter()));
    EXPECT_EQ(CountSubDirectories(day), 3);
    EXPECT_TRUE(QFileInfo::exists(day + "/040000000")) << "the newest three stay";

    struct TStep {
        qint64 FreeMB;
        bool Stored;
    };
    // 15 MByte: stored while the pass runs, withheld once it found nothing left.
    for (const TStep step : {TStep{15, true}, TStep{15, false}, TStep{5, false}, TStep{25, true}}) {
        SetFreeSpaceReader([&](const QString&) { return step.FreeMB * MB; });
        EXPECT_EQ(Frame->GuardDiskSpace(), step.Stored) << step.FreeMB;
        EXPECT_EQ(Frame->CurrentFreeLabel->palette().color(QPalette::WindowText),
                  QColor(step.Stored ? Qt::black : Qt::red));
        ASSERT_TRUE(WaitForDeletions(Frame->SceneDeleter()));
    }
    EXPECT_FALSE(QFileInfo::exists(day));
}

// ---- Retention rules on the tree -------------------------------------------------

class RetentionTest : public SceneFrameTest {
protected:
    void SetUp() override {
        SceneFrameTest::SetUp();
        Create();
        Frame->SetSceneDir(PathOf("rec"));
        Day = Tree.AddNode(nullptr, "05/17/24 Fri", nullptr,
                           new TPathTreeNodeObject(nullptr, DayDir(), nullptr));
    }
    QString DayDir() const { return PathOf("rec/20240517"); }
    // Adds a scene node (newest first) over a directory holding Pictures pictures.
    QTreeWidgetItem* AddScene(const QString& name, int pictures, bool first = true) {
        const QString dir = DayDir() + "/" + name;
        MakeDir(dir);
        for (int i = 0; i < pictures; ++i)
            WriteFile(dir +
                      QString("/20240517%1%2.jpg").arg(name.left(6)).arg(i, 3, 10, QChar('0')));
        auto* object = new TPathTreeNodeObject(nullptr, dir, nullptr);
        return first ? Tree.AddNodeFirst(Day, name, nullptr, object)
                     : Tree.AddNode(Day, name, nullptr, object);
    }

    TkaTreeView Tree;
    QTreeWidgetItem* Day = nullptr;
};

TEST_F(RetentionTest, PerDayLimitDeletesTheOldestShownScenesOfAnExpandedDay) {
    Frame->MaxSceneskaTrackbarFrame->TrackBar->SetPosition(2);
    for (const char* name : {"080000000", "090000000", "100000000", "110000000"})
        AddScene(name, 1);
    Frame->LimitScenesPerDay(Day);
    EXPECT_EQ(Day->childCount(), 4) << "a collapsed day is left alone";

    Day->setExpanded(true);
    Frame->LimitScenesPerDay(Day);
    ASSERT_EQ(Day->childCount(), 2);
    ASSERT_TRUE(WaitForDeletions(Frame->SceneDeleter()));
    EXPECT_EQ(Day->child(1)->text(0), "100000000");
    EXPECT_FALSE(QFileInfo::exists(DayDir() + "/080000000"));
    EXPECT_FALSE(QFileInfo::exists(DayDir() + "/090000000"));
    AddScene("120000000", 1);
    EXPECT_EQ(Day->childCount(), 3);
}

TEST_F(RetentionTest, SmallScenesGoWhenTheNextSceneBeginsButNeverTheNewOne) {
    Frame->MinPicsPerScenekaTrackbarFrame->TrackBar->SetPosition(3);
    AddScene("080000000", 5);
    AddScene("090000000", 2);
    QTreeWidgetItem* newScene = AddScene("100000000", 1);
    Day->setExpanded(true);

    Frame->SweepSmallScenes("20240517/100000000");
    ASSERT_TRUE(WaitForDeletions(Frame->SceneDeleter()));
    EXPECT_FALSE(QFileInfo::exists(DayDir() + "/090000000"));
    EXPECT_TRUE(QFileInfo::exists(DayDir() + "/080000000"));
    EXPECT_TRUE(QFileInfo::exists(DayDir() + "/100000000"));
    EXPECT_EQ(Day->childCount(), 3) << "the sweep leaves the tree alone";

    Frame->CheckPreviousScene(newScene);
    ASSERT_EQ(Day->childCount(), 2);
    EXPECT_EQ(Day->child(0), newScene);
    EXPECT_EQ(Day->child(1)->text(0), "080000000");
    Frame->CheckPreviousScene(newScene);
    EXPECT_EQ(Day->childCount(), 2) << "a big enough previous scene stays";
}

// ---- A recording that cannot be stored ----------------------------------------

class RecordingFailureTest : public SceneFrameTest {
protected:
    void SetUp() override {
        SceneFrameTest::SetUp();
        Previous = SetApplicationErrorHandler(
            [this](const std::exception& error) { Reported.append(error.what()); });
        Create();
        RestoreRemanentControls();
        QObject::connect(Frame.get(), &TSceneFrame::RecordingFailureChanged,
                         [this](const QString& failure) { Changes.append(failure); });
        SetFreeSpaceReader([this](const QString&) { return Free; });
    }
    void TearDown() override {
        SetApplicationErrorHandler(std::move(Previous));
        SceneFrameTest::TearDown();
    }

    // One motion picture through the guard and the frame, as the camera page does.
    void Motion() {
        if (Frame->GuardDiskSpace())
            Frame->AddPicture(TestPicture());
        Advance(0.2);
        QCoreApplication::processEvents();
    }

    TApplicationErrorHandler Previous;
    QStringList Reported;
    QStringList Changes;
    qint64 Free = 500 * MB;
};

TEST_F(RecordingFailureTest, WriteErrorsAndLowSpaceAreFailuresButSwitchedOffIsNot) {
    Frame->SetSceneDir(PathOf("rec"));
    Motion();
    // A directory in the way of the next picture's temporary file.
    const QString scene = Frame->kaSceneMaker->CurrentSceneDir();
    MakeDir(scene + "/" + PictureTempName("20240517080000200.jpg"));
    EXPECT_NO_THROW(Motion());
    EXPECT_TRUE(Frame->RecordingFailure().startsWith("Error writing File " + scene));
    Motion();
    EXPECT_TRUE(Frame->RecordingFailure().isEmpty());

    Free = 15 * MB;
    Motion();
    Motion();
    EXPECT_EQ(Frame->RecordingFailure(),
              "less free disk space for " + PathOf("rec") + " than the minimum of 20 MByte");
    Frame->ActivekaCheckBox->setChecked(false);
    Motion();
    EXPECT_TRUE(Frame->RecordingFailure().isEmpty()) << "recording is off, nothing fails";
    EXPECT_EQ(Reported.size(), 2);
}

// ---- A camera's pictures through the frame -------------------------------------

TEST_F(SceneFrameTest, DemoCameraPicturesAreStoredInTheLayoutAndDecode) {
    Create();
    RestoreRemanentControls();
    Frame->SetSceneDir(PathOf("Scenes/0"));
    TDemoCamera camera(1, std::make_shared<TDemoCamera::TSettings>());
    std::vector<std::uint8_t> frame;
    QStringList scenes;
    for (int number = 0; number < 3; ++number) {
        camera.Render(number, frame);
        const QImage bitmap(frame.data(), 640, 480, 640 * 3, QImage::Format_BGR888);
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        jpeg.SetQuality(80);
        jpeg.Compress();
        jpeg.FreeBitmap();
        ASSERT_TRUE(Frame->GuardDiskSpace()) << "real free space of the test folder";
        const QString sPath = Frame->AddPicture(jpeg);
        if (!sPath.isEmpty())
            scenes.append(sPath);
        Advance(0.1);
    }
    ASSERT_EQ(scenes, QStringList{"20240517/080000000"});
    QStringList pictures;
    ListFileNames(PathOf("Scenes/0/20240517/080000000"), pictures);
    ASSERT_EQ(pictures, (QStringList{"20240517080000000.jpg", "20240517080000100.jpg",
                                     "20240517080000200.jpg"}));
    TJPEGImage stored;
    stored.LoadFromFile(PathOf("Scenes/0/20240517/080000000/20240517080000200.jpg"));
    const QImage decoded = stored.Decode();
    EXPECT_EQ(decoded.size(), QSize(640, 480));
    EXPECT_NE(Frame->CurrentFreeLabel->text(), "- ");
}

} // namespace
