#include "DemoCamera.h"

#include "DemoCameraBackend.h"
#include "kaFramePipeline.h"
#include "kaPictureAnalyser.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

namespace {

std::unique_ptr<TDemoCamera> MakeCamera(int number = 1) {
    auto camera = std::make_unique<TDemoCamera>(number, std::make_shared<TDemoCamera::TSettings>());
    camera->Open();
    return camera;
}

std::vector<std::uint8_t> Frame(TDemoCamera& camera, int number) {
    std::vector<std::uint8_t> frame;
    camera.Render(number, frame);
    return frame;
}

// Pixels where some colour value differs by more than Threshold.
int ChangedPixels(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                  int threshold) {
    int changed = 0;
    for (std::size_t i = 0; i + 2 < a.size(); i += 3)
        for (std::size_t c = 0; c < 3; ++c)
            if (std::abs(int(a[i + c]) - int(b[i + c])) > threshold) {
                ++changed;
                break;
            }
    return changed;
}

TEST(DemoCameraTest, TheSameFrameNumberGivesTheSamePicture) {
    auto camera = MakeCamera();
    std::vector<std::uint8_t> grabbed;
    ASSERT_TRUE(camera->GrabFrame(grabbed));
    ASSERT_EQ(grabbed.size(), std::size_t(640 * 480 * 3));
    EXPECT_EQ(grabbed, Frame(*MakeCamera(), 0)) << "a fresh camera starts at frame 0";
    EXPECT_EQ(Frame(*camera, 17), Frame(*MakeCamera(), 17));
    EXPECT_NE(Frame(*camera, 17), Frame(*MakeCamera(2), 17)) << "cameras differ";
}

TEST(DemoCameraTest, TheVisitorWalksAndThenStandsWhileNoiseGoesOn) {
    auto camera = MakeCamera();
    const int noise = 2 * TDemoCamera::NoiseAmplitude;
    const QRect visitor = camera->VisitorRect(0);
    const int visitorArea = visitor.width() * visitor.height();

    EXPECT_GT(ChangedPixels(Frame(*camera, 0), Frame(*camera, 15), noise), visitorArea);
    EXPECT_NE(camera->VisitorRect(TDemoCamera::MoveFrames - 1),
              camera->VisitorRect(TDemoCamera::MoveFrames));

    const int rest = TDemoCamera::MoveFrames;
    EXPECT_EQ(camera->VisitorRect(rest), camera->VisitorRect(TDemoCamera::LeaveFrame - 1));
    const auto a = Frame(*camera, rest + 1);
    const auto b = Frame(*camera, rest + 2);
    EXPECT_NE(a, b) << "sensor noise";
    EXPECT_EQ(ChangedPixels(a, b, noise), 0) << "nothing but noise once the visitor stands";
}

// The noise lies on every part of the picture within its amplitude, with every
// offset in use, and changes every frame; a changed contrast applies to the
// noisy values.
TEST(DemoCameraTest, NoiseCoversThePictureWithinItsAmplitudeAndChangesEveryFrame) {
    auto camera = MakeCamera();
    const int rest = TDemoCamera::MoveFrames + 1;
    const auto a = Frame(*camera, rest);
    const auto b = Frame(*camera, rest + 1);
    constexpr int Spread = 2 * TDemoCamera::NoiseAmplitude;
    std::array<int, 2 * Spread + 1> differences{};
    std::array<int, 30> changedPerStrip{}; // 16 rows each
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int d = int(a[i]) - int(b[i]);
        ++differences[std::size_t(std::clamp(d + Spread, 0, 2 * Spread))];
        changedPerStrip[i / (640 * 3 * 16)] += d != 0 ? 1 : 0;
    }
    EXPECT_GT(*std::min_element(differences.begin(), differences.end()), 1000);
    EXPECT_GT(*std::min_element(changedPerStrip.begin(), changedPerStrip.end()), 640 * 3 * 8);

    ASSERT_TRUE(camera->SetControl(V4L2_CID_CONTRAST, 150));
    const auto strong = Frame(*camera, rest);
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(strong[i], std::clamp((int(a[i]) - 128) * 150 / 100 + 128, 0, 255)) << i;
}

