#include "../capture/TestCamera.h"
#include "ApplicationErrors.h"
#include "DemoCameraBackend.h"
#include "EkaError.h"
#include "FTarvik.h"
#include "FVideoSetup.h"
#include "MailAccounts.h"
#include "PathTreeNodeObject.h"
#include "ScriptedDialogs.h"
#include "TIniFile.h"
#include "TJPEGImage.h"
#include "TempProgramDir.h"
#include "TrayIcon.h"
#include "UnprivilegedScope.h"
#include "WaitForDeletions.h"
#include "frExplorer.h"
#include "frFeedBack.h"
#include "frRoot.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaAction.h"
#include "kaApplicationEvents.h"
#include "kaEdit.h"
#include "kaLabel.h"
#include "kaPageControl.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreePanel.h"
#include "kaTreeView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>
#include <memory>
#include <ostream>
#include <sys/stat.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QStringList Captions(const QTreeWidgetItem* node) {
    QStringList captions;
    for (int i = 0; i < node->childCount(); ++i)
        captions.append(node->child(i)->text(0));
    return captions;
}

TPathTreeNodeObject* PathObject(const QTreeWidgetItem* node) {
    return dynamic_cast<TPathTreeNodeObject*>(TkaTreeView::NodeObject(node));
}

bool Unread(const QTreeWidgetItem* node) {
    return TkaTreeView::NodeObject(node)->Unread();
}

