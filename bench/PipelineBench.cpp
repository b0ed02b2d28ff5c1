#include "BenchSupport.h"
#include "DemoCamera.h"
#include "FVideoSetup.h"
#include "IdUDPClient.h"
#include "TJPEGImage.h"
#include "Videocap.h"
#include "frVideo.h"
#include "kaFramePipeline.h"
#include "kaGeneral.h"
#include "kaPictureAnalyser.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QApplication>
#include <QUdpSocket>
#include <benchmark/benchmark.h>
#include <memory>

// One camera page's frame at a given size, whole and stage by stage: grab
// from the demo camera, two conversions, the mask, the analysis and the JPEG
// compression of a motion frame at quality 50. The frame pipeline is also
// measured without a page, with and without a broadcast to 127.0.0.1. A
// camera that only copies pre-rendered frames measures what the product
// costs per frame without the demo's drawing, hidden and shown (painted).

namespace {

// A demo camera held at any size, also sizes the camera itself does not offer.
class TSizedDemoBackend final : public TCaptureBackend {
public:
    explicit TSizedDemoBackend(QSize size) : Settings(std::make_shared<TDemoCamera::TSettings>()) {
        Settings->Size = size;
    }
    int DeviceCount() override { return 1; }
    QString Description(int index) override { return index == 0 ? "Sized demo camera" : QString(); }
    QString Version(int) override { return "1"; }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override {
        return index == 0 ? std::make_unique<TDemoCamera>(1, Settings) : nullptr;
    }

private:
    std::shared_ptr<TDemoCamera::TSettings> Settings;
};

// A camera whose grab only copies one of two frames rendered beforehand, as
// a real camera's driver hands over its newest buffer. Still repeats the
// first frame, so only the first picture is a motion picture.
class TPrerenderedCamera final : public TCaptureDevice {
public:
    TPrerenderedCamera(QSize size, bool still)
        : Size(size), Frames{DemoFrame(size, 10), DemoFrame(size, still ? 10 : 40)} {}
    bool Open() override { return Opened = true; }
    void Close() override { Opened = false; }
    bool IsOpen() const override { return Opened; }
    TCaptureFormat Format() const override {
        return Opened ? TCaptureFormat{Size.width(), Size.height()} : TCaptureFormat{};
    }
    bool SetFormat(const TCaptureFormat&) override { return true; }
    QList<QSize> FrameSizes() override { return {Size}; }
    QStringList PixelFormats() override { return {QStringLiteral("BGR3")}; }
    QList<TCaptureControl> Controls() override { return {}; }
    bool SetControl(std::uint32_t, int) override { return false; }
    bool StartStreaming() override { return true; }
    void StopStreaming() override {}
    bool IsStreaming() const override { return Opened; }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override {
        frame = Frames[Next++ & 1];
        return true;
    }
    TCaptureCaps Caps() override { return {}; }
    QString ErrorText() const override { return {}; }

private:
    QSize Size;
    std::vector<std::uint8_t> Frames[2];
    unsigned Next = 0;
    bool Opened = false;
};

class TPrerenderedBackend final : public TCaptureBackend {
public:
    TPrerenderedBackend(QSize size, bool still) : Size(size), Still(still) {}
    int DeviceCount() override { return 1; }
    QString Description(int index) override { return index == 0 ? "Pre-rendered" : QString(); }
    QString Version(int) override { return "1"; }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override {
        return index == 0 ? std::make_unique<TPrerenderedCamera>(Size, Still) : nullptr;
    }

private:
    QSize Size;
    bool Still;
};

QSize SizeOf(const benchmark::State& state) {
    return QSize(int(state.range(0)), int(state.range(1)));
}

void CountFrames(benchmark::State& state) {
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BITMAPINFO InfoOf(QSize size) {
    BITMAPINFO info;
    info.bmiHeader = {40,
                      size.width(),
                      size.height(),
                      1,
                      24,
                      BI_RGB,
                      std::uint32_t(size.width() * size.height() * 3),
                      0,
                      0,
                      0,
                      0};
    return info;
}

QImage Picture(QSize size) {
    const std::vector<std::uint8_t> frame = DemoFrame(size);
    QImage picture;
    FrameToBitmap(picture, frame.data(), InfoOf(size));
    return picture;
}

// The whole frame through the page. The threshold is 0 and one segment more
// than "Anzahl Segmente" 1 suffices, so every frame is a motion frame and is
// compressed (and all segment rectangles are drawn).
void BM_PipelineFrame(benchmark::State& state) {
    SetCaptureBackends({std::make_shared<TSizedDemoBackend>(SizeOf(state))});
    {
        std::unique_ptr<TVideoFrame> page(CreateLoaded<TVideoFrame>(nullptr, nullptr));
        RestoreRemanentControls();
        page->SetupForm()->ThresholdTrackbarFrame->TrackBar->SetPosition(0);
        page->SetupForm()->MotionFrame->TrackBar->SetPosition(1);
        page->VideoCap->SetDriverIndex(0);
        page->PlayActionExecute();
        for (auto _ : state)
            page->CaptureTimerTimer();
        if (!page->Motion())
            state.SkipWithError("frames were not motion frames");
        state.counters["jpeg_bytes"] = double(page->Jpeg().Size());
    }
    SetCaptureBackends({});
    CountFrames(state);
}

// The page fed with pre-rendered frames: arguments width, height, whether
// every frame is a motion frame (threshold 0 as above) or the scene is still
// (default settings), and whether the page is shown, so that each frame is
// also painted (offscreen) as on the screen.
void BM_PipelinePrerendered(benchmark::State& state) {
    const bool motion = state.range(2) != 0;
    const bool shown = state.range(3) != 0;
    SetCaptureBackends({std::make_shared<TPrerenderedBackend>(SizeOf(state), !motion)});
    {
        std::unique_ptr<TVideoFrame> page(CreateLoaded<TVideoFrame>(nullptr, nullptr));
        RestoreRemanentControls();
        // Set either way: the track bars are remanent, so a run before would
        // leave its positions.
        page->SetupForm()->ThresholdTrackbarFrame->TrackBar->SetPosition(motion ? 0 : 40);
        page->SetupForm()->MotionFrame->TrackBar->SetPosition(motion ? 1 : 50);
        page->VideoCap->SetDriverIndex(0);
        page->PlayActionExecute();
        if (shown) {
            page->resize(SizeOf(state) + QSize(40, 160));
            page->show();
            QApplication::processEvents();
        }
        page->CaptureTimerTimer();
        for (auto _ : state) {
            page->CaptureTimerTimer();
            if (shown)
                QApplication::processEvents();
        }
        if (page->Motion() != motion)
            state.SkipWithError(motion ? "frames were not motion frames" : "the scene moved");
        page->StopActionExecute();
    }
    SetCaptureBackends({});
    CountFrames(state);
}

// The frame pipeline alone, every frame a motion frame as above; with
// Broadcast (second argument pair) each picture is also sent, to loopback.
void BM_PipelineWithoutPage(benchmark::State& state) {
    const QSize size = SizeOf(state);
    const bool broadcast = state.range(2) != 0;
    const std::vector<std::uint8_t> frame = DemoFrame(size);
    const BITMAPINFO info = InfoOf(size);
    VIDEOHDR header;
    header.lpData = const_cast<std::uint8_t*>(frame.data());
    header.dwBytesUsed = std::uint32_t(frame.size());

    TkaPictureAnalyser analyser;
    analyser.SetxSegments(50);
    analyser.SetySegments(50);
    analyser.SetThresholdMaxSegment(0);
    analyser.OnThresholdMaxSegment = [](TkaPictureAnalyser* sender, double, bool& motion) {
        TkaFramePipeline::MotionRule(*sender, 1, motion);
    };
    TkaFramePipeline pipeline(analyser);
    QUdpSocket receiver;
    receiver.bind(QHostAddress(QHostAddress::LocalHost), 0);
    TIdUDPClient sender;
    sender.SetPort(receiver.localPort());
    const QHostAddress previous = BroadcastAddress();
    SetBroadcastAddress(QHostAddress(QHostAddress::LocalHost));
    pipeline.SetSender(&sender);
    qint64 stored = 0;
    pipeline.OnStore = [&stored](TkaFramePipeline*, const TJPEGImage& jpeg) {
        stored += jpeg.Size();
    };
    const TFrameSettings settings{50, broadcast, QStringLiteral("Bench")};
    for (auto _ : state) {
        pipeline.ProcessFrame(header, info, settings);
        // Keeps the receive buffer from filling; a dropped datagram costs nothing here.
        while (receiver.hasPendingDatagrams())
            receiver.readDatagram(nullptr, 0);
    }
    SetBroadcastAddress(previous);
    if (!pipeline.Motion())
        state.SkipWithError("frames were not motion frames");
    state.counters["jpeg_bytes"] = double(pipeline.Jpeg().Size());
    benchmark::DoNotOptimize(stored);
    CountFrames(state);
}

void BM_StageGrab(benchmark::State& state) {
    auto settings = std::make_shared<TDemoCamera::TSettings>();
    settings->Size = SizeOf(state);
    TDemoCamera camera(1, settings);
    camera.Open();
    std::vector<std::uint8_t> frame;
    for (auto _ : state) {
        camera.GrabFrame(frame);
        benchmark::DoNotOptimize(frame.data());
    }
    CountFrames(state);
}

void BM_StageTwoConversions(benchmark::State& state) {
    const std::vector<std::uint8_t> frame = DemoFrame(SizeOf(state));
    const BITMAPINFO info = InfoOf(SizeOf(state));
    QImage display;
    QImage analysis;
    for (auto _ : state) {
        FrameToBitmap(display, frame.data(), info, qsizetype(frame.size()));
        FrameToBitmap(analysis, frame.data(), info, qsizetype(frame.size()));
        benchmark::DoNotOptimize(analysis.constBits());
    }
    CountFrames(state);
}

void BM_StageMask(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    QImage mask(TkaFramePipeline::MaskWidth, TkaFramePipeline::MaskHeight, QImage::Format_Indexed8);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(1);
    // As the pipeline keeps it: prepared once, applied per frame.
    TkaMaskLayout layout;
    for (auto _ : state) {
        layout.Apply(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
    CountFrames(state);
}

void BM_StageAnalysis(benchmark::State& state) {
    const QImage first = Picture(SizeOf(state));
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(50);
    analyser.SetySegments(50);
    analyser.SetThresholdMaxSegment(0.04);
    for (auto _ : state)
        benchmark::DoNotOptimize(analyser.Analyse(first));
    CountFrames(state);
}

void BM_StageJpeg(benchmark::State& state) {
    const QImage picture = Picture(SizeOf(state));
    TJPEGImage jpeg;
    for (auto _ : state) {
        jpeg.Assign(picture);
        jpeg.SetQuality(50);
        jpeg.Compress();
        jpeg.FreeBitmap();
        benchmark::DoNotOptimize(jpeg.Size());
    }
    CountFrames(state);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PipelineFrame)->Apply(Sizes);
BENCHMARK(BM_PipelinePrerendered)
    ->ArgNames({"w", "h", "motion", "shown"})
    ->ArgsProduct({{640}, {480}, {0, 1}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineWithoutPage)
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StageGrab)->Apply(Sizes);
BENCHMARK(BM_StageTwoConversions)->Apply(Sizes);
BENCHMARK(BM_StageMask)->Apply(Sizes);
BENCHMARK(BM_StageAnalysis)->Apply(Sizes);
BENCHMARK(BM_StageJpeg)->Apply(Sizes);

} // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
