#include "../capture/TestCamera.h"
#include "DemoCameraBackend.h"
#include "EkaError.h"
#include "FTarvik.h"
#include "MailAccounts.h"
#include "ScriptedDialogs.h"
#include "TJPEGImage.h"
#include "TempProgramDir.h"
#include "TrayIcon.h"
#include "UnprivilegedScope.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaApplicationEvents.h"
#include "kaEdit.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <sys/stat.h>

// The main window in a fresh program folder, started and ended as a machine
// runs it unattended.
class UnattendedFormTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        ASSERT_TRUE(Runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Runtime.path()));
        SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
        SetMailHomeDir(PathOf("home"));
        PreviousExit = TkaApplicationEvents::SetExitFunction(
            [](int code) { throw EkaError(QStringLiteral("exit %1").arg(code)); });
    }
    void TearDown() override {
        Form.reset();
        SetClock({});
        SetCaptureBackends({});
        TkaApplicationEvents::SetExitFunction(PreviousExit);
        SetBroadcastAddress(QHostAddress(QHostAddress::Broadcast));
        SetMailHomeDir(QString());
        qunsetenv("XDG_RUNTIME_DIR");
        TempProgramDir::TearDown();
    }
    void Start(TCaptureBackendList backends) {
        Form.reset();
        SetCaptureBackends(std::move(backends));
        Form.reset(CreateLoaded<TTarvikForm>());
        RestoreRemanentControls(); // as the window's first showing does
    }
    TVideoFrame* Page(int index) const { return Form->VideoFrames().at(index); }
    int LogRows(const QString& text) const {
        return int(Form->kaApplicationEvents1->ErrorLog().filter(text).size());
    }

    QTemporaryDir Runtime;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TTarvikForm> Form;
    std::shared_ptr<TTestCameraScript> Camera = std::make_shared<TTestCameraScript>();
    TkaApplicationEvents::TExitFunction PreviousExit;
};

TEST_F(UnattendedFormTest, ACameraAddedInFrontTakesNoOtherCamerasSettings) {
    Start({std::make_shared<TDemoCameraBackend>(1)});
    Page(0)->SourcekaEdit->setText("Garden");
    // Another camera comes before the demo camera in the list of devices.
    Start({std::make_shared<TTestCameraBackend>(Camera), std::make_shared<TDemoCameraBackend>(1)});
    TVideoFrame* added = Page(0);
    TVideoFrame* demo = Page(1);
    EXPECT_EQ(added->Description(), "Test camera") << "pages keep the order of the devices";
    EXPECT_EQ(demo->objectName(), "VideoFrame1");
    EXPECT_EQ(added->objectName(), "VideoFrame2");
    EXPECT_EQ(demo->SceneFrame()->SceneDir(), PathOf("Scenes/0"));
    EXPECT_EQ(added->SceneFrame()->SceneDir(), PathOf("Scenes/1"));
    EXPECT_EQ(demo->SourcekaEdit->text(), "Garden");
    EXPECT_EQ(added->SourcekaEdit->text(), "MyCam2") << "two cameras never share a name";
}

TEST_F(UnattendedFormTest, AStoredSceneFolderRecordsWithAConfigurationThatCannotBeWritten) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start the form as another user";
    Start({std::make_shared<TDemoCameraBackend>(2)}); // the configuration of an earlier run
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
        Start({std::make_shared<TDemoCameraBackend>(2)});
        for (int i = 0; i < 2; ++i) {
            TSceneFrame* scenes = Page(i)->SceneFrame();
            ASSERT_NE(scenes, nullptr) << i;
            EXPECT_TRUE(scenes->GuardDiskSpace() && !scenes->AddPicture(picture).isEmpty()) << i;
        }
    }
    chmod(qPrintable(PathOf("Cfg")), 0755);
}

TEST_F(UnattendedFormTest, TheEndBySignalSavesModifiedMasksWithoutAQuestion) {
    Start({std::make_shared<TDemoCameraBackend>(2)});
    Page(0)->LoadMask(PathOf("Mask/door.msk"));
    Page(0)->MaskClearActionExecute();
    Page(1)->MaskClearActionExecute();
    Form->EndUnattended();
    EXPECT_TRUE(Dialogs.Asked.isEmpty()) << Dialogs.Asked.join("\n").toStdString();
    EXPECT_TRUE(QFileInfo::exists(PathOf("Mask/door.msk")));
    EXPECT_TRUE(QFileInfo::exists(PathOf("Mask/unsaved-2.msk")));
    EXPECT_EQ(LogRows("The modified mask of"), 2);
}

TEST_F(UnattendedFormTest, AHangingStreamNamesTheCameraInTheTrayAndTheErrorLog) {
    double time = 45000.5;
    SetClock([&time] { return time; });
    Start({std::make_shared<TTestCameraBackend>(Camera)});
    Page(0)->PlayActionExecute();
    Page(0)->CaptureTimerTimer();
    Camera->NoNewFrames = true;
    time += 6.0 / (24 * 60 * 60);
    Page(0)->CaptureTimerTimer();
    EXPECT_TRUE(Form->TrayIcon->ToolTip().startsWith(
        "Tarvik\r\nTest camera: No pictures from the camera since"))
        << Form->TrayIcon->ToolTip().toStdString();
    EXPECT_EQ(LogRows("Test camera: No pictures from the camera since"), 1);
    Camera->NoNewFrames = false;
    Page(0)->CaptureTimerTimer();
    EXPECT_EQ(Form->TrayIcon->ToolTip(), "Tarvik");
}
