#include "CaptureDialogs.h"
#include "DemoCameraBackend.h"
#include "FVideoSetup.h"
#include "PageFixture.h"
#include "PaintBox.h"
#include "THourGlass.h"
#include "TkaHashList.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaEdit.h"
#include "kaLabel.h"
#include "kaMaskFile.h"
#include "kaPageControl.h"
#include "kaPictureAnalyser.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <utility>

namespace {

// The test camera's picture is cut by the default 50 x 50 grid into segments
// of 2 x 2 pixels.
constexpr int SegmentSize = 2;

// Adds Delta to every channel of the first Count segments, row by row.
QImage WithChangedSegments(const QImage& picture, int count, int delta) {
    QImage changed = picture.copy();
    const int columns = picture.width() / SegmentSize;
    for (int k = 0; k < count; ++k) {
        const int x0 = k % columns * SegmentSize;
        const int y0 = k / columns * SegmentSize;
        for (int y = y0; y < y0 + SegmentSize; ++y)
            for (int x = x0; x < x0 + SegmentSize; ++x) {
                uchar* pixel = changed.scanLine(y) + x * 3;
                for (int c = 0; c < 3; ++c)
                    pixel[c] = uchar(pixel[c] + delta);
            }
    }
    return changed;
}

QColor LampColour(TVideoFrame& page) {
    QImage canvas(25, 20, QImage::Format_RGB32);
    QPainter painter(&canvas);
    page.StatusBarDrawPanel(painter, canvas.rect());
    painter.end();
    return canvas.pixelColor(12, 10);
}

QImage Stripes(int width, int height) {
    QImage picture(width, height, QImage::Format_BGR888);
    for (int x = 0; x < width; ++x) {
        const QColor colour = x < width / 4 ? Qt::red : x < width * 3 / 4 ? Qt::green : Qt::blue;
        for (int y = 0; y < height; ++y)
            picture.setPixelColor(x, y, colour);
    }
    return picture;
}

// Format dialog that switches the device to another size.
class TResizingDialogs final : public TCaptureDialogs {
public:
    explicit TResizingDialogs(QSize size) : Size(size) {}
    bool FormatDialog(TCaptureDevice& device) override {
        return device.SetFormat({Size.width(), Size.height()});
    }
    bool SourceDialog(TCaptureDevice&) override { return false; }
    bool DisplayDialog(TCaptureDevice&) override { return false; }

private:
    QSize Size;
};

// Format dialog during which the page goes, as on the program's end.
class TPageEndingDialogs final : public TCaptureDialogs {
public:
    explicit TPageEndingDialogs(std::function<void()> whileOpen)
        : WhileOpen(std::move(whileOpen)) {}
    bool FormatDialog(TCaptureDevice&) override {
        WhileOpen();
        return false;
    }
    bool SourceDialog(TCaptureDevice&) override { return false; }
    bool DisplayDialog(TCaptureDevice&) override { return false; }

private:
    std::function<void()> WhileOpen;
};

class TDialogsInstallation {
public:
    explicit TDialogsInstallation(TCaptureDialogs* dialogs)
        : Previous(SetCaptureDialogs(dialogs)) {}
    ~TDialogsInstallation() { SetCaptureDialogs(Previous); }
    TDialogsInstallation(const TDialogsInstallation&) = delete;
    TDialogsInstallation& operator=(const TDialogsInstallation&) = delete;

private:
    TCaptureDialogs* Previous;
};

} // namespace

class VideoFrameTest : public PageFixture {
protected:
    void SetTrackBar(TkaTrackbarFrame* frame, int position) {
        frame->TrackBar->SetPosition(position);
    }
};

