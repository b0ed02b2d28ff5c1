#include "Videocap.h"

#include "CaptureDialogs.h"
#include "DemoCameraBackend.h"
#include "TempProgramDir.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSlider>
#include <functional>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

namespace {

struct TScript {
    QStringList Log;
    QStringList Names{"Cam A", "Cam B"};
    bool OpenFails = false;
    bool GrabFails = false;
    TCaptureCaps Caps{false, true, true, false};
    QSize Size{4, 2};
};

// A device that writes what is done with it into the script's log.
class TScriptedDevice final : public TCaptureDevice {
public:
    TScriptedDevice(std::shared_ptr<TScript> script, int index) : S(std::move(script)), N(index) {}
    ~TScriptedDevice() override { Close(); }

    bool Open() override {
        S->Log << QStringLiteral("open %1").arg(N);
        Opened = !S->OpenFails;
        return Opened;
    }
    void Close() override {
        if (Opened)
            S->Log << "close";
        Opened = false;
    }
    bool IsOpen() const override { return Opened; }
    TCaptureFormat Format() const override {
        return Opened ? TCaptureFormat{S->Size.width(), S->Size.height()} : TCaptureFormat{};
    }
    bool SetFormat(const TCaptureFormat& f) override {
        S->Size = {f.Width, f.Height};
        return true;
    }
    QList<QSize> FrameSizes() override { return {S->Size}; }
    QStringList PixelFormats() override { return {}; }
    QList<TCaptureControl> Controls() override { return {}; }
    bool SetControl(std::uint32_t, int) override { return false; }
    bool StartStreaming() override { return true; }
    void StopStreaming() override {}
    bool IsStreaming() const override { return Opened; }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override {
        S->Log << "grab";
        if (S->GrabFails)
            return false;
        frame.assign(std::size_t(Format().FrameBytes()), std::uint8_t(++Frames));
        return true;
    }
    TCaptureCaps Caps() override { return S->Caps; }
    QString ErrorText() const override { return "scripted failure"; }

private:
    std::shared_ptr<TScript> S;
    int N;
    bool Opened = false;
    int Frames = 0;
};

class TScriptedBackend final : public TCaptureBackend {
public:
    explicit TScriptedBackend(std::shared_ptr<TScript> script) : S(std::move(script)) {}
    int DeviceCount() override { return int(S->Names.size()); }
    QString Description(int index) override { return S->Names.value(index); }
    QString Version(int) override { return "1"; }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override {
        S->Log << QStringLiteral("create %1").arg(index);
        return std::make_unique<TScriptedDevice>(S, index);
    }

private:
    std::shared_ptr<TScript> S;
};

class TScriptedCaptureDialogs final : public TCaptureDialogs {
public:
    explicit TScriptedCaptureDialogs(QStringList& log) : Log(log) {}
    bool FormatDialog(TCaptureDevice& device) override {
        Log << QStringLiteral("format dialog, open %1").arg(device.IsOpen());
        return device.SetFormat({8, 6, CapturePixelFormatBGR24});
    }
    bool SourceDialog(TCaptureDevice&) override { return Log << "source dialog", false; }
    bool DisplayDialog(TCaptureDevice&) override { return Log << "display dialog", true; }

private:
    QStringList& Log;
};

// A format dialog during which something else happens (the camera is
// stopped, the page goes), as in its nested event loop; then the user confirms.
class TWhileOpenCaptureDialogs final : public TCaptureDialogs {
public:
    explicit TWhileOpenCaptureDialogs(std::function<void()> whileOpen)
        : WhileOpen(std::move(whileOpen)) {}
    bool FormatDialog(TCaptureDevice& device) override {
        WhileOpen();
        return device.SetFormat({8, 6, CapturePixelFormatBGR24});
    }
    bool SourceDialog(TCaptureDevice&) override { return false; }
    bool DisplayDialog(TCaptureDevice&) override { return false; }

private:
    std::function<void()> WhileOpen;
};

class VideocapTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetCaptureBackends({std::make_shared<TScriptedBackend>(Script)});
        Cap.OnStatus = [this](QObject*) { ++StatusCalls; };
    }
    void TearDown() override {
        SetCaptureDialogs(nullptr);
        SetCaptureBackends({});
        TempProgramDir::TearDown();
    }

    template <class E> QString RaisedBy(const std::function<void()>& action) {
        try {
            action();
        } catch (const E& error) {
            return error.message();
        }
        return "nothing raised";
    }

    std::shared_ptr<TScript> Script = std::make_shared<TScript>();
    TVideoCap Cap;
    int StatusCalls = 0;
};

