#include "FVideoSetup.h"
#include "PageFixture.h"
#include "kaAction.h"
#include "kaLabel.h"
#include "kaPictureAnalyser.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QLocale>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace {

// Sets the default locale for its lifetime.
class TLocaleScope {
public:
    explicit TLocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~TLocaleScope() { QLocale::setDefault(Previous); }
    TLocaleScope(const TLocaleScope&) = delete;
    TLocaleScope& operator=(const TLocaleScope&) = delete;

private:
    QLocale Previous;
};

struct TExpectedFrame {
    TkaTrackbarFrame* TVideoSetupForm::*Frame;
    const char* Caption;
    const char* Hint;
    int Min;
    int Max;
    int Position;
    int Frequency;
};

} // namespace

class VideoSetupTest : public PageFixture {};

TEST_F(VideoSetupTest, DefaultsReachThePageAtTheRestore) {
    TVideoFrame& page = CreateTestCameraPage();
    TVideoSetupForm& setup = *page.SetupForm();
    EXPECT_EQ(setup.windowTitle(), "Motion Detector");
    EXPECT_EQ(setup.Page(), &page);
    EXPECT_EQ(ComponentPath(setup.QualityFrame->TrackBar), "VideoSetupForm.QualityFrame.TrackBar");

    const TExpectedFrame frames[] = {
        {&TVideoSetupForm::ThresholdTrackbarFrame, "Schwellwert", "Schwellwert", 0, 1000, 40, 100},
        {&TVideoSetupForm::XTrackbarFrame, "Segment X", "Segment X", 2, 100, 50, 10},
        {&TVideoSetupForm::YTrackbarFrame, "Segment Y", "Segment Y", 2, 100, 50, 10},
        {&TVideoSetupForm::MotionFrame, "Anzahl Segmente", "Number of Segments", 1, 100, 50, 10},
        {&TVideoSetupForm::mSecBetweenFrame, "Framepause", "Framepause", 1, 10000, 100, 1000},
        {&TVideoSetupForm::QualityFrame, "Quality", "Quality", 1, 100, 50, 10},
    };
    for (const TExpectedFrame& expected : frames) {
        const TkaTrackbarFrame* frame = setup.*expected.Frame;
        SCOPED_TRACE(expected.Caption);
        EXPECT_EQ(frame->kaLabel1->text().remove(QLatin1Char('&')), expected.Caption);
        EXPECT_EQ(frame->TrackBar->toolTip(), expected.Hint);
        EXPECT_EQ(frame->TrackBar->Min(), expected.Min);
        EXPECT_EQ(frame->TrackBar->Max(), expected.Max);
        EXPECT_EQ(frame->TrackBar->Position(), expected.Position);
        EXPECT_EQ(frame->TrackBar->Frequency(), expected.Frequency);
    }
    EXPECT_EQ(setup.mSecBetweenFrame->TrackBar->pageStep(), 100);

    EXPECT_DOUBLE_EQ(page.kaPictureAnalyser->ThresholdMaxSegment(), 0.04);
    EXPECT_EQ(page.kaPictureAnalyser->xSegments(), 50);
    EXPECT_EQ(page.kaPictureAnalyser->ySegments(), 50);
    EXPECT_EQ(page.CaptureTimer->interval(), 100);
    EXPECT_EQ(setup.MotionSegments(), 50);
    EXPECT_EQ(setup.Quality(), 50);
    EXPECT_EQ(setup.ThresholdTrackbarFrame->kaLabel2->text(), "4%");
    EXPECT_EQ(setup.XTrackbarFrame->kaLabel2->text(), "50");
    EXPECT_EQ(setup.mSecBetweenFrame->kaLabel2->text(), "100");
}

TEST_F(VideoSetupTest, ChangesGoToThePageAtOnce) {
    TVideoFrame& page = CreateTestCameraPage();
    TVideoSetupForm& setup = *page.SetupForm();
    page.PlayActionExecute();

    setup.mSecBetweenFrame->TrackBar->SetPosition(250);
    EXPECT_EQ(page.CaptureTimer->interval(), 250);
    EXPECT_TRUE(page.CaptureTimer->isActive());
    EXPECT_EQ(setup.mSecBetweenFrame->kaLabel2->text(), "250");

    setup.ThresholdTrackbarFrame->TrackBar->SetPosition(45);
    EXPECT_EQ(setup.ThresholdTrackbarFrame->kaLabel2->text(), "4.5%");
    EXPECT_DOUBLE_EQ(page.kaPictureAnalyser->ThresholdMaxSegment(), 0.045);
    {
        const TLocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        setup.ThresholdTrackbarFrame->TrackBar->SetPosition(0);
        EXPECT_EQ(setup.ThresholdTrackbarFrame->kaLabel2->text(), "0%");
        EXPECT_EQ(page.kaPictureAnalyser->ThresholdMaxSegment(), 0.0);
        setup.ThresholdTrackbarFrame->TrackBar->SetPosition(1000);
        EXPECT_EQ(setup.ThresholdTrackbarFrame->kaLabel2->text(), "100%");
        setup.ThresholdTrackbarFrame->TrackBar->SetPosition(45);
        EXPECT_EQ(setup.ThresholdTrackbarFrame->kaLabel2->text(), "4,5%");
    }

    // The grid cannot go below 2 segments.
    setup.XTrackbarFrame->TrackBar->SetPosition(0);
    setup.YTrackbarFrame->TrackBar->SetPosition(7);
    EXPECT_EQ(page.kaPictureAnalyser->xSegments(), 2);
    EXPECT_EQ(page.kaPictureAnalyser->ySegments(), 7);

    setup.QualityFrame->TrackBar->SetPosition(80);
    setup.MotionFrame->TrackBar->SetPosition(3);
    EXPECT_EQ(setup.Quality(), 80);
    EXPECT_EQ(setup.MotionSegments(), 3);
    EXPECT_EQ(setup.QualityFrame->kaLabel2->text(), "80");
}

