// What taking out light changes adds to one analysis on the dialog's 50 x 50
// grid, at 640 x 480 and 1920 x 1080. The machine may be busy, so the two
// analysers run interleaved, frame by frame, and the figure that counts is
// the ratio "Extra" (time with the correction / time without - 1) within one
// run; the plain times are there for scale.
#include "LightSequence.h"
#include "kaPictureAnalyser.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>

namespace {

// Two frames either side of the lamp coming back with a person walking in:
// the correction has a light change to fit and outliers to drop.
struct TFramePair {
    QImage Before;
    QImage After;
    explicit TFramePair(QSize size) {
        const TLightSequence sequence(TLightSequence::TLight::Lamp, true, size);
        Before = sequence.Frame(sequence.WalkStart() - 1);
        After = sequence.Frame(sequence.WalkStart() + 1);
    }
};

void Configure(TkaPictureAnalyser& analyser, bool ignoreLight) {
    analyser.SetxSegments(50);
    analyser.SetySegments(50);
    analyser.SetThresholdMaxSegment(0.04);
    analyser.SetIgnoreLightChanges(ignoreLight);
}

QSize SizeOf(const benchmark::State& state) {
    return {int(state.range(0)), int(state.range(1))};
}

void BM_Analyse(benchmark::State& state) {
    const TFramePair frames(SizeOf(state));
    TkaPictureAnalyser analyser;
    Configure(analyser, state.range(2) != 0);
    bool flip = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(analyser.Analyse(flip ? frames.Before : frames.After));
        flip = !flip;
    }
}
BENCHMARK(BM_Analyse)
    ->ArgNames({"w", "h", "ignoreLight"})
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1});

// The processor time of this thread: time the thread spent preempted by other
// work on the machine does not count.
std::chrono::nanoseconds ThreadTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Both analysers on the same frame in turn, so a burst of load on the machine
// hits both alike.
void BM_LightChangeExtra(benchmark::State& state) {
    const TFramePair frames(SizeOf(state));
    TkaPictureAnalyser plain, corrected;
    Configure(plain, false);
    Configure(corrected, true);
    std::chrono::nanoseconds plainTime{}, correctedTime{};
    bool flip = false;
    for (auto _ : state) {
        const QImage& frame = flip ? frames.Before : frames.After;
        flip = !flip;
        // The one that runs second finds the frame in the cache: the order
        // alternates so neither gains by it.
        TkaPictureAnalyser& first = flip ? plain : corrected;
        TkaPictureAnalyser& second = flip ? corrected : plain;
        const auto t0 = ThreadTime();
        benchmark::DoNotOptimize(first.Analyse(frame));
        const auto t1 = ThreadTime();
        benchmark::DoNotOptimize(second.Analyse(frame));
        const auto t2 = ThreadTime();
        (flip ? plainTime : correctedTime) += t1 - t0;
        (flip ? correctedTime : plainTime) += t2 - t1;
    }
    state.counters["Extra"] = double(correctedTime.count()) / double(plainTime.count()) - 1;
}
BENCHMARK(BM_LightChangeExtra)->ArgNames({"w", "h"})->Args({640, 480})->Args({1920, 1080});

} // namespace

BENCHMARK_MAIN();