TEST_F(VideoFrameTest, ConstructionBuildsANamedIdlePage) {
    TVideoFrame& page = CreateTestCameraPage();
    std::unique_ptr<TVideoFrame> second(CreateLoaded<TVideoFrame>(nullptr, nullptr));
    const int number = page.objectName().mid(QStringLiteral("VideoFrame").size()).toInt();
    EXPECT_GE(number, 1);
    EXPECT_EQ(page.objectName(), QStringLiteral("VideoFrame%1").arg(number));
    EXPECT_EQ(second->objectName(), QStringLiteral("VideoFrame%1").arg(number + 1));
    EXPECT_EQ(ComponentPath(page.SourcekaEdit), page.objectName() + ".SourcekaEdit");

    QStringList owned;
    for (QObject* component : OwnedComponents(&page))
        owned << component->objectName();
    for (const char* name : {"kaPanel",           "ToolBar1",           "SourcekaEdit",
                             "UDPPortkaEdit",     "DescriptionkaLabel", "LastUpdatekaLabel",
                             "LastMotionkaLabel", "VideoCap",           "kaPageControl",
                             "VideoTabSheet",     "MaskTabSheet",       "JPegTabSheet",
                             "PaintBox",          "MaskPaintBox",       "MaskToolBar",
                             "JPegPaintBox",      "StatusBar",          "ActionList1",
                             "CaptureTimer",      "kaPictureAnalyser",  "IdUDPClient",
                             "PlayAction",        "StopAction",         "StretchAction",
                             "BroadcastAction"})
        EXPECT_TRUE(owned.contains(QString::fromLatin1(name))) << name;

    EXPECT_EQ(page.kaPageControl->count(), 3);
    EXPECT_EQ(page.kaPageControl->tabText(0).remove(QLatin1Char('&')), "Video");
    EXPECT_EQ(page.kaPageControl->tabText(1).remove(QLatin1Char('&')), "Mask");
    EXPECT_EQ(page.kaPageControl->tabText(2).remove(QLatin1Char('&')), "Compressed Video");
    EXPECT_EQ(page.kaPageControl->currentWidget(), page.VideoTabSheet);
    for (int i = 0; i < TVideoFrame::StatusPanelCount; ++i)
        EXPECT_TRUE(page.PanelText(i).isEmpty()) << i;
    EXPECT_TRUE(page.LastUpdatekaLabel->text().isEmpty());
    EXPECT_EQ(page.SourcekaEdit->text(), "MyCam");
    EXPECT_EQ(page.UDPPortkaEdit->text(), "4032");
    EXPECT_FALSE(page.CaptureTimer->isActive());
    EXPECT_EQ(page.LineWidth(), 10);
    EXPECT_TRUE(QDir(PathOf("Mask")).exists());

    const QImage& mask = page.MaskBitmap();
    EXPECT_EQ(mask.size(), QSize(1024, 768));
    EXPECT_EQ(mask.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(mask.pixelColor(1023, 767), QColor(Qt::white));

    QStringList keys;
    for (int i = 0; i < MessageRegistry().Count(); ++i)
        keys << MessageRegistry().Key(i);
    EXPECT_TRUE(keys.contains("FRVIDEO_MSG_MASKMODIFIED"));
    EXPECT_TRUE(keys.contains("FRVIDEO_MSG_LASTMOTION"));
    EXPECT_TRUE(keys.contains("FRVIDEO_MSG_PICTURETIME"));
}

// A newcomer can find out what the numbers are: every panel that shows
// something and both broadcast edits explain themselves.
TEST_F(VideoFrameTest, StatusPanelsAndBroadcastEditsHaveToolTips) {
    TVideoFrame& page = CreateTestCameraPage();
    EXPECT_FALSE(page.SourcekaEdit->toolTip().isEmpty());
    EXPECT_FALSE(page.UDPPortkaEdit->toolTip().isEmpty());
    QStringList tips;
    for (QWidget* panel : page.StatusBar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!panel->toolTip().isEmpty())
            tips << panel->toolTip();
    // Panel 5 is never written and has nothing to explain.
    EXPECT_EQ(tips.size(), TVideoFrame::StatusPanelCount - 1);
    EXPECT_EQ(tips.removeDuplicates(), 0) << "each tip says what its own panel shows";
}

TEST_F(VideoFrameTest, DemoCameraFirstFrameStillSceneAndWalkingVisitor) {
    TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
    // Default settings: the visitor's leading edge lifts more than 50 segments.
    SetClock([] { return 45000.25; });
    page.PlayActionExecute();
    ASSERT_TRUE(page.CaptureTimer->isActive());

    Tick();
    EXPECT_TRUE(page.Motion());
    EXPECT_EQ(page.CountMove(), 1);
    EXPECT_EQ(page.PanelText(6), "1");
    EXPECT_EQ(page.PanelText(1), "2500");
    ASSERT_FALSE(page.Jpeg().Empty());
    EXPECT_EQ(page.Jpeg().Width(), 640);
    EXPECT_FALSE(page.Jpeg().HasBitmap());
    EXPECT_EQ(page.PanelText(4), QString::number(page.Jpeg().Size()) + " Byte");
    EXPECT_EQ(page.LastFrameTime(), 45000.25);
    EXPECT_EQ(page.LastMotionTime(), 45000.25);
    EXPECT_TRUE(page.LastUpdatekaLabel->text().startsWith("Last Picture: "));
    EXPECT_TRUE(page.LastMotionkaLabel->text().startsWith("Last Motion: "));
    EXPECT_EQ(LampColour(page), QColor(0, 255, 0));

    // The visitor walks for MoveFrames frames: each one is motion and counted once.
    for (int frame = 1; frame < TDemoCamera::MoveFrames; ++frame) {
        Tick();
        ASSERT_TRUE(page.Motion()) << frame;
        ASSERT_EQ(page.CountMove(), frame + 1);
    }
    Tick(2); // the visitor stands still
    const int moves = page.CountMove();
    SetClock([] { return 45000.5; });
    for (int frame = 0; frame < 3; ++frame) {
        Tick();
        EXPECT_FALSE(page.Motion());
    }
    EXPECT_EQ(page.CountMove(), moves);
    EXPECT_EQ(page.PanelText(1), "0");
    EXPECT_EQ(page.PanelText(2), "0 %");
    EXPECT_TRUE(page.PanelText(5).isEmpty());
    EXPECT_EQ(page.LastFrameTime(), 45000.5);
    EXPECT_EQ(page.LastMotionTime(), 45000.25);
    EXPECT_NE(LampColour(page), QColor(0, 255, 0));
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("; ").toStdString();
}

TEST_F(VideoFrameTest, MotionNeedsMoreSegmentsThanTheSetting) {
    TVideoFrame& page = CreateTestCameraPage();
    const QImage still = Camera->Picture;
    page.PlayActionExecute();
    Tick();
    ASSERT_EQ(page.CountMove(), 1);

    // 11 per channel over a 2 x 2 segment is 44 / 1024 = 0.043 >= 0.04.
    Camera->Picture = WithChangedSegments(still, 50, 11);
    Tick();
    EXPECT_EQ(page.kaPictureAnalyser->CountMaxSegments(), 50);
    EXPECT_FALSE(page.Motion());

    Camera->Picture = still; // darker again: counts nothing
    Tick();
    EXPECT_FALSE(page.Motion());
    EXPECT_EQ(page.PanelText(1), "0");
    EXPECT_EQ(page.PanelText(2), "4 %");

    Camera->Picture = WithChangedSegments(still, 51, 11);
    Tick();
    EXPECT_TRUE(page.Motion());
    EXPECT_EQ(page.CountMove(), 2);
    EXPECT_EQ(page.PanelText(6), "2");
}

TEST_F(VideoFrameTest, DarkenedSegmentsGetRectanglesButMakeNoMotion) {
    TVideoFrame& page = CreateTestCameraPage();
    const QImage still = Camera->Picture;
    page.PlayActionExecute();
    Tick();
    Camera->Picture = WithChangedSegments(still, 60, -11);
    Tick();
    EXPECT_FALSE(page.Motion());
    EXPECT_EQ(page.CountMove(), 1);
    const QImage& analysis = page.AnalysisBitmap();
    // The first segment's outline covers all its pixels; segments further on did not change.
    EXPECT_EQ(analysis.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(analysis.pixelColor(1, 1), QColor(255, 0, 0));
    EXPECT_EQ(analysis.pixelColor(99, 99), QColor(100, 100, 100));
    // The display picture carries no rectangles.
    EXPECT_EQ(page.DisplayBitmap().pixelColor(0, 0), QColor(89, 89, 89));
}

TEST_F(VideoFrameTest, PanelsRoundHalvesToEven) {
    TVideoFrame& page = CreateTestCameraPage();
    // Brightness 96 of 768 is 12.5 %; the first change 32 * 4 / 1024 = 12.5 %.
    Camera->Picture = TTestCameraScript::Grey(QSize(100, 100), 32);
    page.PlayActionExecute();
    Tick();
    EXPECT_EQ(page.PanelText(3), "12 %");
    EXPECT_EQ(page.PanelText(2), "12 %");
    // Brightness 288 of 768 is 37.5 %.
    Camera->Picture = TTestCameraScript::Grey(QSize(100, 100), 96);
    Tick();
    EXPECT_EQ(page.PanelText(3), "38 %");
}

TEST_F(VideoFrameTest, FirstFrameIsMotionButCountsOnlyWhenTheRuleSaysSo) {
    TVideoFrame& page = CreateTestCameraPage();
    SetTrackBar(page.SetupForm()->ThresholdTrackbarFrame, 1000); // no segment reaches 100 %
    page.PlayActionExecute();
    Tick();
    EXPECT_TRUE(page.Motion());
    EXPECT_FALSE(page.Jpeg().Empty());
    EXPECT_EQ(page.CountMove(), 0);
    EXPECT_TRUE(page.PanelText(6).isEmpty());
}

TEST_F(VideoFrameTest, MaskClearsAnalysisPixelsInsideItsArea) {
    Camera->Picture = TTestCameraScript::Grey(QSize(1100, 20), 200);
    TVideoFrame& page = CreateTestCameraPage();
    SetTrackBar(page.SetupForm()->ThresholdTrackbarFrame, 1000); // no rectangles
    QImage mask = page.MaskBitmap();
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < 512; ++x)
            mask.setPixel(x, y, 0);
    page.SetMaskBitmap(mask);
    page.PlayActionExecute();
    Tick();
    const QImage& analysis = page.AnalysisBitmap();
    EXPECT_EQ(analysis.pixelColor(10, 10), QColor(Qt::black));
    EXPECT_EQ(analysis.pixelColor(600, 10), QColor(200, 200, 200));
    EXPECT_EQ(analysis.pixelColor(1050, 10), QColor(200, 200, 200)); // beyond the mask
    EXPECT_EQ(page.DisplayBitmap().pixelColor(10, 10), QColor(200, 200, 200));
}

TEST_F(VideoFrameTest, AnalyserErrorSkipsTheFrameAndCaptureGoesOn) {
    TVideoFrame& page = CreateTestCameraPage();
    page.PlayActionExecute();
    Tick();
    const QString jpegSize = page.PanelText(4);
    Camera->Picture = TTestCameraScript::Grey(QSize(100, 1), 50);
    Tick();
    EXPECT_EQ(Errors, QStringList{"BitMap.height<2"});
    EXPECT_TRUE(page.CaptureTimer->isActive());
    EXPECT_EQ(page.PanelText(1), "2500"); // figures of the failed frame never shown
    EXPECT_EQ(page.PanelText(4), jpegSize);

    Camera->Picture = TTestCameraScript::Grey(QSize(100, 100), 50);
    Tick();
    EXPECT_EQ(Errors.size(), 1);
    EXPECT_EQ(page.DisplayBitmap().height(), 100);
}

TEST_F(VideoFrameTest, FailedGrabReconnectsOnTheSameTick) {
    TVideoFrame& page = CreateTestCameraPage();
    page.PlayActionExecute();
    Camera->GrabFails = true;
    Camera->Log.clear();
    Tick();
    EXPECT_EQ(Camera->Log, QStringList({"grab", "close", "open"}));
    EXPECT_TRUE(page.VideoCap->DriverOpen());
    EXPECT_TRUE(page.CaptureTimer->isActive());

    Camera->OpenFails = true;
    Tick();
    EXPECT_EQ(Errors, QStringList{"Can not connect capture driver with capture window: "
                                  "test camera failure"});
    EXPECT_FALSE(page.VideoCap->DriverOpen());
    EXPECT_TRUE(page.CaptureTimer->isActive());

    Camera->OpenFails = false;
    Camera->GrabFails = false;
    Camera->Log.clear();
    Tick(); // the next tick reconnects
    EXPECT_EQ(Camera->Log, QStringList{"open"});
    Tick();
    EXPECT_TRUE(page.Motion());
}

TEST_F(VideoFrameTest, PlayAndStopActions) {
    TVideoFrame& page = CreateTestCameraPage();
    page.ActionList1->UpdateActions();
    EXPECT_TRUE(page.PlayAction->isEnabled());
    EXPECT_FALSE(page.StopAction->isEnabled());

    page.PlayAction->trigger();
    EXPECT_TRUE(page.VideoCap->DriverOpen());
    EXPECT_TRUE(page.CaptureTimer->isActive());
    page.ActionList1->UpdateActions();
    EXPECT_FALSE(page.PlayAction->isEnabled());
    EXPECT_TRUE(page.StopAction->isEnabled());

    page.StopAction->trigger();
    EXPECT_FALSE(page.VideoCap->DriverOpen());
    EXPECT_FALSE(page.CaptureTimer->isActive());

    // A driver that will not open: the error reaches the application, the
    // cursor is restored and the timer stays off.
    Camera->OpenFails = true;
    EXPECT_THROW(page.PlayActionExecute(), ENotConnectException);
    EXPECT_EQ(HourGlass().Count(), 0);
    page.ActionList1->UpdateActions();
    page.PlayAction->trigger();
    EXPECT_EQ(Errors, QStringList{"Can not connect capture driver with capture window: "
                                  "test camera failure"});
    EXPECT_FALSE(page.CaptureTimer->isActive());

    page.VideoCap->SetDriverIndex(-1);
    Camera->Log.clear();
    page.PlayActionExecute();
    EXPECT_TRUE(Camera->Log.isEmpty());
}

TEST_F(VideoFrameTest, FrameWithoutBytesChangesNothing) {
    TVideoFrame& page = CreateTestCameraPage();
    page.PlayActionExecute();
    std::vector<std::uint8_t> data(100 * 100 * 3, 7);
    VIDEOHDR header;
    header.lpData = data.data();
    header.dwBufferLength = std::uint32_t(data.size());
    header.dwBytesUsed = 0;
    page.VideoCapFrameCallback(page.VideoCap, &header);
    EXPECT_EQ(page.LastFrameTime(), 0.0);
    EXPECT_TRUE(page.DisplayBitmap().isNull());
    // A frame shorter than its format is dropped too.
    header.dwBytesUsed = 100;
    page.VideoCapFrameCallback(page.VideoCap, &header);
    EXPECT_TRUE(page.DisplayBitmap().isNull());
}

TEST_F(VideoFrameTest, PaintingStretchedOrCentred) {
    Camera->Picture = Stripes(200, 100);
    TVideoFrame& page = CreateTestCameraPage();
    page.PlayActionExecute();
    Tick();
    page.PaintBox->resize(100, 50);
    const auto paint = [&] {
        QImage canvas(100, 50, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        page.PaintBoxPaint(painter);
        return canvas;
    };
    // Centred: the picture starts at (-50, -25), its edges cut off.
    QImage centred = paint();
    EXPECT_EQ(centred.pixelColor(10, 10), QColor(Qt::green));
    EXPECT_EQ(centred.pixelColor(90, 40), QColor(Qt::green));

    page.StretchAction->trigger();
    ASSERT_TRUE(page.StretchAction->isChecked());
    QImage stretched = paint();
    EXPECT_EQ(stretched.pixelColor(5, 10), QColor(Qt::red));
    EXPECT_EQ(stretched.pixelColor(95, 40), QColor(Qt::blue));

    page.kaPageControl->setCurrentWidget(page.MaskTabSheet);
    page.ActionList1->UpdateActions();
    EXPECT_FALSE(page.StretchAction->isEnabled());
    page.kaPageControl->setCurrentWidget(page.VideoTabSheet);
    page.ActionList1->UpdateActions();
    EXPECT_TRUE(page.StretchAction->isEnabled());
}

TEST_F(VideoFrameTest, APageThatGoesWhileItsFormatDialogIsOpenIsLeftAlone) {
    TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
    page.PlayActionExecute();
    Tick();
    TPageEndingDialogs dialogs([this] {
        delete Page->SceneFrame();
        Page.reset();
    });
    const TDialogsInstallation installed(&dialogs);
    page.DlgFormatActionExecute();
    EXPECT_EQ(Page, nullptr);
}

TEST_F(VideoFrameTest, FormatChangeRescalesTheMaskAndEmptiesTheAnalysisPicture) {
    TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
    TResizingDialogs dialogs(QSize(640, 480));
    const TDialogsInstallation installed(&dialogs);
    QImage mask = page.MaskBitmap();
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            mask.setPixel(x, y, 0);
    page.SetMaskBitmap(mask);

    // Before the first connection the old size is unknown: the mask stays.
    page.DlgFormatActionExecute();
    EXPECT_EQ(page.MaskBitmap().pixelColor(300, 200), QColor(Qt::black));

    page.PlayActionExecute();
    Tick();
    ASSERT_FALSE(page.AnalysisBitmap().isNull());
    dialogs = TResizingDialogs(QSize(320, 240));
    page.DlgFormatActionExecute();

    const QImage& rescaled = page.MaskBitmap();
    EXPECT_EQ(rescaled.pixelColor(150, 110), QColor(Qt::black));
    EXPECT_EQ(rescaled.pixelColor(170, 130), QColor(Qt::white));
    EXPECT_EQ(rescaled.pixelColor(300, 200), QColor(Qt::white));
    EXPECT_TRUE(page.AnalysisBitmap().isNull());
    Tick();
    EXPECT_EQ(page.AnalysisBitmap().size(), QSize(320, 240));
}

TEST_F(VideoFrameTest, AFormatChangeRescalesAMaskReadFromA32BitFile) {
    TVideoFrame& page = CreatePage({std::make_shared<TDemoCameraBackend>(1)});
    QImage mask(1024, 768, QImage::Format_RGB32);
    mask.fill(Qt::white);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            mask.setPixel(x, y, qRgb(0, 0, 0));
    MaskFile::Write(PathOf("Mask/deep.msk"), mask);
    page.LoadMask(PathOf("Mask/deep.msk"));
    ASSERT_EQ(page.MaskBitmap().format(), QImage::Format_RGB32);
    page.PlayActionExecute();
    Tick();
    TResizingDialogs dialogs(QSize(320, 240));
    const TDialogsInstallation installed(&dialogs);
    page.DlgFormatActionExecute();
    const QImage& rescaled = page.MaskBitmap();
    EXPECT_TRUE(rescaled.pixelColor(150, 110) == QColor(Qt::black));
    EXPECT_FALSE(rescaled.pixelColor(170, 130) == QColor(Qt::black));
    EXPECT_FALSE(rescaled.pixelColor(600, 500) == QColor(Qt::black))
        << "beyond the picture the mask is white";
}

TEST_F(VideoFrameTest, SetupDialogFollowsThePageVisibility) {
    TVideoFrame& page = CreateTestCameraPage();
    page.show();
    page.VideoSetupActionExecute();
    EXPECT_TRUE(page.SetupForm()->isVisible());
    page.hide();
    EXPECT_TRUE(page.SetupWasVisible());
    EXPECT_FALSE(page.SetupForm()->isVisible());
    page.hide(); // hiding a hidden page changes nothing
    EXPECT_TRUE(page.SetupWasVisible());
    page.show();
    EXPECT_TRUE(page.SetupForm()->isVisible());

    page.SetupForm()->close();
    page.hide();
    page.show();
    EXPECT_FALSE(page.SetupForm()->isVisible());
}

TEST_F(VideoFrameTest, MinimumSizeKeepsThePortEditInView) {
    TVideoFrame& page = CreateTestCameraPage();
    page.resize(900, 500);
    page.show();
    QCoreApplication::processEvents();
    page.resize(901, 500);
    const int portRight =
        page.UDPPortkaEdit->mapTo(&page, QPoint(0, 0)).x() + page.UDPPortkaEdit->width();
    EXPECT_EQ(page.minimumWidth(), portRight + 10);
    EXPECT_EQ(page.minimumHeight(), 200);
}

TEST_F(VideoFrameTest, DescriptionLanguageExclusionsAndMessagesAfterRestart) {
    TVideoFrame& page = CreateTestCameraPage();
    WriteComponentSetting(&page, "MaskFileName", "/masks/door.msk");
    page.SetDescription("Test camera");
    EXPECT_EQ(page.DescriptionkaLabel->text(), "Test camera");
    EXPECT_EQ(page.MaskFileName(), "/masks/door.msk");
    WriteComponentSetting(&page, "MaskFileName", "/masks/other.msk");
    page.SetDescription("Test camera"); // same description: nothing happens
    EXPECT_EQ(page.MaskFileName(), "/masks/door.msk");

    page.kaLanguage1BeforeExport();
    for (const QObject* component : std::initializer_list<const QObject*>{
             page.SourcekaEdit, page.ToolBar1, page.LastMotionkaLabel, page.MaskToolBar})
        EXPECT_TRUE(IsExcludedFromLanguage(component));
    EXPECT_FALSE(IsExcludedFromLanguage(page.UDPPortkaEdit));

    // A restarted library has forgotten the messages; the page registers them again.
    Library.reset();
    Library = std::make_unique<TkaLibrary>();
    RegisterMessage("OTHER_MSG_FIRST", "Other");
    page.SetLastFrameTime(2.5);
    EXPECT_TRUE(page.LastUpdatekaLabel->text().startsWith("Last Picture: "));
}
