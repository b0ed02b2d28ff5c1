#include "CameraTable.h"
#include "PageFixture.h"
#include "TIniFile.h"
#include "kaTimeText.h"

#include <QLabel>
#include <QPainter>

TEST(CameraTableTest, CamerasKeepTheirNumbersAndNewOnesTakeTheSmallestFree) {
    QTemporaryDir folder;
    TIniFile ini(folder.filePath("Tarvik.ini"));
    ini.WriteString("Cameras", "1", "demo:1");
    ini.WriteString("Cameras", "3", "network:Door");
    ini.WriteString("Cameras", "x", "v4l2:usb-1 Cam"); // no camera's line
    ini.WriteString("Cameras", "0", "v4l2:usb-2 Cam");
    TCameraTable table(&ini);
    const QList<QPair<QString, int>> cases{{"network:Door", 3}, {"v4l2:usb-3 New", 2},
                                           {"demo:1", 1},       {"network:Door", 4},
                                           {"Demo:1", 5},       {"v4l2:usb-2 Cam", 6}};
    for (const auto& [identity, number] : cases)
        EXPECT_EQ(table.Number(identity), number) << identity.toStdString();
    EXPECT_FALSE(ini.ValueExists("Cameras", "2")) << "written by Store only";
    table.Store();
    TCameraTable again(&ini);
    for (const auto& [identity, number] : cases)
        EXPECT_EQ(again.Number(identity), number) << identity.toStdString();
}

class UnattendedCaptureTest : public PageFixture {
protected:
    void SetUp() override {
        PageFixture::SetUp();
        SetClock([this] { return Time; });
        PreviousLogger = SetApplicationErrorLogger(
            [this](const std::exception& error) { LogRows << QString::fromUtf8(error.what()); });
    }
    void TearDown() override {
        SetApplicationErrorLogger(PreviousLogger);
        SetClock({});
        PageFixture::TearDown();
    }
    void After(double seconds) {
        Time += seconds / (24 * 60 * 60);
        Tick();
    }
    QColor Lamp() {
        QImage canvas(25, 20, QImage::Format_RGB32);
        QPainter painter(&canvas);
        Page->StatusBarDrawPanel(painter, canvas.rect());
        return canvas.pixelColor(12, 10);
    }

    double Time = 45000.5;
    QStringList LogRows;
    TApplicationErrorHandler PreviousLogger;
};

TEST_F(UnattendedCaptureTest, ASilentCameraIsShownOnceAndClearsWithTheNextPicture) {
    TVideoFrame& page = CreateTestCameraPage();
    page.SetDescription("Test camera");
    page.PlayActionExecute();
    After(0.1);
    Camera->NoNewFrames = true;
    After(4.8);
    EXPECT_FALSE(page.NoPictures());
    After(0.3);
    ASSERT_TRUE(page.NoPictures());
    const QString since = "No pictures from the camera since " + DateTimeText(Time - 5.1 / 86400);
    EXPECT_EQ(page.RecordingFailureLabel()->text(), since);
    EXPECT_EQ(Lamp(), QColor(Qt::gray)) << "not the motion of the last picture";
    After(10);
    EXPECT_EQ(LogRows, QStringList{"Test camera: " + since}) << "one row per silence";

    Camera->NoNewFrames = false;
    After(0.1);
    EXPECT_FALSE(page.NoPictures());
    EXPECT_FALSE(page.RecordingFailureLabel()->isVisibleTo(&page));
    page.StopActionExecute();
    Time += 60.0 / 86400;
    page.CheckPictures();
    EXPECT_EQ(LogRows.size(), 1) << "an idle camera is not silent";
}
