#include "ApplicationErrors.h"
#include "DemoCameraBackend.h"
#include "EkaError.h"
#include "FTarvik.h"
#include "MailAccounts.h"
#include "ScriptedDialogs.h"
#include "TIniFile.h"
#include "TJPEGImage.h"
#include "TempProgramDir.h"
#include "TrayIcon.h"
#include "UnprivilegedScope.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaApplicationEvents.h"
#include "kaEdit.h"
#include "kaSceneMaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <sys/stat.h>

namespace {

// Demo cameras under another kind and name, as a network camera is listed.
class TRenamedBackend final : public TCaptureBackend {
public:
    explicit TRenamedBackend(QString name) : Name(std::move(name)) {}
    int DeviceCount() override { return 1; }
    QString Description(int index) override { return index == 0 ? Name : QString(); }
    QString Version(int index) override { return Demo.Version(index); }
    QString Identity(int index) override { return index == 0 ? "network:" + Name : QString(); }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override {
        return Demo.CreateDevice(index);
    }

private:
    QString Name;
    TDemoCameraBackend Demo{1};
};

// A demo camera whose stream can be made to hang: grabs then bring nothing new.
class THangingBackend final : public TCaptureBackend {
public:
    std::shared_ptr<bool> Hangs = std::make_shared<bool>(false);
    int DeviceCount() override { return 1; }
    QString Description(int index) override { return Demo.Description(index); }
    QString Version(int index) override { return Demo.Version(index); }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override;

private:
    TDemoCameraBackend Demo{1};
};

class THangingDevice final : public TCaptureDevice {
public:
    THangingDevice(std::unique_ptr<TCaptureDevice> device, std::shared_ptr<bool> hangs)
        : D(std::move(device)), Hangs(std::move(hangs)) {}
    bool Open() override { return D->Open(); }
    void Close() override { D->Close(); }
    bool IsOpen() const override { return D->IsOpen(); }
    TCaptureFormat Format() const override { return D->Format(); }
    bool SetFormat(const TCaptureFormat& format) override { return D->SetFormat(format); }
    QList<QSize> FrameSizes() override { return D->FrameSizes(); }
    QStringList PixelFormats() override { return D->PixelFormats(); }
    QList<TCaptureControl> Controls() override { return D->Controls(); }
    bool SetControl(std::uint32_t id, int value) override { return D->SetControl(id, value); }
    bool StartStreaming() override { return D->StartStreaming(); }
    void StopStreaming() override { D->StopStreaming(); }
    bool IsStreaming() const override { return D->IsStreaming(); }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override {
        if (!*Hangs)
            return D->GrabFrame(frame);
        frame.clear();
        return true;
    }
    TCaptureCaps Caps() override { return D->Caps(); }
    QString ErrorText() const override { return D->ErrorText(); }

private:
    std::unique_ptr<TCaptureDevice> D;
    std::shared_ptr<bool> Hangs;
};

std::unique_ptr<TCaptureDevice> THangingBackend::CreateDevice(int index) {
    std::unique_ptr<TCaptureDevice> device = Demo.CreateDevice(index);
    return device ? std::make_unique<THangingDevice>(std::move(device), Hangs) : nullptr;
}

// The main window in a fresh program folder, started, ended and started
// again, as a machine runs it unattended.
class UnattendedFormTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SavedRuntime = qgetenv("XDG_RUNTIME_DIR");
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
        if (SavedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", SavedRuntime);
        TempProgramDir::TearDown();
    }

    void Start(TCaptureBackendList backends) {
        Form.reset();
        SetCaptureBackends(std::move(backends));
        Form.reset(CreateLoaded<TTarvikForm>());
        // As the window's first showing does.
        RestoreRemanentControls();
    }
    TVideoFrame* Page(int index) const { return Form->VideoFrames().at(index); }

    int LogRows(const QString& text) const {
        int rows = 0;
        for (const QString& row : Form->kaApplicationEvents1->ErrorLog())
            rows += row.contains(text) ? 1 : 0;
        return rows;
    }

    QTemporaryDir Runtime;
    QByteArray SavedRuntime;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TTarvikForm> Form;
    TkaApplicationEvents::TExitFunction PreviousExit;
};

} // namespace

