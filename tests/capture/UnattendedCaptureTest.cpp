#include "CameraTable.h"
#include "FrameGapMeter.h"
#include "PageFixture.h"
#include "PaintBox.h"
#include "TIniFile.h"
#include "kaEdit.h"
#include "kaMaskBitmap.h"
#include "kaMaskFile.h"
#include "kaTimeText.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>

namespace {

constexpr double Second = 1.0 / (24 * 60 * 60);

QColor LampColour(TVideoFrame& page) {
    QImage canvas(25, 20, QImage::Format_RGB32);
    QPainter painter(&canvas);
    page.StatusBarDrawPanel(painter, canvas.rect());
    painter.end();
    return canvas.pixelColor(12, 10);
}

// A camera page whose clock the test moves, and the error log's rows.
class UnattendedCaptureTest : public PageFixture {
protected:
    void SetUp() override {
        PageFixture::SetUp();
        SetClock([this] { return Time; });
        PreviousLogger = SetApplicationErrorLogger([this](const std::exception& error) {
            const auto* kaError = dynamic_cast<const EkaError*>(&error);
            LogRows << (kaError ? kaError->message() : QString::fromUtf8(error.what()));
        });
    }
    void TearDown() override {
        SetApplicationErrorLogger(PreviousLogger);
        SetClock({});
        PageFixture::TearDown();
    }

    // Moves the clock on, then one tick of the capture timer.
    void After(double seconds) {
        Time += seconds * Second;
        Tick();
    }

    QString Trouble() const {
        QLabel* label = Page->RecordingFailureLabel();
        return label != nullptr && label->isVisibleTo(Page.get()) ? label->text() : QString();
    }

    double Time = 45000.5;
    QStringList LogRows;
    TApplicationErrorHandler PreviousLogger;
};

} // namespace

TEST(CameraTableTest, CamerasKeepTheirNumbersAndNewOnesTakeTheSmallestFree) {
    QTemporaryDir folder;
    const QString file = folder.filePath("Tarvik.ini");
    {
        TIniFile ini(file);
        ini.WriteString("Cameras", "1", "demo:1");
        ini.WriteString("Cameras", "3", "network:Door");
        // Hand-edited lines that name no camera are left alone.
        ini.WriteString("Cameras", "x", "v4l2:usb-1 Cam");
        ini.WriteString("Cameras", "0", "v4l2:usb-2 Cam");
        ini.WriteString("Cameras", "4", "");
    }
    TIniFile ini(file);
    TCameraTable table(&ini);
    const QList<QPair<QString, int>> cases{
        {"network:Door", 3},     {"v4l2:usb-3 New", 2}, {"demo:1", 1},
        {"v4l2:usb-4 Other", 4}, {"v4l2:usb-3 New", 2}, {"Demo:1", 5}, // letter case counts
    };
    for (const auto& [identity, number] : cases)
        EXPECT_EQ(table.Number(identity), number) << identity.toStdString();
    EXPECT_EQ(ini.ReadString("Cameras", "2", ""), "") << "nothing is written before Store";
    table.Store();

    TCameraTable again(&ini);
    EXPECT_EQ(again.Number("v4l2:usb-4 Other"), 4);
    EXPECT_EQ(again.Number("Demo:1"), 5);
    EXPECT_EQ(again.Number("v4l2:usb-3 New"), 2);
    EXPECT_EQ(ini.ReadString("Cameras", "x", ""), "v4l2:usb-1 Cam");

    TCameraTable memoryOnly(nullptr);
    EXPECT_EQ(memoryOnly.Number("a"), 1);
    EXPECT_EQ(memoryOnly.Number("b"), 2);
    EXPECT_NO_THROW(memoryOnly.Store());
}

TEST(CameraTableTest, EveryCameraStartsWithItsOwnBroadcastName) {
    const QList<QPair<int, QString>> names{{1, "MyCam"}, {2, "MyCam2"}, {12, "MyCam12"}};
    for (const auto& [number, name] : names)
        EXPECT_EQ(TVideoFrame::DefaultSourceName(number), name);
}

TEST(FrameGapMeterTest, TheLargestGapBetweenGrabsSinceTheRestart) {
    TFrameGapMeter meter(
        std::make_shared<TTestCameraBackend>(std::make_shared<TTestCameraScript>()));
    using std::chrono::milliseconds;
    const TFrameGapMeter::Clock::time_point start{};
    for (int ms : {0, 100, 350, 400})
        meter.Grabbed(start + milliseconds(ms));
    EXPECT_EQ(meter.Grabs(), 4);
    EXPECT_DOUBLE_EQ(meter.LargestGapMs(), 250);
    meter.Restart();
    meter.Grabbed(start + milliseconds(5000)); // a first grab is no gap
    EXPECT_DOUBLE_EQ(meter.LargestGapMs(), 0);
    meter.Grabbed(start + milliseconds(5120));
    EXPECT_DOUBLE_EQ(meter.LargestGapMs(), 120);

    // The devices it hands out note their grabs and deliver the measured frames.
    std::unique_ptr<TCaptureDevice> device = meter.CreateDevice(0);
    ASSERT_TRUE(device && device->Open());
    std::vector<std::uint8_t> frame;
    EXPECT_TRUE(device->GrabFrame(frame));
    EXPECT_EQ(frame.size(), std::size_t(100 * 100 * 3));
    EXPECT_EQ(meter.Grabs(), 3);
    EXPECT_EQ(meter.CreateDevice(1), nullptr);
}