TEST_F(VideocapTest, PropertiesStartAtTheirDefaultsAndClamp) {
    EXPECT_EQ(Cap.DriverIndex(), -1);
    EXPECT_EQ(Cap.MicroSecPerFrame(), 66667u);
    EXPECT_EQ(Cap.FrameRate(), 15);
    EXPECT_EQ(Cap.VideoFileName(), "Video.avi");
    EXPECT_EQ(Cap.SingleImageFile(), "Capture.bmp");
    EXPECT_TRUE(Cap.CapToFile());
    EXPECT_EQ(Cap.CapAudioFormat().Channels, TChannel::Mono);
    EXPECT_EQ(Cap.Width(), 100);

    EXPECT_EQ(Cap.PreviewIntervalMs(), 33);
    Cap.SetPreviewRate(0);
    EXPECT_EQ(Cap.PreviewRate(), 1);
    Cap.SetPreviewRate(50);
    EXPECT_EQ(Cap.PreviewRate(), 30);

    Cap.SetMicroSecPerFrame(1000);
    EXPECT_EQ(Cap.MicroSecPerFrame(), 33333u);
    Cap.SetFrameRate(100);
    EXPECT_EQ(Cap.MicroSecPerFrame(), 10000u) << "no lower bound through the frame rate";
    Cap.SetFrameRate(5);
    EXPECT_EQ(Cap.MicroSecPerFrame(), 200000u);
    Cap.SetFrameRate(0);
    EXPECT_EQ(Cap.FrameRate(), 5);
    Cap.SetFrameRate(65535);
    EXPECT_EQ(Cap.FrameRate(), 65535) << "a rate beyond 16 bits is capped, not wrapped";

    Cap.SetCapIndexSize(5);
    EXPECT_EQ(Cap.CapIndexSize(), 1800u);
    Cap.SetCapIndexSize(400000);
    EXPECT_EQ(Cap.CapIndexSize(), 324000u);
    Cap.SetCapIndexSize(0);
    EXPECT_EQ(Cap.CapIndexSize(), 0u);
}

TEST_F(VideocapTest, SelectsDriversByIndexOrExactNameWithoutConnecting) {
    Cap.SetDriverIndex(1);
    EXPECT_EQ(Cap.DriverName(), "Cam B");
    Cap.SetDriverIndex(7);
    EXPECT_EQ(Cap.DriverIndex(), -1);
    EXPECT_EQ(Cap.DriverName(), "");

    Cap.SetDriverName("cam a");
    EXPECT_EQ(Cap.DriverIndex(), -1) << "names compare with letter case";
    Cap.SetDriverName("Cam A");
    EXPECT_EQ(Cap.DriverIndex(), 0);
    EXPECT_EQ(Cap.DriverName(), "Cam A");
    Cap.SetDriverName("Cam C");
    EXPECT_EQ(Cap.DriverIndex(), -1);
    EXPECT_EQ(Cap.DriverName(), "");
    EXPECT_TRUE(Script->Log.isEmpty()) << Script->Log.join(", ").toStdString();
}

TEST_F(VideocapTest, ChangingTheDriverDisconnectsFirstAndForgetsTheStatus) {
    Cap.SetDriverIndex(0);
    Cap.SetDriverOpen(true);
    EXPECT_TRUE(Cap.DriverOpen());
    EXPECT_EQ(StatusCalls, 1);
    EXPECT_EQ(Cap.ImageWidth(), 4);
    Cap.SetDriverIndex(1);
    EXPECT_FALSE(Cap.DriverOpen());
    EXPECT_EQ(Cap.ImageWidth(), 0);
    Cap.SetDriverOpen(true);
    Cap.SetDriverOpen(true);
    EXPECT_EQ(Script->Log, (QStringList{"create 0", "open 0", "close", "create 1", "open 1"}));
}