TEST_F(VideoSetupTest, QualityIsUsedForTheNextMotionPicture) {
    TVideoFrame& page = CreateTestCameraPage();
    QImage noisy(160, 120, QImage::Format_BGR888);
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x)
            noisy.setPixelColor(x, y, QColor((x * 37) % 256, (y * 91) % 256, (x * y) % 256));
    Camera->Picture = noisy;
    page.SetupForm()->QualityFrame->TrackBar->SetPosition(10);
    page.PlayActionExecute();
    page.CaptureTimerTimer();
    const qint64 coarse = page.Jpeg().Size();
    page.SetupForm()->QualityFrame->TrackBar->SetPosition(95);
    page.SetupForm()->ThresholdTrackbarFrame->TrackBar->SetPosition(0); // every frame is motion
    page.SetupForm()->MotionFrame->TrackBar->SetPosition(1);
    page.CaptureTimerTimer();
    EXPECT_GT(page.Jpeg().Size(), coarse * 2);
}

TEST_F(VideoSetupTest, PagesShareTheStoredValuesButNotTheRunningOnes) {
    TVideoFrame& first = CreateTestCameraPage();
    std::unique_ptr<TVideoFrame> second(CreateLoaded<TVideoFrame>(nullptr, nullptr));
    RestoreRemanentControls();
    first.SetupForm()->QualityFrame->TrackBar->SetPosition(80);
    first.SetupForm()->mSecBetweenFrame->TrackBar->SetPosition(500);
    EXPECT_EQ(second->SetupForm()->Quality(), 50);
    EXPECT_EQ(second->CaptureTimer->interval(), 100);

    // The next program run: both pages start with the stored values.
    second.reset();
    Page.reset();
    Library.reset();
    Library = std::make_unique<TkaLibrary>();
    TVideoFrame& again = CreateTestCameraPage();
    std::unique_ptr<TVideoFrame> other(CreateLoaded<TVideoFrame>(nullptr, nullptr));
    RestoreRemanentControls();
    EXPECT_EQ(again.SetupForm()->Quality(), 80);
    EXPECT_EQ(other->SetupForm()->Quality(), 80);
    EXPECT_EQ(other->CaptureTimer->interval(), 500);
}

TEST_F(VideoSetupTest, ClosingOnlyHides) {
    TVideoFrame& page = CreateTestCameraPage();
    QPointer<TVideoSetupForm> setup = page.SetupForm();
    page.VideoSetupAction->trigger();
    EXPECT_TRUE(setup->isVisible());
    setup->close();
    EXPECT_FALSE(setup->isVisible());
    ASSERT_FALSE(setup.isNull());
    EXPECT_TRUE(setup->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

// A maximised main window leaves no room beside it: the dialog's frame ends at
// the screen's right edge below the main window's title bar, never above the
// top of the screen, whatever the frames' thickness.
TEST_F(VideoSetupTest, PlacementKeepsTheTitleBarOnScreenAndTheMainButtonsFree) {
    const QRect available(0, 24, 1280, 776); // a panel at the top
    const QSize frameSize(171, 326);
    const auto place = [&](const QRect& mainFrame, int titleBar) {
        const QRect client = mainFrame.adjusted(3, titleBar, -3, -3);
        return QRect(TVideoSetupForm::FrameTopLeft(mainFrame, client, frameSize, available),
                     frameSize);
    };
    // Room beside: right of it, tops aligned.
    EXPECT_EQ(place(QRect(100, 100, 600, 500), 28).topLeft(), QPoint(700, 100));
    // Maximised: at the right edge, below the title bar.
    const QRect maximised = place(available, 28);
    EXPECT_EQ(maximised.topLeft(), QPoint(1280 - 171, 24 + 28));
    // A main window pushed above the screen's top, or too low for the dialog.
    EXPECT_EQ(place(QRect(1100, -60, 600, 500), 28).top(), 24);
    EXPECT_EQ(place(QRect(200, 700, 600, 500), 28).bottom(), available.bottom());
    // Larger than the screen: its title bar and left edge stay reachable.
    EXPECT_EQ(TVideoSetupForm::FrameTopLeft(available, available, QSize(2000, 900), available),
              available.topLeft());
}

TEST_F(VideoSetupTest, PlacedBesideAMaximisedMainWindowWithinTheScreen) {
    TVideoFrame& page = CreateTestCameraPage();
    QWidget main;
    main.showMaximized();
    const QRect available = main.screen()->availableGeometry();
    page.VideoSetupAction->trigger();
    TVideoSetupForm* setup = page.SetupForm();
    setup->PlaceBeside(main);
    EXPECT_TRUE(available.contains(setup->frameGeometry()));
    EXPECT_EQ(setup->frameGeometry().right(), available.right());
    EXPECT_GE(setup->frameGeometry().top(), main.geometry().top());

    // A main window dragged partly above the screen.
    main.showNormal();
    main.setGeometry(QRect(available.left() + 10, available.top() - 50, 300, 200));
    setup->PlaceBeside(main);
    EXPECT_TRUE(available.contains(setup->frameGeometry()));
    EXPECT_EQ(setup->frameGeometry().left(), main.frameGeometry().right() + 1);
}