bool ShowsIndicator(const QTreeWidgetItem* node) {
    return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

// The main window over a number of demo cameras in a fresh program folder,
// with scripted dialogs and a single start that never ends the test process.
class TarvikFormTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        // The single start's lock and socket stay inside the test.
        SavedRuntime = qgetenv("XDG_RUNTIME_DIR");
        ASSERT_TRUE(Runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Runtime.path()));
        // A safety net: should a test ever switch broadcasting on, it stays on loopback.
        SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
        // The Support page reads no mail accounts of the user running the tests.
        SetMailHomeDir(PathOf("home"));
        SavedLocale = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        PreviousExit = TkaApplicationEvents::SetExitFunction(
            [](int code) { throw EkaError(QStringLiteral("exit %1").arg(code)); });
    }

    void TearDown() override {
        Form.reset();
        SetCaptureBackends({});
        TkaApplicationEvents::SetExitFunction(PreviousExit);
        SetBroadcastAddress(QHostAddress(QHostAddress::Broadcast));
        SetMailHomeDir(QString());
        QLocale::setDefault(SavedLocale);
        if (SavedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", SavedRuntime);
        TempProgramDir::TearDown();
    }

    TTarvikForm& CreateForm(int cameras) {
        SetCaptureBackends({std::make_shared<TDemoCameraBackend>(cameras)});
        Form.reset(CreateLoaded<TTarvikForm>());
        Form->OpenDocument = [this](const QUrl& url, const std::function<void()>&) {
            Opened.append(url);
        };
        return *Form;
    }

    TkaTreeView* Tree() const { return Form->Tree(); }
    QTreeWidgetItem* Camera(int index) const { return Form->RootNode->child(index); }
    QTreeWidgetItem* ScenesNode(int camera) const { return Camera(camera)->child(0); }
    TSceneFrame* Scenes(int camera) const { return Form->VideoFrames().at(camera)->SceneFrame(); }

    void Picture(const QString& relative) {
        const QString path = PathOf(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    void WritePlacement(int top, int left, int height, int width, bool maximized) {
        TIniFile ini(ConfigFileName());
        ini.WriteInteger("TarvikForm", "Top", top);
        ini.WriteInteger("TarvikForm", "Left", left);
        ini.WriteInteger("TarvikForm", "Height", height);
        ini.WriteInteger("TarvikForm", "Width", width);
        ini.WriteBool("TarvikForm", "Maximized", maximized);
    }

    QTemporaryDir Runtime;
    QByteArray SavedRuntime;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TTarvikForm> Form;
    QList<QUrl> Opened;
    QLocale SavedLocale;
    TkaApplicationEvents::TExitFunction PreviousExit;
};

// ---- FormCreate ------------------------------------------------------------------

TEST_F(TarvikFormTest, WithoutCameraOnlyTheTopNodesAndTheDriverMessage) {
    CreateForm(0);
    EXPECT_EQ(Tree()->topLevelItemCount(), 3);
    EXPECT_EQ(Form->RootNode->text(0), "Tarvik");
    EXPECT_EQ(Tree()->topLevelItem(1), Form->SupportNode);
    EXPECT_EQ(Form->SupportNode->text(0), "Support");
    EXPECT_EQ(TkaTreeView::ImageIndex(Form->SupportNode), TTarvikForm::SupportImage);
    EXPECT_EQ(TkaTreeView::NodePage(Form->SupportNode), Form->FeedbackFrame);
    EXPECT_EQ(Tree()->topLevelItem(2), Form->HelpNode);
    EXPECT_EQ(Form->HelpNode->text(0), "Help");
    EXPECT_EQ(TkaTreeView::ImageIndex(Form->HelpNode), TTarvikForm::HelpImage);
    EXPECT_EQ(Form->RootNode->childCount(), 0);
    EXPECT_EQ(TkaTreeView::NodePage(Form->HelpNode), Form->RootFrame);
    EXPECT_FALSE(Form->DirExplorerFrame->kaPanel->isVisibleTo(Form.get()));
    EXPECT_TRUE(Form->FirstPlayTimer->isActive());
    EXPECT_FALSE(QDir(PathOf("Scenes")).exists());

    Form->FirstPlayTimerTimer();
    EXPECT_FALSE(Form->FirstPlayTimer->isActive());
    EXPECT_EQ(Tree()->currentItem(), Form->RootNode);
    EXPECT_EQ(Form->DirExplorerFrame->CurrentPage(), Form->RootFrame);
    EXPECT_EQ(Dialogs.Asked,
              QStringList{"Message: Cannot find a valid driver! Please install a webacam first."});
    EXPECT_TRUE(Form->DirExplorerFrame->kaPanel->isVisibleTo(Form.get()));
    // The page that opens next tells how to get a camera, and where the setting goes.
    EXPECT_TRUE(Form->RootFrame->FirstStartkaLabel->text().contains(
        "DemoCameras=1 in the section [Capture] of " + CfgIniFile()->FileName()));
}

TEST_F(TarvikFormTest, TwoCamerasGetPagesScenesNodesAndDefaultDirectories) {
    CreateForm(2);
    ASSERT_EQ(Form->VideoFrames().size(), 2);
    EXPECT_EQ(Captions(Form->RootNode), QStringList({"Demo camera 1", "Demo camera 2"}));
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        TVideoFrame* frame = Form->VideoFrames().at(i);
        EXPECT_EQ(TkaTreeView::NodePage(Camera(i)), frame);
        EXPECT_EQ(TkaTreeView::ImageIndex(Camera(i)), TTarvikForm::CameraImage);
        EXPECT_EQ(frame->VideoCap->DriverIndex(), i);
        EXPECT_FALSE(frame->VideoCap->DriverOpen());

        QTreeWidgetItem* scenes = ScenesNode(i);
        EXPECT_EQ(Captions(Camera(i)), QStringList{"Scenes"});
        EXPECT_EQ(TkaTreeView::ImageIndex(scenes), TTarvikForm::ScenesImage);
        EXPECT_EQ(TkaTreeView::NodePage(scenes), frame->SceneFrame());
        EXPECT_EQ(frame->SceneFrame()->SceneNode(), scenes);
        const QString sceneDir = PathOf("Scenes/" + QString::number(i));
        EXPECT_EQ(frame->SceneFrame()->SceneDir(), sceneDir);
        EXPECT_TRUE(QFileInfo(sceneDir).isDir());
        ASSERT_NE(PathObject(scenes), nullptr);
        EXPECT_EQ(PathObject(scenes)->Path(), sceneDir);
        EXPECT_FALSE(PathObject(scenes)->Deletable());
        // A first start: nothing recorded, so nothing to expand.
        EXPECT_FALSE(scenes->isExpanded());
        EXPECT_FALSE(ShowsIndicator(scenes));
    }
    // Only the camera of index 0 is started, on its mask page.
    EXPECT_EQ(Form->FirstVideoFrame, Form->VideoFrames().at(0));
    EXPECT_EQ(Form->FirstCameraNode, Camera(0));
    EXPECT_EQ(Form->VideoFrames().at(0)->kaPageControl->currentIndex(), 1);
    EXPECT_EQ(Form->VideoFrames().at(1)->kaPageControl->currentIndex(), 0);
}

// Errors reported through the error box.
QStringList Errors(const QStringList& asked) {
    return asked.filter(QRegularExpression("^Error: "));
}

TEST_F(TarvikFormTest, AFailingSceneFolderIsReportedAndEveryCameraStillStarts) {
    // The first camera's folder is a file; the second camera's is fine.
    Picture("Scenes/0");
    CreateForm(2);
    ASSERT_EQ(Form->VideoFrames().size(), 2);
    const QStringList errors = Errors(Dialogs.Asked);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains("Error creating Directory " + PathOf("Scenes/0")));
    EXPECT_EQ(Scenes(1)->SceneDir(), PathOf("Scenes/1"));
    EXPECT_EQ(Scenes(1)->SceneNode(), ScenesNode(1));
    EXPECT_TRUE(Form->FirstPlayTimer->isActive());

    // The camera without a folder still shows its pictures.
    Form->show();
    Form->FirstPlayTimerTimer();
    EXPECT_TRUE(Form->VideoFrames().at(0)->CaptureTimer->isActive());
    EXPECT_TRUE(Form->DirExplorerFrame->kaPanel->isVisible());
}