TEST_F(VideocapTest, ConnectionFailuresRaiseAndLeaveItDisconnected) {
    EXPECT_EQ(RaisedBy<ENoDriverException>([&] { Cap.SetDriverOpen(true); }),
              "No capture driver selected");
    EXPECT_EQ(StatusCalls, 1);

    QString reported;
    Cap.OnError = [&](QObject*, int, const QString& text) { reported = text; };
    Cap.SetDriverIndex(1);
    Script->OpenFails = true;
    EXPECT_EQ(RaisedBy<ENotConnectException>([&] { Cap.SetDriverOpen(true); }),
              "Can not connect capture driver with capture window: scripted failure");
    EXPECT_FALSE(Cap.DriverOpen());
    EXPECT_EQ(reported, "scripted failure");

    Script->Names.removeLast();
    EXPECT_EQ(RaisedBy<ENoCapWindowException>([&] { Cap.SetDriverOpen(true); }),
              "Can not create capture window");
    EXPECT_FALSE(Cap.DriverOpen());
}

TEST_F(VideocapTest, GrabFrameDeliversTheFrameBeforeItReturns) {
    int delivered = 0;
    Cap.OnFrameCallback = [&](QObject* sender, PVIDEOHDR header) {
        EXPECT_EQ(sender, &Cap);
        BITMAPINFO info;
        Cap.GetBitmapInfo(info);
        EXPECT_EQ(info.bmiHeader.biWidth, 4);
        EXPECT_EQ(info.bmiHeader.biHeight, 2);
        EXPECT_EQ(header->dwBytesUsed, info.bmiHeader.biSizeImage);
        EXPECT_EQ(header->lpData[23], 1);
        ++delivered;
    };
    EXPECT_FALSE(Cap.GrabFrame());
    Cap.SetDriverIndex(0);
    Cap.SetDriverOpen(true);
    EXPECT_TRUE(Cap.GrabFrame());
    EXPECT_EQ(delivered, 1);

    QString reported;
    Cap.OnError = [&](QObject*, int, const QString& text) { reported = text; };
    Script->GrabFails = true;
    EXPECT_FALSE(Cap.GrabFrame());
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(reported, "scripted failure");
}

TEST_F(VideocapTest, TheFormatCannotBeReadWhileDisconnected) {
    BITMAPINFO info;
    info.bmiHeader.biWidth = 99;
    EXPECT_EQ(RaisedBy<ENotOpen>([&] { Cap.GetBitmapInfo(info); }), "Driver not Open");
    EXPECT_EQ(info.bmiHeader.biWidth, 0);
}

