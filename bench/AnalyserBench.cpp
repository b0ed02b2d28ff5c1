// Time of one analysis of a BGR frame on a 50 x 50 grid, next to sums of the
// same frames' bytes: a plain one, a blocked one the analysis is measured
// against, and the read floor, the distance to the memory. Every one of them
// alternates the same two frames, as consecutive camera frames would come,
// so none reads from a cache the others cannot use.
#include "kaPictureAnalyser.h"

#include <QImage>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <immintrin.h>
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

// The read floor: psadbw sums 8 bytes into one 64-bit lane per instruction,
// so this reads the frame as fast as the core can load it. AVX2 when the
// machine has it, SSE2 (every x86-64) otherwise.
[[gnu::target("avx2")]] std::uint64_t SadByteSumAvx2(const uchar* data, qsizetype size) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i total = zero;
    qsizetype k = 0;
    for (; k + 32 <= size; k += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + k));
        total = _mm256_add_epi64(total, _mm256_sad_epu8(bytes, zero));
    }
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), total);
    std::uint64_t sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; k < size; ++k)
        sum += data[k];
    return sum;
}

std::uint64_t SadByteSumSse2(const uchar* data, qsizetype size) {
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero;
    qsizetype k = 0;
    for (; k + 16 <= size; k += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k));
        total = _mm_add_epi64(total, _mm_sad_epu8(bytes, zero));
    }
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), total);
    std::uint64_t sum = lanes[0] + lanes[1];
    for (; k < size; ++k)
        sum += data[k];
    return sum;
}

std::uint64_t SadByteSum(const uchar* data, qsizetype size) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? SadByteSumAvx2(data, size) : SadByteSumSse2(data, size);
}

std::array<QImage, 2> TwoFrames(const benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    return {RandomFrame(width, height, 1), RandomFrame(width, height, 2)};
}

void BM_Analyse(benchmark::State& state) {
    const std::array<QImage, 2> frames = TwoFrames(state);
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
    const std::array<QImage, 2> frames = TwoFrames(state);
    int n = 0;
    for (auto _ : state) {
        const QImage& frame = frames[n++ & 1];
        // Read the buffer afresh each time, as the analysis does.
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::DoNotOptimize(ByteSum(frame.constBits(), frame.sizeInBytes()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frames[0].sizeInBytes());
}

void BM_BlockedByteSum(benchmark::State& state) {
    const std::array<QImage, 2> frames = TwoFrames(state);
    int n = 0;
    for (auto _ : state) {
        const QImage& frame = frames[n++ & 1];
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::DoNotOptimize(BlockedByteSum(frame.constBits(), frame.sizeInBytes()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frames[0].sizeInBytes());
}

void BM_ReadFloor(benchmark::State& state) {
    const std::array<QImage, 2> frames = TwoFrames(state);
    if (SadByteSum(frames[0].constBits(), frames[0].sizeInBytes()) !=
        ByteSum(frames[0].constBits(), frames[0].sizeInBytes()))
        state.SkipWithError("the psadbw sum differs from the plain sum");
    int n = 0;
    for (auto _ : state) {
        const QImage& frame = frames[n++ & 1];
        benchmark::DoNotOptimize(frame.constBits());
        benchmark::DoNotOptimize(SadByteSum(frame.constBits(), frame.sizeInBytes()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * frames[0].sizeInBytes());
}

} // namespace

BENCHMARK(BM_Analyse)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ByteSum)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlockedByteSum)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadFloor)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