TEST_F(UnattendedCaptureTest, ASilentCameraIsShownOnceAndClearsWithTheNextPicture) {
    TVideoFrame& page = CreateTestCameraPage();
    page.SetDescription("Test camera");
    int changes = 0;
    QObject::connect(&page, &TVideoFrame::TroubleChanged, [&changes] { ++changes; });
    page.PlayActionExecute();
    After(0.1);
    ASSERT_TRUE(page.Motion()) << "the first picture is motion";
    const QColor lit = LampColour(page);

    Camera->NoNewFrames = true;
    After(4.8);
    EXPECT_FALSE(page.NoPictures());
    EXPECT_EQ(Trouble(), "");
    After(0.3);
    ASSERT_TRUE(page.NoPictures());
    const QString since =
        "No pictures from the camera since " + DateTimeText(45000.5 + 0.1 * Second);
    EXPECT_EQ(Trouble(), since);
    EXPECT_EQ(LampColour(page), QColor(Qt::gray)) << "not the motion of the last picture";
    EXPECT_NE(LampColour(page), lit);
    EXPECT_EQ(LogRows, QStringList{"Test camera: " + since});
    After(10);
    page.CheckPictures();
    EXPECT_EQ(LogRows.size(), 1);

    Camera->NoNewFrames = false;
    After(0.1);
    EXPECT_FALSE(page.NoPictures());
    EXPECT_EQ(Trouble(), "");
    EXPECT_EQ(changes, 2);

    // The next silence is a new row; stopping ends it without one.
    Camera->NoNewFrames = true;
    After(6);
    EXPECT_EQ(LogRows.size(), 2);
    page.StopActionExecute();
    EXPECT_FALSE(page.NoPictures());
    Time += 60 * Second;
    page.CheckPictures();
    EXPECT_EQ(LogRows.size(), 2) << "an idle camera is not silent";
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
}

TEST_F(UnattendedCaptureTest, ACameraThatGoesAwayIsToldOnceAndComesBack) {
    TVideoFrame& page = CreateTestCameraPage();
    page.PlayActionExecute();
    After(0.1);
    // Unplugged: grabs fail and it cannot be opened again, tick after tick.
    Camera->GrabFails = true;
    Camera->OpenFails = true;
    for (int i = 0; i < 60; ++i)
        After(0.1);
    EXPECT_EQ(Errors, QStringList{"Can not connect capture driver with capture window: "
                                  "test camera failure"});
    EXPECT_TRUE(page.CaptureTimer->isActive()) << "it keeps trying";
    EXPECT_TRUE(page.NoPictures());
    EXPECT_EQ(LogRows.size(), 1);

    // Plugged in again: the next tick opens it, the one after brings a picture.
    Camera->GrabFails = false;
    Camera->OpenFails = false;
    After(0.1);
    After(0.1);
    EXPECT_TRUE(page.VideoCap->DriverOpen());
    EXPECT_FALSE(page.NoPictures());
    // Gone again later: told again.
    Camera->GrabFails = true;
    Camera->OpenFails = true;
    After(0.1);
    EXPECT_EQ(Errors.size(), 2);
}

TEST_F(UnattendedCaptureTest, WithoutAQuestionAModifiedMaskIsSavedAndLogged) {
    TVideoFrame& page = CreateTestCameraPage();
    page.SetDescription("Test camera");
    page.MaskClearActionExecute(); // modified, without a file
    MaskBitmap::DrawLine(page.Pipeline().MaskBitmap(), {10, 10}, {60, 10}, 10, true);
    page.SaveMaskUnasked();
    const QString unsaved = PathOf(QString("Mask/unsaved-%1.msk").arg(page.Number()));
    ASSERT_TRUE(QFileInfo::exists(unsaved));
    EXPECT_EQ(MaskFile::Read(unsaved).pixelIndex(30, 10), page.MaskBitmap().pixelIndex(30, 10));
    EXPECT_FALSE(page.MaskModified());
    EXPECT_EQ(page.MaskFileName(), "") << "the camera keeps the mask it was given";
    EXPECT_EQ(LogRows.value(0), "The modified mask of Test camera was saved to " + unsaved);

    // One with a file name goes there; one that cannot be written is logged.
    const QString named = PathOf("Mask/door.msk");
    page.LoadMask(named);
    page.MaskClearActionExecute();
    page.SaveMaskUnasked();
    EXPECT_TRUE(QFileInfo::exists(named));
    const QString blocked = PathOf("Mask/file/door.msk");
    QFile plain(PathOf("Mask/file"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    page.LoadMask(blocked);
    page.MaskClearActionExecute();
    page.SaveMaskUnasked();
    ASSERT_EQ(LogRows.size(), 3);
    EXPECT_TRUE(LogRows.at(2).startsWith("The modified mask of Test camera could not be saved to " +
                                         blocked))
        << LogRows.at(2).toStdString();
    EXPECT_TRUE(page.MaskModified());
    EXPECT_TRUE(Errors.isEmpty()) << "nothing is asked or shown";
}