TEST_F(TarvikFormTest, OneCauseFailingEveryCameraIsReportedOnceAndTheCamerasStillRun) {
    // Without a "Scenes" folder no camera can record.
    Picture("Scenes");
    CreateForm(2);
    ASSERT_EQ(Form->VideoFrames().size(), 2);
    const QStringList errors = Errors(Dialogs.Asked);
    ASSERT_EQ(errors.size(), 1) << errors.join("\n").toStdString();
    EXPECT_TRUE(errors.first().contains("Error creating Directory " + PathOf("Scenes")));
    EXPECT_EQ(Captions(Form->RootNode), QStringList({"Demo camera 1", "Demo camera 2"}));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Form->VideoFrames().at(i)->VideoCap->DriverIndex(), i);

    Form->show();
    Form->FirstPlayTimerTimer();
    TVideoFrame* first = Form->VideoFrames().at(0);
    EXPECT_TRUE(first->CaptureTimer->isActive());
    first->CaptureTimerTimer();
    EXPECT_TRUE(first->CaptureTimer->isActive()) << "capture goes on without recordings";
    EXPECT_EQ(Errors(Dialogs.Asked).size(), 1);
}

TEST_F(TarvikFormTest, AReadOnlyConfigurationIsReportedOnceAndEveryCameraRecords) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start the form as another user";
    // The form starts as "nobody" in a program folder it may write, all but "Cfg".
    ConfigFileName(); // creates "Cfg"
    ASSERT_EQ(chmod(qPrintable(Folder.path()), 0777), 0);
    ASSERT_EQ(chmod(qPrintable(PathOf("Cfg")), 0555), 0);
    OpenPathForEverybody(qPrintable(Folder.path()));
    ASSERT_EQ(chown(qPrintable(Runtime.path()), 65534, 65534), 0);
    {
        const UnprivilegedScope nobody;
        CreateForm(2);
    }
    chmod(qPrintable(PathOf("Cfg")), 0755);
    const QStringList errors = Errors(Dialogs.Asked);
    ASSERT_EQ(errors.size(), 1) << errors.join("\n").toStdString();
    EXPECT_TRUE(errors.first().contains("Error writing File")) << errors.first().toStdString();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QString sceneDir = PathOf("Scenes/" + QString::number(i));
        EXPECT_EQ(Scenes(i)->SceneDir(), sceneDir);
        EXPECT_EQ(Scenes(i)->kaSceneMaker->SceneDir(), sceneDir) << "pictures go there";
        EXPECT_EQ(PathObject(ScenesNode(i))->Path(), sceneDir);
    }
    EXPECT_EQ(Form->FirstVideoFrame, Form->VideoFrames().at(0));
}

TEST_F(TarvikFormTest, StoredSceneDirectoryWithDaysIsExpanded) {
    Picture("Scenes/0/20041231/100000000/20041231100000000.jpg");
    CreateForm(1);
    QTreeWidgetItem* scenes = ScenesNode(0);
    EXPECT_TRUE(scenes->isExpanded());
    EXPECT_EQ(Captions(scenes), QStringList{"12/31/04 Fri"});
}