TEST_F(VideocapTest, DialogsConnectOnlyForTheirDuration) {
    QStringList& log = Script->Log;
    TScriptedCaptureDialogs dialogs(log);
    Cap.SetDriverIndex(0);
    EXPECT_FALSE(Cap.DlgVideoFormat()) << "no dialogs installed";
    log.clear();

    SetCaptureDialogs(&dialogs);
    EXPECT_TRUE(Cap.DlgVideoFormat());
    EXPECT_EQ(log, (QStringList{"create 0", "open 0", "format dialog, open 1", "close"}));
    EXPECT_FALSE(Cap.DriverOpen());
    EXPECT_EQ(Cap.ImageWidth(), 8) << "the new size shows up at once";
    EXPECT_EQ(Cap.ImageHeight(), 6);

    log.clear();
    EXPECT_FALSE(Cap.DlgVideoDisplay());
    EXPECT_FALSE(Cap.DlgVideoSource());
    EXPECT_FALSE(log.contains("display dialog")) << "the device has no display dialog";
    EXPECT_TRUE(log.contains("source dialog"));

    Cap.SetDriverIndex(-1);
    log.clear();
    EXPECT_FALSE(Cap.DlgVideoFormat());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(VideocapTest, ADialogOutlivedByItsCameraChangesNothing) {
    Cap.SetDriverIndex(0);
    Cap.SetDriverOpen(true);
    TWhileOpenCaptureDialogs stopping([this] { Cap.SetDriverOpen(false); });
    SetCaptureDialogs(&stopping);
    EXPECT_FALSE(Cap.DlgVideoFormat()) << "the camera stopped while the dialog was open";
    EXPECT_FALSE(Cap.DriverOpen());
    EXPECT_EQ(Script->Log.count("close"), 1);

    // Stopped and started again: the dialog's device is no longer the camera's.
    Script->Log.clear();
    Cap.SetDriverOpen(true);
    TWhileOpenCaptureDialogs restarting([this] {
        Cap.SetDriverOpen(false);
        Cap.SetDriverOpen(true);
    });
    SetCaptureDialogs(&restarting);
    EXPECT_FALSE(Cap.DlgVideoFormat());
    EXPECT_TRUE(Cap.DriverOpen()) << "the new connection stays";
    EXPECT_EQ(Script->Log.count("close"), 1);
    Cap.SetDriverOpen(false);
}

TEST_F(VideocapTest, ACameraThatGoesWhileItsDialogIsOpenIsLeftAlone) {
    for (const bool connected : {false, true}) {
        Script->Log.clear();
        auto* cap = new TVideoCap;
        cap->SetDriverIndex(0);
        cap->SetDriverOpen(connected);
        TWhileOpenCaptureDialogs ending([&cap] {
            delete cap;
            cap = nullptr;
        });
        SetCaptureDialogs(&ending);
        EXPECT_FALSE(cap->DlgVideoFormat()) << connected;
        EXPECT_EQ(cap, nullptr);
        EXPECT_EQ(Script->Log.count("close"), 1) << connected;
    }
}

TEST_F(VideocapTest, CapabilitiesAreFetchedOncePerDriver) {
    EXPECT_FALSE(Cap.HasDlgVideoFormat());
    Cap.SetDriverIndex(0);
    EXPECT_TRUE(Cap.HasDlgVideoFormat());
    EXPECT_TRUE(Cap.HasDlgVideoSource());
    EXPECT_FALSE(Cap.HasDlgVideoDisplay());
    EXPECT_FALSE(Cap.HasVideoOverlay());
    EXPECT_EQ(Script->Log, (QStringList{"create 0", "open 0", "close"}));
    EXPECT_EQ(RaisedBy<ENoOverlayException>([&] { Cap.SetVideoOverlay(true); }),
              "Driver has no overlay mode");

    Cap.SetDriverIndex(1);
    Script->Caps.HasDlgVideoDisplay = true;
    EXPECT_TRUE(Cap.HasDlgVideoDisplay());
}

TEST_F(VideocapTest, ABufferFileExistsOnlyWhileConnected) {
    Cap.SetDriverIndex(0);
    Cap.SetBufferFileSize(1);
    Cap.SetDriverOpen(true);
    const QFileInfo file(Cap.BufferFileName());
    EXPECT_TRUE(file.fileName().startsWith("cap"));
    EXPECT_EQ(file.size(), 1048576);
    Cap.SetDriverOpen(false);
    EXPECT_FALSE(QFileInfo::exists(file.filePath()));
    EXPECT_TRUE(Cap.BufferFileName().isEmpty());

    // A temporary directory that is a file, and one that does not exist.
    QFile notADirectory(PathOf("file"));
    ASSERT_TRUE(notADirectory.open(QIODevice::WriteOnly));
    const QByteArray tmp = qgetenv("TMPDIR");
    for (const QString& dir : {notADirectory.fileName(), PathOf("missing")}) {
        qputenv("TMPDIR", QFile::encodeName(dir));
        EXPECT_EQ(RaisedBy<EBufferFileError>([&] { Cap.SetDriverOpen(true); }),
                  "Could not create tmp file");
        EXPECT_FALSE(Cap.DriverOpen());
    }
    tmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
}

TEST_F(VideocapTest, PreviewHandsFramesToTheCallbackAtThePreviewRate) {
    int delivered = 0;
    Cap.OnFrameCallback = [&](QObject*, PVIDEOHDR) { ++delivered; };
    Cap.SetDriverIndex(0);
    Cap.SetVideoPreview(true);
    EXPECT_TRUE(Cap.DriverOpen());
    EXPECT_TRUE(Cap.VideoPreview());
    QElapsedTimer clock;
    clock.start();
    while (delivered < 2 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(delivered, 2);
    Cap.SetDriverOpen(false);
    EXPECT_FALSE(Cap.VideoPreview());
}

TEST_F(VideocapTest, TheCaptureWindowFollowsTheScalingRules) {
    Cap.SetDriverIndex(0);
    Cap.SetDriverOpen(true);
    EXPECT_EQ(Cap.CaptureWindowSize(), QSize(4, 2));
    Cap.SetPreviewScaleToWindow(true);
    Cap.SetSize(300, 100);
    EXPECT_EQ(Cap.CaptureWindowSize(), QSize(300, 100));
    Cap.SetPreviewScaleProportional(true);
    EXPECT_EQ(Cap.CaptureWindowSize(), QSize(200, 100));
    Cap.SetSize(100, 100);
    EXPECT_EQ(Cap.CaptureWindowSize(), QSize(100, 50));
}

TEST(FrameToBitmapTest, CopiesRowsIntoABGRBitmapAndConvertsOthers) {
    // 3 pixels a row: Qt pads each bitmap row to 12 bytes, the frame has 9.
    BITMAPINFO info;
    info.bmiHeader = {40, 3, 2, 1, 24, BI_RGB, 18, 0, 0, 0, 0};
    std::vector<std::uint8_t> data(18);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(10 * i);

    QImage bitmap;
    ASSERT_TRUE(FrameToBitmap(bitmap, data.data(), info, qsizetype(data.size())));
    EXPECT_EQ(bitmap.format(), QImage::Format_BGR888);
    EXPECT_EQ(bitmap.pixelColor(0, 1), QColor(110, 100, 90));
    EXPECT_EQ(bitmap.pixelColor(2, 1), QColor(170, 160, 150));

    QImage display(1, 1, QImage::Format_RGB32);
    ASSERT_TRUE(FrameToBitmap(display, data.data(), info));
    EXPECT_EQ(display.format(), QImage::Format_RGB32);
    EXPECT_EQ(display.size(), QSize(3, 2));
    EXPECT_EQ(display.pixelColor(2, 1), QColor(170, 160, 150));

    EXPECT_FALSE(FrameToBitmap(bitmap, data.data(), info, 17)) << "short frame";
    info.bmiHeader.biBitCount = 16;
    EXPECT_FALSE(FrameToBitmap(bitmap, data.data(), info));
    EXPECT_EQ(bitmap.size(), QSize(3, 2));
}

class VideocapDemoTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetCaptureBackends({std::make_shared<TDemoCameraBackend>(1)});
    }
    void TearDown() override {
        SetCaptureBackends({});
        TempProgramDir::TearDown();
    }
};