// Someone watching for a while sees motion again: the visitor walks back and
// comes again, the same way every time.
TEST(DemoCameraTest, TheVisitorComesBackAboutEveryHalfMinute) {
    auto camera = MakeCamera();
    const int period = TDemoCamera::ReturnFrames;
    // About half a minute at the page's pace of roughly ten frames a second.
    EXPECT_GE(period, 200);
    EXPECT_LE(period, 450);
    const QRect start = camera->VisitorRect(0);
    const QRect across = camera->VisitorRect(TDemoCamera::MoveFrames);
    ASSERT_NE(start, across);
    // Back at the left edge before the next visit, then across again.
    EXPECT_EQ(camera->VisitorRect(period - 1), start);
    EXPECT_EQ(camera->VisitorRect(period + TDemoCamera::MoveFrames), across);
    EXPECT_EQ(camera->VisitorRect(5 * period + 7), camera->VisitorRect(7));
    // Every visit shows motion in the pictures, the tenth as the first.
    const int noise = 2 * TDemoCamera::NoiseAmplitude;
    const int area = start.width() * start.height();
    EXPECT_GT(ChangedPixels(Frame(*camera, 10 * period), Frame(*camera, 10 * period + 15), noise),
              area);
    EXPECT_EQ(ChangedPixels(Frame(*camera, period - 2), Frame(*camera, period - 1), noise), 0);
}

// With the detector's defaults (4 %, a 50 x 50 grid, more than 50 segments)
// the walk back and the next visit are motion frames, the standing is not.
TEST(DemoCameraTest, EveryVisitIsDetectedWithTheDefaultSettings) {
    auto camera = MakeCamera();
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(50);
    analyser.SetySegments(50);
    analyser.SetThresholdMaxSegment(0.04);
    analyser.OnThresholdMaxSegment = [](TkaPictureAnalyser* sender, double, bool& motion) {
        TkaFramePipeline::MotionRule(*sender, 50, motion);
    };
    const auto motionFrames = [&](int from, int to) {
        int count = 0;
        for (int n = from - 1; n < to; ++n) {
            std::vector<std::uint8_t> frame = Frame(*camera, n);
            const QImage picture(frame.data(), 640, 480, 640 * 3, QImage::Format_BGR888);
            const bool motion = analyser.Analyse(picture);
            count += n >= from && motion ? 1 : 0;
        }
        return count;
    };
    const int leave = TDemoCamera::LeaveFrame;
    const int period = TDemoCamera::ReturnFrames;
    EXPECT_EQ(motionFrames(leave - 20, leave), 0);
    EXPECT_GE(motionFrames(leave, leave + TDemoCamera::MoveFrames), TDemoCamera::MoveFrames / 2);
    EXPECT_EQ(motionFrames(period - 20, period), 0);
    EXPECT_GE(motionFrames(period, period + TDemoCamera::MoveFrames), TDemoCamera::MoveFrames / 2);
}

TEST(DemoCameraTest, OffersSizesAndSettlesOnTheNearest) {
    auto settings = std::make_shared<TDemoCamera::TSettings>();
    TDemoCamera camera(1, settings);
    EXPECT_EQ(camera.Format(), TCaptureFormat{}) << "no format while closed";
    camera.Open();
    EXPECT_EQ(camera.FrameSizes().size(), 4);
    ASSERT_TRUE(camera.SetFormat({1280, 700, CapturePixelFormatBGR24}));
    EXPECT_EQ(camera.Format(), (TCaptureFormat{1280, 720, CapturePixelFormatBGR24}));
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(camera.GrabFrame(frame));
    EXPECT_EQ(frame.size(), std::size_t(1280 * 720 * 3));
    EXPECT_FALSE(camera.SetFormat({640, 480, 0x56595559}));

    TDemoCamera reconnected(1, settings);
    reconnected.Open();
    EXPECT_EQ(reconnected.Format().Width, 1280);
}

TEST(DemoCameraTest, BrightnessShiftsThePicture) {
    auto camera = MakeCamera();
    const auto before = Frame(*camera, 3);
    ASSERT_TRUE(camera->SetControl(V4L2_CID_BRIGHTNESS, 40));
    const auto after = Frame(*camera, 3);
    long long sum = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        sum += int(after[i]) - int(before[i]);
    EXPECT_GT(double(sum) / double(before.size()), 30.0);
    EXPECT_FALSE(camera->SetControl(0x1234, 1));
}

TEST(DemoCameraTest, TheBackendOffersAtMostTenCameras) {
    TDemoCameraBackend backend(15);
    EXPECT_EQ(backend.DeviceCount(), MaxCaptureDrivers);
    EXPECT_EQ(backend.Description(9), "Demo camera 10");
    EXPECT_EQ(backend.CreateDevice(10), nullptr);
}

} // namespace