TEST_F(TarvikFormTest, FirstPlayStartsOnlyTheFirstCameraBesideTheWindow) {
    CreateForm(2);
    Form->show();
    Form->FirstPlayTimerTimer();
    TVideoFrame* first = Form->VideoFrames().at(0);
    EXPECT_TRUE(first->VideoCap->DriverOpen());
    EXPECT_TRUE(first->CaptureTimer->isActive());
    EXPECT_FALSE(Form->VideoFrames().at(1)->VideoCap->DriverOpen());
    EXPECT_EQ(Tree()->currentItem(), Camera(0));
    EXPECT_EQ(Form->DirExplorerFrame->CurrentPage(), first);
    EXPECT_TRUE(first->SetupForm()->isVisible());
    EXPECT_EQ(Form->FirstVideoFrame, nullptr);
    EXPECT_TRUE(Form->DirExplorerFrame->kaPanel->isVisible());
    EXPECT_TRUE(Dialogs.Asked.isEmpty());

    // Beside the main window, or ending at the screen's right edge below the
    // main window's title bar.
    const QRect setup = first->SetupForm()->frameGeometry();
    const int screenRight = Form->screen()->availableGeometry().right();
    const bool beside = Form->frameGeometry().right() + setup.width() <= screenRight;
    EXPECT_EQ(setup.top(), beside ? Form->frameGeometry().top() : Form->geometry().top());
    EXPECT_EQ(setup.left(),
              std::min(Form->frameGeometry().right() + 1, screenRight - setup.width() + 1));
}

// ---- New scenes --------------------------------------------------------------------

TEST_F(TarvikFormTest, NewSceneWhileScenesNodeCollapsedOnlyRemembersIt) {
    CreateForm(1);
    QTreeWidgetItem* scenes = ScenesNode(0);
    Picture("Scenes/0/20041231/120000000/20041231120000000.jpg");
    Form->OnNewScene(Scenes(0), "20041231/120000000");

    EXPECT_EQ(scenes->childCount(), 0);
    EXPECT_EQ(PathObject(scenes)->UnreadNames(), QStringList{"12/31/04 Fri\\12:00:00.000"});
    EXPECT_TRUE(ShowsIndicator(scenes));
    EXPECT_TRUE(Unread(scenes));

    // Expanding shows the new day and scene as unread.
    scenes->setExpanded(true);
    ASSERT_EQ(Captions(scenes), QStringList{"12/31/04 Fri"});
    QTreeWidgetItem* day = scenes->child(0);
    EXPECT_TRUE(Unread(day));
    day->setExpanded(true);
    ASSERT_EQ(Captions(day), QStringList{"12:00:00.000"});
    EXPECT_TRUE(Unread(day->child(0)));
}

TEST_F(TarvikFormTest, NewSceneWhileExpandedInsertsDayAndSceneOnTop) {
    Picture("Scenes/0/20041230/080000000/20041230080000000.jpg");
    CreateForm(1);
    QTreeWidgetItem* scenes = ScenesNode(0);
    ASSERT_TRUE(scenes->isExpanded());

    // A new day while its scenes node is open: a collapsed day on top.
    Picture("Scenes/0/20041231/100000000/20041231100000000.jpg");
    Form->OnNewScene(Scenes(0), "20041231/100000000");
    ASSERT_EQ(Captions(scenes), QStringList({"12/31/04 Fri", "12/30/04 Thu"}));
    QTreeWidgetItem* day = scenes->child(0);
    EXPECT_EQ(PathObject(day)->Path(), PathOf("Scenes/0/20041231"));
    EXPECT_TRUE(Unread(day));
    EXPECT_FALSE(Unread(scenes->child(1)));
    EXPECT_TRUE(ShowsIndicator(day));
    EXPECT_EQ(PathObject(day)->UnreadNames(), QStringList{"10:00:00.000"});
    EXPECT_EQ(TkaTreeView::NodePage(day), Form->DirExplorerFrame->ThumbnailPage);

    // A new scene of the open day: the scene node on top, unread.
    day->setExpanded(true);
    Picture("Scenes/0/20041231/120000000/20041231120000000.jpg");
    Form->OnNewScene(Scenes(0), "20041231/120000000");
    ASSERT_EQ(Captions(day), QStringList({"12:00:00.000", "10:00:00.000"}));
    QTreeWidgetItem* scene = day->child(0);
    EXPECT_TRUE(Unread(scene));
    EXPECT_TRUE(Unread(day->child(1)));
    EXPECT_EQ(TkaTreeView::ImageIndex(scene), TTarvikForm::SceneImage);
    EXPECT_EQ(PathObject(scene)->Path(), PathOf("Scenes/0/20041231/120000000"));
    EXPECT_TRUE(ShowsIndicator(scene));
    EXPECT_TRUE(Unread(scenes));
    EXPECT_EQ(TkaTreeView::NodePage(scene), Form->DirExplorerFrame->PlayerPage);
}

