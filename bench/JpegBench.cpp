#include "TJPEGImage.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

// A camera-like scene: gradients, a few shapes and sensor noise, so the
// encoder has real detail to work on.
QImage Scene(int width, int height) {
    QImage image(width, height, QImage::Format_BGR888);
    unsigned seed = 2024;
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int((seed >> 16) % 16) - 8;
            const bool box = (x / 97 + y / 83) % 3 == 0;
            const double wave = 60 * std::sin(x * 0.05) * std::cos(y * 0.07);
            row[3 * x] = uchar(std::clamp(int(90 + wave) + noise + (box ? 80 : 0), 0, 255));
            row[3 * x + 1] = uchar(std::clamp(y * 200 / height + noise, 0, 255));
            row[3 * x + 2] = uchar(std::clamp(x * 220 / width + noise - (box ? 60 : 0), 0, 255));
        }
    }
    return image;
}

// The pipeline's step for a motion frame: assign, compress, release.
void BM_Compress(benchmark::State& state) {
    const QImage scene = Scene(int(state.range(0)), int(state.range(1)));
    qint64 bytes = 0;
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.Assign(scene);
        jpeg.SetQuality(50);
        jpeg.Compress();
        jpeg.FreeBitmap();
        bytes = jpeg.Size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["jpeg_bytes"] = double(bytes);
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Compress)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// A viewer's paint: decode the full picture, then release it again.
void BM_Decode(benchmark::State& state) {
    TJPEGImage jpeg;
    jpeg.Assign(Scene(int(state.range(0)), int(state.range(1))));
    jpeg.SetQuality(50);
    jpeg.FreeBitmap();
    for (auto _ : state) {
        benchmark::DoNotOptimize(jpeg.Decode().constBits());
        jpeg.FreeBitmap();
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decode)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
