// Time of one analysis of a BGR frame on a 50 x 50 grid, next to a plain sum of
// the same frame's bytes, which is the memory-bound floor the analysis is
// measured against.
#include "kaPictureAnalyser.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>

namespace {

QImage RandomFrame(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_BGR888);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int k = 0; k < width * 3; ++k)
            row[k] = static_cast<uchar>(random());
    }
    return image;
}

std::uint64_t ByteSum(const uchar* data, qsizetype size) {
    std::uint64_t total = 0;
    for (qsizetype k = 0; k < size; ++k)
        total += data[k];
    return total;
}

// The same sum with 16-bit partial totals per 256-byte block, which the
// compiler turns into far fewer, wider additions: a tighter floor than the
// plain loop, whose 64-bit widening of every byte costs more than the reads.
std::uint64_t BlockedByteSum(const uchar* data, qsizetype size) {
    std::uint64_t total = 0;
    qsizetype k = 0;
    for (; k + 256 <= size; k += 256) {
        std::uint16_t block = 0;
        for (int i = 0; i < 256; ++i)
            block = static_cast<std::uint16_t>(block + data[k + i]);
        total += block;
    }
    for (; k < size; ++k)
        total += data[k];
    return total;
}

void BM_Analyse(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    // Two frames alternate, as consecutive camera frames would.
    const QImage frames[2] = {RandomFrame(width, height, 1), RandomFrame(width, height, 2)};
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(50);
    analyser.SetySegments(50);
    analyser.SetThresholdMaxSegment(0.04);
    int n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(analyser.Analyse(frames[n++ & 1]));
    state.SetBytesProcessed(state.iterations() * frames[0].sizeInBytes());
}

void BM_ByteSum(benchmark::State& state) {
    const QImage frame =
        RandomFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 1);
    for (auto _ : state) {
        // Read the buffer afresh each time, as the analysis does.
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::DoNotOptimize(ByteSum(frame.constBits(), frame.sizeInBytes()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.sizeInBytes());
}

void BM_BlockedByteSum(benchmark::State& state) {
    const QImage frame =
        RandomFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::DoNotOptimize(BlockedByteSum(frame.constBits(), frame.sizeInBytes()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frame.sizeInBytes());
}

} // namespace

BENCHMARK(BM_Analyse)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ByteSum)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlockedByteSum)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