TEST_F(VideocapDemoTest, ADemoFrameTravelsIntoABitmap) {
    TVideoCap cap;
    QImage bitmap;
    cap.OnFrameCallback = [&](QObject*, PVIDEOHDR header) {
        BITMAPINFO info;
        cap.GetBitmapInfo(info);
        EXPECT_TRUE(FrameToBitmap(bitmap, header->lpData, info, header->dwBytesUsed));
    };
    cap.SetDriverIndex(0);
    cap.SetDriverOpen(true);
    ASSERT_TRUE(cap.GrabFrame());
    TDemoCamera reference(1, std::make_shared<TDemoCamera::TSettings>());
    std::vector<std::uint8_t> expected;
    reference.Render(0, expected);
    ASSERT_EQ(bitmap.size(), QSize(640, 480));
    EXPECT_EQ(0, std::memcmp(bitmap.constScanLine(479), expected.data() + 479 * 1920, 1920));
}

TEST_F(VideocapDemoTest, TheQtDialogsChangeSizeAndControls) {
    TDemoCamera camera(1, std::make_shared<TDemoCamera::TSettings>());
    camera.Open();
    TCaptureFormatDialog format(camera);
    QComboBox* sizes = format.SizeComboBox();
    ASSERT_EQ(sizes->count(), 4);
    EXPECT_EQ(sizes->currentText(), "640 x 480");
    sizes->setCurrentIndex(sizes->findText("320 x 240"));
    ASSERT_TRUE(format.Apply());
    EXPECT_EQ(camera.Format().Width, 320);

    TCaptureSourceDialog source(camera);
    auto* brightness = qobject_cast<QSlider*>(source.Editor("Brightness"));
    ASSERT_NE(brightness, nullptr);
    brightness->setValue(20);
    ASSERT_TRUE(source.Apply());
    EXPECT_EQ(camera.Controls()[0].Value, 20);
    EXPECT_EQ(camera.Controls()[1].Value, 100);
}

} // namespace