TEST_F(TarvikFormTest, ANewSceneOfTheDayOnShowJoinsItsThumbnails) {
    Picture("Scenes/0/20041231/100000000/20041231100000000.jpg");
    CreateForm(1);
    // No camera starts: the day stays on show.
    Form->FirstPlayTimer->stop();
    Form->DirExplorerFrame->kaPanel->show();
    Form->resize(900, 600);
    Form->show();
    QTreeWidgetItem* day = ScenesNode(0)->child(0);
    Tree()->setCurrentItem(day);
    Form->DirExplorerFrame->NodeSelected(day);
    TThumbNailFrame* page = Form->DirExplorerFrame->ThumbnailPage;
    ASSERT_EQ(Form->DirExplorerFrame->CurrentPage(), page);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->ThumbKeys().size() == 1; }, 2000));
    // Settled: the first paint sizes the paint box and paints again.
    QTest::qWait(100);

    Picture("Scenes/0/20041231/120000000/20041231120000000.jpg");
    Form->OnNewScene(Scenes(0), "20041231/120000000");
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->ThumbKeys().size() == 2; }, 2000));
    EXPECT_EQ(page->ThumbKeys().last(), PathOf("Scenes/0/20041231/120000000"));
}

TEST_F(TarvikFormTest, NewSceneAppliesTheRetentionRules) {
    Picture("Scenes/0/20041231/080000000/20041231080000000.jpg");
    Picture("Scenes/0/20041231/080000000/20041231080000500.jpg");
    Picture("Scenes/0/20041231/090000000/20041231090000000.jpg");
    Picture("Scenes/0/20041231/090000000/20041231090000500.jpg");
    Picture("Scenes/0/20041231/100000000/20041231100000000.jpg");
    CreateForm(1);
    TSceneFrame* frame = Scenes(0);
    frame->MaxSceneskaTrackbarFrame->TrackBar->SetPosition(2);
    frame->MinPicsPerScenekaTrackbarFrame->TrackBar->SetPosition(2);
    QTreeWidgetItem* day = ScenesNode(0)->child(0);
    day->setExpanded(true);
    ASSERT_EQ(day->childCount(), 3);

    Picture("Scenes/0/20041231/110000000/20041231110000000.jpg");
    Form->OnNewScene(frame, "20041231/110000000");
    // The 10:00 scene was too small; the oldest went for the day's limit.
    EXPECT_EQ(Captions(day), QStringList({"11:00:00.000", "09:00:00.000"}));
    ASSERT_TRUE(WaitForDeletions(*Form->DirExplorerFrame->SceneDeleter()));
    EXPECT_FALSE(QDir(PathOf("Scenes/0/20041231/100000000")).exists());
    EXPECT_FALSE(QDir(PathOf("Scenes/0/20041231/080000000")).exists());
    EXPECT_TRUE(QDir(PathOf("Scenes/0/20041231/090000000")).exists());
    EXPECT_TRUE(QDir(PathOf("Scenes/0/20041231/110000000")).exists());
}

TEST_F(TarvikFormTest, MalformedScenePathsRaiseAndLeaveTheTree) {
    CreateForm(1);
    QTreeWidgetItem* scenes = ScenesNode(0);
    try {
        Form->OnNewScene(Scenes(0), "20041231");
        ADD_FAILURE() << "no error";
    } catch (const EkaError& error) {
        EXPECT_EQ(error.message(), "TTarvikForm.OnNewScene: Wrong Path: 20041231");
    }
    try {
        Form->OnNewScene(Scenes(0), "/120000000");
        ADD_FAILURE() << "no error";
    } catch (const EkaError& error) {
        EXPECT_EQ(error.message(), "sDayPath=''");
    }
    // Not a scene frame: nothing at all.
    Form->OnNewScene(Form->VideoFrames().at(0), "20041231/120000000");
    EXPECT_TRUE(PathObject(scenes)->UnreadNames().isEmpty());
    EXPECT_FALSE(Unread(scenes));
    EXPECT_FALSE(ShowsIndicator(scenes));
}

// ---- Placement, showing and closing ------------------------------------------------

TEST_F(TarvikFormTest, StoredPlacementIsApplied) {
    WritePlacement(40, 30, 300, 400, false);
    CreateForm(0);
    EXPECT_EQ(Form->geometry(), QRect(30, 40, 400, 300));
    EXPECT_FALSE(Form->windowState().testFlag(Qt::WindowMaximized));
}

TEST_F(TarvikFormTest, DefaultPlacementWithoutSettingsAndDamagedSize) {
    CreateForm(0);
    const QSize designed = TTarvikForm::DefaultSize(Form->font());
    EXPECT_EQ(Form->size(), designed);
    EXPECT_GE(designed.width(), TTarvikForm::InitialWidth);
    EXPECT_GE(designed.height(), TTarvikForm::InitialHeight);
    Form.reset();
    WritePlacement(40, 30, -32768, 0, false);
    CreateForm(0);
    EXPECT_EQ(Form->size(), designed);
}

