#include "DemoCamera.h"
#include "DemoCameraBackend.h"
#include "Videocap.h"

#include <benchmark/benchmark.h>

namespace {

// The demo camera's picture alone: background, visitor, noise.
void BM_DemoCameraGrab(benchmark::State& state) {
    TDemoCamera camera(1, std::make_shared<TDemoCamera::TSettings>());
    camera.Open();
    std::vector<std::uint8_t> frame;
    for (auto _ : state) {
        camera.GrabFrame(frame);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(state.iterations() * qsizetype(frame.size()));
}
BENCHMARK(BM_DemoCameraGrab)->Unit(benchmark::kMicrosecond);

void BM_FrameToBitmap(benchmark::State& state) {
    std::vector<std::uint8_t> frame(640 * 480 * 3, 0x55);
    BITMAPINFO info;
    info.bmiHeader = {40, 640, 480, 1, 24, BI_RGB, 640 * 480 * 3, 0, 0, 0, 0};
    QImage bitmap;
    for (auto _ : state) {
        FrameToBitmap(bitmap, frame.data(), info, qsizetype(frame.size()));
        benchmark::DoNotOptimize(bitmap.constBits());
    }
    state.SetBytesProcessed(state.iterations() * qsizetype(frame.size()));
}
BENCHMARK(BM_FrameToBitmap)->Unit(benchmark::kMicrosecond);

// One tick of a camera page: grab through TVideoCap and decode the frame
// twice (display and analysis picture) inside the frame callback.
void BM_VideoCapGrabAndDecodeTwice(benchmark::State& state) {
    SetCaptureBackends({std::make_shared<TDemoCameraBackend>(1)});
    {
        TVideoCap cap;
        QImage display;
        QImage analysis;
        cap.OnFrameCallback = [&](QObject*, PVIDEOHDR header) {
            BITMAPINFO info;
            cap.GetBitmapInfo(info);
            FrameToBitmap(display, header->lpData, info, header->dwBytesUsed);
            FrameToBitmap(analysis, header->lpData, info, header->dwBytesUsed);
        };
        cap.SetDriverIndex(0);
        cap.SetDriverOpen(true);
        for (auto _ : state)
            benchmark::DoNotOptimize(cap.GrabFrame());
    }
    SetCaptureBackends({});
}
BENCHMARK(BM_VideoCapGrabAndDecodeTwice)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
