#include "kaFramePipeline.h"
#include "kaMaskBitmap.h"

#include <QImage>
#include <array>
#include <benchmark/benchmark.h>

// The mask step of a frame at 640 x 480 and 1920 x 1080: the per-pixel rule
// (a colour lookup and three ANDs per pixel, as the step was first written)
// against the prepared layout with a painted mask and with the white default.

namespace {

QImage Picture(QSize size) {
    QImage picture(size, QImage::Format_BGR888);
    for (int y = 0; y < size.height(); ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < size.width() * 3; ++x)
            row[x] = uchar(x * 7 + y * 13);
    }
    return picture;
}

// A painted mask: a black band across the top (a street) and a black frame
// round the whole mask, so every row of it changes the picture from its
// first to its last pixel (the layout's worst case).
QImage PaintedMask() {
    QImage mask = MaskBitmap::White(TkaFramePipeline::MaskWidth, TkaFramePipeline::MaskHeight);
    for (int y = 0; y < 160; y += 10)
        MaskBitmap::DrawLine(mask, {0, y}, {1023, y}, 20, true);
    MaskBitmap::DrawLine(mask, {0, 0}, {0, 767}, 3, true);
    MaskBitmap::DrawLine(mask, {1023, 0}, {1023, 767}, 3, true);
    return mask;
}

void PerPixelRule(QImage& picture, const QImage& mask) {
    std::array<std::array<uchar, 3>, 256> colours{};
    const QList<QRgb> table = mask.colorTable();
    for (int i = 0; i < int(table.size()); ++i)
        colours[std::size_t(i)] = {uchar(qBlue(table[i])), uchar(qGreen(table[i])),
                                   uchar(qRed(table[i]))};
    const int width = std::min(picture.width(), mask.width());
    const int height = std::min(picture.height(), mask.height());
    for (int y = 0; y < height; ++y) {
        uchar* pixel = picture.scanLine(y);
        const uchar* index = mask.constScanLine(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            const std::array<uchar, 3>& colour = colours[index[x]];
            pixel[0] &= colour[0];
            pixel[1] &= colour[1];
            pixel[2] &= colour[2];
        }
    }
}

QSize SizeOf(const benchmark::State& state) {
    return QSize(int(state.range(0)), int(state.range(1)));
}

void BM_MaskPerPixel(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    const QImage mask = PaintedMask();
    for (auto _ : state) {
        PerPixelRule(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void BM_MaskPerPixelWhite(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    const QImage mask =
        MaskBitmap::White(TkaFramePipeline::MaskWidth, TkaFramePipeline::MaskHeight);
    for (auto _ : state) {
        PerPixelRule(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void BM_MaskLayout(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    const QImage mask = PaintedMask();
    TkaMaskLayout layout;
    for (auto _ : state) {
        layout.Apply(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void BM_MaskLayoutWhite(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    const QImage mask =
        MaskBitmap::White(TkaFramePipeline::MaskWidth, TkaFramePipeline::MaskHeight);
    TkaMaskLayout layout;
    for (auto _ : state) {
        layout.Apply(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

// The worst case: every pixel of the mask grey, so every covered byte is ANDed.
void BM_MaskLayoutGrey(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    QImage mask = MaskBitmap::White(TkaFramePipeline::MaskWidth, TkaFramePipeline::MaskHeight);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(0xf0, 0xf0, 0xf0)});
    TkaMaskLayout layout;
    for (auto _ : state) {
        layout.Apply(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

// What a change of the mask (one stroke) costs once: the layout is built anew.
void BM_MaskLayoutRebuild(benchmark::State& state) {
    QImage picture = Picture(SizeOf(state));
    QImage mask = PaintedMask();
    TkaMaskLayout layout;
    for (auto _ : state) {
        mask.scanLine(700)[0] = 0;
        layout.Apply(picture, mask);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_MaskPerPixel)->Apply(Sizes);
BENCHMARK(BM_MaskLayout)->Apply(Sizes);
BENCHMARK(BM_MaskPerPixelWhite)->Apply(Sizes);
BENCHMARK(BM_MaskLayoutWhite)->Apply(Sizes);
BENCHMARK(BM_MaskLayoutGrey)->Apply(Sizes);
BENCHMARK(BM_MaskLayoutRebuild)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