TEST_F(TarvikFormTest, BeendenStopsCamerasStoresPlacementAndEnds) {
    CreateForm(2);
    Form->setGeometry(50, 60, 500, 350);
    Form->show();
    Form->FirstPlayTimerTimer();
    Form->VideoFrames().at(1)->PlayActionExecute();
    int terminated = 0;
    QObject::connect(Form.get(), &TTarvikForm::Terminated, [&terminated] { ++terminated; });

    Form->CloseAction->trigger();
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(Form->isVisible());
    for (TVideoFrame* frame : Form->VideoFrames()) {
        EXPECT_FALSE(frame->VideoCap->DriverOpen());
        EXPECT_FALSE(frame->CaptureTimer->isActive());
    }
    const TIniFile ini(ConfigFileName());
    EXPECT_EQ(ini.ReadInteger("TarvikForm", "Top", 0), 60);
    EXPECT_EQ(ini.ReadInteger("TarvikForm", "Left", 0), 50);
    EXPECT_EQ(ini.ReadInteger("TarvikForm", "Height", 0), 350);
    EXPECT_EQ(ini.ReadInteger("TarvikForm", "Width", 0), 500);
    EXPECT_FALSE(ini.ReadBool("TarvikForm", "Maximized", true));
    EXPECT_FALSE(ini.ReadBool("TarvikForm", "Minimized", true));
}

TEST_F(TarvikFormTest, BeendenAsksForEveryModifiedMaskAndCancelKeepsTheProgramRunning) {
    CreateForm(3);
    Form->show();
    Form->FirstPlayTimerTimer();
    int terminated = 0;
    QObject::connect(Form.get(), &TTarvikForm::Terminated, [&terminated] { ++terminated; });
    Form->VideoFrames().at(0)->MaskClearActionExecute();
    Form->VideoFrames().at(2)->MaskClearActionExecute();

    // The second question is cancelled: the program goes on, cameras running.
    Dialogs.ConfirmAnswers << TDialogAnswer::No << TDialogAnswer::Cancel;
    Form->CloseAction->trigger();
    EXPECT_EQ(Dialogs.Asked, QStringList({"Confirm: unknown.msk is modified! Save?",
                                          "Confirm: unknown.msk is modified! Save?"}));
    EXPECT_EQ(terminated, 0);
    EXPECT_TRUE(Form->VideoFrames().at(0)->VideoCap->DriverOpen());

    Dialogs.ConfirmAnswers << TDialogAnswer::No << TDialogAnswer::No;
    Form->CloseAction->trigger();
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(Form->VideoFrames().at(0)->VideoCap->DriverOpen());
}

TEST_F(TarvikFormTest, MaximisedWindowStoresNormalPlacementAndComesBackMaximised) {
    CreateForm(0);
    Form->setGeometry(50, 60, 500, 350);
    Form->show();
    Form->showMaximized();
    Form->CloseAction->trigger();
    const TIniFile ini(ConfigFileName());
    EXPECT_TRUE(ini.ReadBool("TarvikForm", "Maximized", false));
    EXPECT_EQ(ini.ReadInteger("TarvikForm", "Width", 0), 500);
    EXPECT_EQ(ini.ReadInteger("TarvikForm", "Height", 0), 350);

    Form.reset();
    CreateForm(0);
    EXPECT_TRUE(Form->windowState().testFlag(Qt::WindowMaximized));
    EXPECT_EQ(Form->normalGeometry().size(), QSize(500, 350));
}

TEST_F(TarvikFormTest, CloseBoxOnlyPutsTheWindowAway) {
    CreateForm(1);
    Form->show();
    Form->FirstPlayTimerTimer();
    int terminated = 0;
    QObject::connect(Form.get(), &TTarvikForm::Terminated, [&terminated] { ++terminated; });
    EXPECT_FALSE(Form->close());
    EXPECT_EQ(terminated, 0);
    // Hidden to the tray, or minimised where the desktop has none.
    EXPECT_TRUE(!Form->isVisible() || Form->isMinimized());
    EXPECT_TRUE(Form->VideoFrames().at(0)->VideoCap->DriverOpen());
    EXPECT_FALSE(TIniFile(ConfigFileName()).ValueExists("TarvikForm", "Top"));
}

