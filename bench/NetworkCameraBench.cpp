#include "NetworkCamera.h"
#include "TJPEGImage.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A 1920 x 1080 motion JPEG clip of Count pictures (a box crossing a room),
// played by FFmpeg at 25 pictures a second as a camera would send them.
QString MakeClip(const QTemporaryDir& dir, int count) {
    const QString path = dir.filePath(QStringLiteral("clip.mjpeg"));
    QFile clip(path);
    if (!clip.open(QIODevice::WriteOnly))
        return {};
    for (int i = 0; i < count; ++i) {
        QImage picture(1920, 1080, QImage::Format_BGR888);
        picture.fill(QColor(50, 70, 90));
        QPainter painter(&picture);
        painter.fillRect(100 + i * 60, 300, 300, 500, QColor(230, 220, 200));
        painter.end();
        TJPEGImage jpeg;
        jpeg.Assign(picture);
        jpeg.SetQuality(80);
        jpeg.Compress();
        clip.write(jpeg.JpegData());
    }
    return path;
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The main thread's share of a frame: taking the newest decoded picture and
// converting it to BGR24. Only grabs that delivered a new picture are timed;
// decoding happens on the reader thread and is not part of it.
void BM_NetworkGrabFrame1080p(benchmark::State& state) {
    QTemporaryDir dir;
    TNetworkCamera camera({QStringLiteral("Bench"), MakeClip(dir, 20)}, TNetworkTimings{});
    camera.Open();
    while (camera.Connecting())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!camera.IsOpen()) {
        state.SkipWithError(camera.ErrorText().toStdString().c_str());
        return;
    }
    std::vector<std::uint8_t> frame;
    for (auto _ : state) {
        for (;;) {
            const Clock::time_point start = Clock::now();
            camera.GrabFrame(frame);
            const Clock::time_point end = Clock::now();
            if (!frame.empty()) {
                state.SetIterationTime(std::chrono::duration<double>(end - start).count());
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["width"] = camera.Format().Width;
}
BENCHMARK(BM_NetworkGrabFrame1080p)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);

// The reader thread's processor time per decoded 1920 x 1080 MJPEG picture:
// the process's time less the main thread's, which only waits here.
void BM_NetworkReaderCpuPerPicture1080p(benchmark::State& state) {
    QTemporaryDir dir;
    const QString clip = MakeClip(dir, 20);
    for (auto _ : state) {
        TNetworkStreamReader reader(clip, TNetworkTimings{});
        const double processBefore = CpuSeconds(RUSAGE_SELF);
        const double mainBefore = ThreadCpuSeconds();
        reader.Start();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        reader.Stop();
        const double readerSeconds =
            (CpuSeconds(RUSAGE_SELF) - processBefore) - (ThreadCpuSeconds() - mainBefore);
        const auto pictures = double(reader.Pictures());
        state.counters["pictures"] = pictures;
        if (pictures == 0)
            state.SkipWithError(reader.LastError().toStdString().c_str());
        state.counters["reader_ms_per_picture"] =
            pictures > 0 ? readerSeconds * 1000 / pictures : 0;
    }
}
BENCHMARK(BM_NetworkReaderCpuPerPicture1080p)->Iterations(1)->Unit(benchmark::kMillisecond);

// What the main thread waits for a camera that never answers: its start, its
// check whether it answered, and its close while the reader is in the middle
// of reading. The loopback listener takes the connection and never answers.
void BM_NetworkCameraStartAndCloseWithoutAnswer(benchmark::State& state) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("no loopback listener");
        close(listener);
        return;
    }
    const QString url = QStringLiteral("http://127.0.0.1:%1/stream").arg(ntohs(address.sin_port));
    double longestStartMs = 0;
    double longestCloseMs = 0;
    for (auto _ : state) {
        TNetworkCamera camera({QStringLiteral("Silent"), url}, TNetworkTimings{});
        Clock::time_point start = Clock::now();
        camera.Open();
        camera.Connecting();
        longestStartMs =
            std::max(longestStartMs,
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        start = Clock::now();
        camera.Close();
        longestCloseMs =
            std::max(longestCloseMs,
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    state.counters["longest_start_ms"] = longestStartMs;
    state.counters["longest_close_ms"] = longestCloseMs;
    close(listener);
}
BENCHMARK(BM_NetworkCameraStartAndCloseWithoutAnswer)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