TEST_F(UnattendedFormTest, ACameraAddedInFrontTakesNoOtherCamerasSettings) {
    Start({std::make_shared<TDemoCameraBackend>(1)});
    Page(0)->SourcekaEdit->setText("Garden");
    Form.reset(); // remanent texts are written as the pages go

    // A network camera comes before the demo camera in the list of devices.
    Start({std::make_shared<TRenamedBackend>("Door"), std::make_shared<TDemoCameraBackend>(1)});
    ASSERT_EQ(Form->VideoFrames().size(), 2);
    TVideoFrame* door = Page(0);
    TVideoFrame* demo = Page(1);
    EXPECT_EQ(door->Description(), "Door") << "pages keep the order of the devices";
    EXPECT_EQ(demo->objectName(), "VideoFrame1");
    EXPECT_EQ(door->objectName(), "VideoFrame2");
    EXPECT_EQ(demo->SceneFrame()->SceneDir(), PathOf("Scenes/0"));
    EXPECT_EQ(door->SceneFrame()->SceneDir(), PathOf("Scenes/1"));
    EXPECT_EQ(demo->SourcekaEdit->text(), "Garden");
    EXPECT_EQ(door->SourcekaEdit->text(), "MyCam2") << "two cameras never share a name";

    // Without the demo camera its number stays free for it.
    Start({std::make_shared<TRenamedBackend>("Door"), std::make_shared<TRenamedBackend>("Gate")});
    EXPECT_EQ(Page(0)->objectName(), "VideoFrame2");
    EXPECT_EQ(Page(1)->objectName(), "VideoFrame3");
    TIniFile ini(ConfigFileName());
    EXPECT_EQ(ini.ReadString("Cameras", "1", ""), "demo:1");
    EXPECT_EQ(ini.ReadString("Cameras", "3", ""), "network:Gate");
}

TEST_F(UnattendedFormTest, AStoredSceneFolderRecordsWithAConfigurationThatCannotBeWritten) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start the form as another user";
    // A configuration from an earlier run, then "Cfg" becomes read-only.
    Start({std::make_shared<TDemoCameraBackend>(2)});
    Form.reset();
    ASSERT_EQ(chmod(qPrintable(Folder.path()), 0777), 0);
    ASSERT_EQ(chmod(qPrintable(PathOf("Scenes/0")), 0777), 0);
    ASSERT_EQ(chmod(qPrintable(PathOf("Scenes/1")), 0777), 0);
    ASSERT_EQ(chmod(qPrintable(PathOf("Cfg")), 0555), 0);
    OpenPathForEverybody(qPrintable(Folder.path()));
    ASSERT_EQ(chown(qPrintable(Runtime.path()), 65534, 65534), 0);
    TJPEGImage picture;
    {
        const UnprivilegedScope nobody;
        Start({std::make_shared<TDemoCameraBackend>(2)});
        QImage bitmap(32, 32, QImage::Format_BGR888);
        bitmap.fill(Qt::green);
        picture.Assign(bitmap);
        picture.Compress();
        for (int i = 0; i < 2; ++i) {
            TSceneFrame* scenes = Page(i)->SceneFrame();
            ASSERT_NE(scenes, nullptr) << i;
            if (scenes->GuardDiskSpace())
                scenes->AddPicture(picture);
        }
    }
    chmod(qPrintable(PathOf("Cfg")), 0755);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Page(i)->SceneFrame()->RecordingFailure(), "");
        EXPECT_EQ(CountSubDirectories(PathOf("Scenes/" + QString::number(i))), 1);
        EXPECT_EQ(Page(i)->SceneFrameFailure(), "");
    }
}

TEST_F(UnattendedFormTest, TheEndBySignalSavesModifiedMasksWithoutAQuestion) {
    Start({std::make_shared<TDemoCameraBackend>(2)});
    const QString named = PathOf("Mask/door.msk");
    Page(0)->LoadMask(named);
    Page(0)->MaskClearActionExecute();
    Page(1)->MaskClearActionExecute();
    Form->EndUnattended();
    EXPECT_TRUE(Dialogs.Asked.isEmpty()) << Dialogs.Asked.join("\n").toStdString();
    EXPECT_TRUE(QFileInfo::exists(named));
    EXPECT_TRUE(QFileInfo::exists(PathOf("Mask/unsaved-2.msk")));
    EXPECT_EQ(LogRows("The modified mask of"), 2);
    EXPECT_FALSE(Page(0)->CaptureTimer->isActive());
}

TEST_F(UnattendedFormTest, AHangingStreamNamesTheCameraInTheTrayAndTheErrorLog) {
    double time = 45000.5;
    SetClock([&time] { return time; });
    auto backend = std::make_shared<THangingBackend>();
    Start({backend});
    TVideoFrame* page = Page(0);
    page->PlayActionExecute();
    page->CaptureTimerTimer();
    ASSERT_FALSE(page->DisplayBitmap().isNull());
    EXPECT_EQ(Form->TrayIcon->ToolTip(), "Tarvik");

    *backend->Hangs = true;
    time += 6.0 / (24 * 60 * 60);
    page->CaptureTimerTimer();
    EXPECT_TRUE(Form->TrayIcon->ToolTip().startsWith(
        "Tarvik\r\nDemo camera 1: No pictures from the camera since"))
        << Form->TrayIcon->ToolTip().toStdString();
    EXPECT_EQ(LogRows("Demo camera 1: No pictures from the camera since"), 1);

    *backend->Hangs = false;
    page->CaptureTimerTimer();
    EXPECT_EQ(Form->TrayIcon->ToolTip(), "Tarvik");
    page->StopActionExecute();
}