TEST_F(TarvikFormTest, HidingDropsThePageAndShowingBringsItBack) {
    CreateForm(1);
    Form->show();
    Form->FirstPlayTimerTimer();
    TVideoFrame* camera = Form->VideoFrames().at(0);
    Form->hide();
    EXPECT_EQ(Form->DirExplorerFrame->CurrentPage(), nullptr);
    EXPECT_FALSE(camera->SetupForm()->isVisible());
    Form->ShowAction->trigger();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->DirExplorerFrame->CurrentPage(), camera);
    EXPECT_TRUE(camera->SetupForm()->isVisible());
}

TEST_F(TarvikFormTest, EndOfSessionRemovesTrayIconAndEndsLikeBeenden) {
    CreateForm(1);
    Form->show();
    Form->FirstPlayTimerTimer();
    int terminated = 0;
    QObject::connect(Form.get(), &TTarvikForm::Terminated, [&terminated] { ++terminated; });
    Form->WMQueryEndSession();
    EXPECT_EQ(Form->TrayIcon, nullptr);
    EXPECT_TRUE(Form->QuitRequested());
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(Form->VideoFrames().at(0)->VideoCap->DriverOpen());
    EXPECT_TRUE(TIniFile(ConfigFileName()).ValueExists("TarvikForm", "Width"));
}

TEST_F(TarvikFormTest, EndingWithAConfigurationThatCannotBeWrittenReportsAndStillEnds) {
    CreateForm(1);
    Form->show();
    Form->FirstPlayTimerTimer();
    int terminated = 0;
    QObject::connect(Form.get(), &TTarvikForm::Terminated, [&terminated] { ++terminated; });
    const QString cfg = PathOf("Cfg");
    OpenPathForEverybody(qPrintable(cfg));
    ASSERT_EQ(chmod(qPrintable(cfg), 0555), 0);
    {
        const UnprivilegedScope nobody;
        Form->CloseAction->trigger();
    }
    chmod(qPrintable(cfg), 0755);
    EXPECT_EQ(terminated, 1) << "the program must end";
    EXPECT_FALSE(Form->VideoFrames().at(0)->VideoCap->DriverOpen());
    const QStringList errors = Errors(Dialogs.Asked);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains("Error writing File")) << errors.first().toStdString();
}

TEST_F(TarvikFormTest, TheEndOfTheSessionAsksTheCloseQueryOnce) {
    for (const bool shown : {true, false}) {
        SCOPED_TRACE(shown);
        Form.reset(); // the single start lets one form run at a time
        CreateForm(1);
        if (shown)
            Form->show();
        int queried = 0;
        int terminated = 0;
        QObject::connect(Form.get(), &TTarvikForm::CloseQueryRun, [&queried] { ++queried; });
        QObject::connect(Form.get(), &TTarvikForm::Terminated, [&terminated] { ++terminated; });
        Form->WMQueryEndSession();
        Form->WMQueryEndSession();
        EXPECT_EQ(queried, 1);
        EXPECT_EQ(terminated, 1);
    }
}

TEST_F(TarvikFormTest, HelpNodeOpensTheHelpDocument) {
    CreateForm(0);
    Form->DirExplorerFramekaTreeViewClick(Form->RootNode);
    EXPECT_TRUE(Opened.isEmpty());
    Form->DirExplorerFramekaTreeViewClick(Form->HelpNode);
    ASSERT_EQ(Opened.size(), 1);
    EXPECT_EQ(Opened.at(0), QUrl::fromLocalFile(PathOf("Help/doc_e.htm")));
    EXPECT_EQ(Form->DirExplorerFrame->CurrentPage(), Form->RootFrame);
    EXPECT_EQ(TTarvikForm::HelpFileName("german"), PathOf("Help/doc_g.htm"));
    EXPECT_EQ(TTarvikForm::HelpFileName("english"), PathOf("Help/doc_e.htm"));
    EXPECT_TRUE(Dialogs.Asked.isEmpty());
}

} // namespace

// ---- Unattended ------------------------------------------------------------------

namespace {

// A start of the main window over Backends, after the form before it ended.
void Start(std::unique_ptr<TTarvikForm>& form, TCaptureBackendList backends) {
    form.reset();
    SetCaptureBackends(std::move(backends));
    form.reset(CreateLoaded<TTarvikForm>());
    RestoreRemanentControls(); // as the window's first showing does
}

} // namespace

TEST_F(TarvikFormTest, ACameraAddedInFrontTakesNoOtherCamerasSettings) {
    auto Test = std::make_shared<TTestCameraScript>();
    Start(Form, {std::make_shared<TDemoCameraBackend>(1)});
    Form->VideoFrames().at(0)->SourcekaEdit->setText("Garden");
    // Another camera comes before the demo camera in the list of devices.
    Start(Form,
          {std::make_shared<TTestCameraBackend>(Test), std::make_shared<TDemoCameraBackend>(1)});
    TVideoFrame* added = Form->VideoFrames().at(0);
    TVideoFrame* demo = Form->VideoFrames().at(1);
    EXPECT_EQ(added->Description(), "Test camera") << "pages keep the order of the devices";
    EXPECT_EQ(demo->objectName(), "VideoFrame1");
    EXPECT_EQ(added->objectName(), "VideoFrame2");
    EXPECT_EQ(demo->SceneFrame()->SceneDir(), PathOf("Scenes/0"));
    EXPECT_EQ(added->SceneFrame()->SceneDir(), PathOf("Scenes/1"));
    EXPECT_EQ(demo->SourcekaEdit->text(), "Garden");
    EXPECT_EQ(added->SourcekaEdit->text(), "MyCam2") << "two cameras never share a name";
}

TEST_F(TarvikFormTest, AStoredSceneFolderRecordsWithAConfigurationThatCannotBeWritten) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start the form as another user";
    Start(Form, {std::make_shared<TDemoCameraBackend>(2)}); // the configuration of an earlier run
    Form.reset();
    for (const char* folder : {"", "Scenes/0", "Scenes/1"})
        ASSERT_EQ(chmod(qPrintable(PathOf(folder)), 0777), 0) << folder;
    ASSERT_EQ(chmod(qPrintable(PathOf("Cfg")), 0555), 0);
    OpenPathForEverybody(qPrintable(Folder.path()));
    ASSERT_EQ(chown(qPrintable(Runtime.path()), 65534, 65534), 0);
    QImage bitmap(32, 32, QImage::Format_BGR888);
    bitmap.fill(Qt::green);
    TJPEGImage picture;
    picture.Assign(bitmap);
    picture.Compress();
    {
        const UnprivilegedScope nobody;
        Start(Form, {std::make_shared<TDemoCameraBackend>(2)});
        for (int i = 0; i < 2; ++i) {
            TSceneFrame* scenes = Form->VideoFrames().at(i)->SceneFrame();
            ASSERT_NE(scenes, nullptr) << i;
            EXPECT_TRUE(scenes->GuardDiskSpace() && !scenes->AddPicture(picture).isEmpty()) << i;
        }
    }
    chmod(qPrintable(PathOf("Cfg")), 0755);
}

TEST_F(TarvikFormTest, TheEndBySignalSavesModifiedMasksWithoutAQuestion) {
    Start(Form, {std::make_shared<TDemoCameraBackend>(2)});
    Form->VideoFrames().at(0)->LoadMask(PathOf("Mask/door.msk"));
    Form->VideoFrames().at(0)->MaskClearActionExecute();
    Form->VideoFrames().at(1)->MaskClearActionExecute();
    Form->EndUnattended();
    EXPECT_TRUE(Dialogs.Asked.isEmpty()) << Dialogs.Asked.join("\n").toStdString();
    EXPECT_TRUE(QFileInfo::exists(PathOf("Mask/door.msk")));
    EXPECT_TRUE(QFileInfo::exists(PathOf("Mask/unsaved-2.msk")));
    EXPECT_EQ(Form->kaApplicationEvents1->ErrorLog().filter("The modified mask of").size(), 2);
}

TEST_F(TarvikFormTest, AHangingStreamNamesTheCameraInTheTrayAndTheErrorLog) {
    auto Test = std::make_shared<TTestCameraScript>();
    double time = 45000.5;
    SetClock([&time] { return time; });
    const auto realClock = qScopeGuard([] { SetClock({}); });
    Start(Form, {std::make_shared<TTestCameraBackend>(Test)});
    Form->VideoFrames().at(0)->PlayActionExecute();
    Form->VideoFrames().at(0)->CaptureTimerTimer();
    Test->NoNewFrames = true;
    time += 6.0 / (24 * 60 * 60);
    Form->VideoFrames().at(0)->CaptureTimerTimer();
    EXPECT_TRUE(Form->TrayIcon->ToolTip().startsWith(
        "Tarvik\r\nTest camera: No pictures from the camera since"))
        << Form->TrayIcon->ToolTip().toStdString();
    EXPECT_EQ(Form->kaApplicationEvents1->ErrorLog()
                  .filter("Test camera: No pictures from the camera since")
                  .size(),
              1);
    Test->NoNewFrames = false;
    Form->VideoFrames().at(0)->CaptureTimerTimer();
    EXPECT_EQ(Form->TrayIcon->ToolTip(), "Tarvik");
}
