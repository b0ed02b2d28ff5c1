// The thumbnail page of a day of 200 scenes of 640 x 480 pictures stored at
// quality 50, with thumbnails of 150 by 112:
//   BM_FullDecodePage    the page as first built: for every first picture the
//                        file's existence checked, the file loaded into a JPEG
//                        object, which decodes it at full size into BGR888
//                        with the library's defaults and stretches it into
//                        the thumbnail with QPainter::drawImage and the paint
//                        box's default render hints (no smoothing)
//   BM_ScaledFirstPaint  the same page as the page paints it now, with an
//                        empty thumbnail cache: the first paint asks the
//                        loader for every thumbnail and draws empty cells,
//                        the pool decodes them with the decoder's DCT scaling
//                        into RGB32, and each is drawn as it comes back
//                        through the event loop; timed until the last one
//   BM_ScaledFirstPaintOneThread  the same with all decoding on the painting
//                        thread
//   BM_CachedRepaint     the same page again, every thumbnail from the cache
//   BM_PageRepaint       the real page, listing included, all 200 on screen
//   BM_EighthDecodePage  the floor: the same pictures decoded at 1/8 from memory
//   BM_DecodeOnly        one picture decoded at three scales
//   BM_ReadFile, BM_Stretch  the rest of a thumbnail's work on the pool
//   BM_ExpandLargeDay    the explorer expanding a day of 10,000 scenes
// The page figures are timed in wall time until the page is complete (the
// pool's work included, as the user waits for it); the CPU column is the
// whole process's, so that work on other threads counts there too. Compare
// the two page figures of one run: the machine's other load moves both.
#include "DemoCamera.h"
#include "PaintBox.h"
#include "PathTreeNodeObject.h"
#include "TJPEGImage.h"
#include "ThumbnailCache.h"
#include "ThumbnailLoader.h"
#include "frExplorer.h"
#include "frThumbNail.h"
#include "kaApplication.h"
#include "kaGeneral.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreeView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTreeWidgetItem>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int SceneCount = 200;
const QSize Thumb(150, 112);

// What the demo camera records: a textured room with a little sensor noise
// and a visitor who walks across; Frame moves the visitor.
QImage CameraPicture(int frame) {
    static TDemoCamera camera(1, std::make_shared<TDemoCamera::TSettings>());
    std::vector<std::uint8_t> bytes;
    camera.Render(frame, bytes);
    const QImage view(bytes.data(), 640, 480, 640 * 3, QImage::Format_BGR888);
    return view.copy();
}

// A day folder written once for all benchmarks: SceneDir/day/scene/picture.
class TRecordedDay {
public:
    TRecordedDay() {
        Day = Folder.path() + QStringLiteral("/20041231");
        for (int scene = 0; scene < SceneCount; ++scene) {
            const QString dir = QStringLiteral("%1/%2").arg(Day).arg(80000000 + scene * 1000, 9, 10,
                                                                     QLatin1Char('0'));
            QDir().mkpath(dir);
            TJPEGImage jpeg;
            jpeg.Assign(CameraPicture(scene % TDemoCamera::MoveFrames));
            jpeg.SetQuality(50);
            for (int picture = 0; picture < 3; ++picture) {
                const QString name = QStringLiteral("/20041231%1%2.jpg")
                                         .arg(dir.right(9).left(6))
                                         .arg(picture * 100, 3, 10, QLatin1Char('0'));
                jpeg.SaveToFile(dir + name);
                if (picture == 0)
                    FirstPictures.append(dir + name);
            }
        }
    }

    QTemporaryDir Folder;
    QString Day;
    QStringList FirstPictures;
};

TRecordedDay& RecordedDay() {
    static TRecordedDay day;
    return day;
}

// A day of 10,000 scenes of one (empty) picture file each.
struct TLargeDay {
    static constexpr int Scenes = 10000;
    TLargeDay() {
        Day = Folder.path() + QStringLiteral("/20041231");
        for (int scene = 0; scene < Scenes; ++scene) {
            const QString dir =
                QStringLiteral("%1/%2").arg(Day).arg(scene, 9, 10, QLatin1Char('0'));
            QDir().mkpath(dir);
            QFile(dir + QStringLiteral("/a.jpg")).open(QIODevice::WriteOnly);
        }
    }
    QTemporaryDir Folder;
    QString Day;
};

// The calling thread's own CPU time.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Where a thumbnail goes on a page 10 thumbnails wide.
QRect ThumbRect(int index) {
    return QRect(9 + (index % 10) * 156, 9 + (index / 10) * 130, Thumb.width(), Thumb.height());
}

QImage Canvas() {
    QImage canvas(1600, 2700, QImage::Format_RGB32);
    canvas.fill(Qt::lightGray);
    return canvas;
}

void BM_FullDecodePage(benchmark::State& state) {
    const QStringList& files = RecordedDay().FirstPictures;
    QImage canvas = Canvas();
    for (auto _ : state) {
        QPainter painter(&canvas);
        for (int i = 0; i < files.size(); ++i) {
            if (!QFileInfo::exists(files.at(i)))
                continue;
            TJPEGImage jpeg;
            jpeg.LoadFromFile(files.at(i));
            jpeg.StretchDraw(painter, ThumbRect(i));
        }
    }
    state.counters["thumbs/s"] =
        benchmark::Counter(double(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FullDecodePage)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ScaledFirstPaint(benchmark::State& state) {
    const QStringList& files = RecordedDay().FirstPictures;
    QHash<QString, int> indexOf;
    for (int i = 0; i < files.size(); ++i)
        indexOf.insert(files.at(i), i);
    QImage canvas = Canvas();
    const double mainStart = ThreadCpuMs();
    for (auto _ : state) {
        TThumbnailLoader loader;
        QPainter painter(&canvas);
        // Each thumbnail is drawn as it comes back from the pool ...
        loader.OnReady = [&](const QString& fileName) {
            const int i = indexOf.value(fileName);
            painter.drawImage(ThumbRect(i),
                              loader.Request(fileName, Thumb, TFileStamp::Of(fileName)));
        };
        // ... after the first paint has asked for all and drawn empty cells.
        for (int i = 0; i < files.size(); ++i) {
            if (loader.Request(files.at(i), Thumb, TFileStamp::Of(files.at(i))).isNull())
                painter.fillRect(ThumbRect(i), Qt::gray);
        }
        while (loader.Pending() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // What the painting thread spends of it, beside the pool.
    state.counters["main_cpu_ms"] = (ThreadCpuMs() - mainStart) / double(state.iterations());
    state.counters["thumbs/s"] =
        benchmark::Counter(double(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScaledFirstPaint)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same decoding on the painting thread alone: the work the helpers share.
void BM_ScaledFirstPaintOneThread(benchmark::State& state) {
    const QStringList& files = RecordedDay().FirstPictures;
    QImage canvas = Canvas();
    for (auto _ : state) {
        TThumbnailCache cache;
        QPainter painter(&canvas);
        for (int i = 0; i < files.size(); ++i)
            painter.drawImage(ThumbRect(i), cache.Thumbnail(files.at(i), Thumb));
    }
    state.counters["thumbs/s"] =
        benchmark::Counter(double(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScaledFirstPaintOneThread)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_CachedRepaint(benchmark::State& state) {
    const QStringList& files = RecordedDay().FirstPictures;
    QImage canvas = Canvas();
    TThumbnailCache cache;
    for (int i = 0; i < files.size(); ++i)
        cache.Thumbnail(files.at(i), Thumb);
    for (auto _ : state) {
        QPainter painter(&canvas);
        for (int i = 0; i < files.size(); ++i)
            painter.drawImage(ThumbRect(i), cache.Thumbnail(files.at(i), Thumb));
    }
    state.counters["thumbs/s"] =
        benchmark::Counter(double(state.iterations() * files.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CachedRepaint)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// A paint asks for thumbnails, so the page is complete when a paint after
// the last answer leaves it idle.
void WaitUntilComplete(TThumbNailFrame& page) {
    do {
        QApplication::processEvents();
        while (page.Busy())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QApplication::processEvents();
    } while (page.Busy());
}

// The page itself: the day listed, 200 scenes placed and drawn from the cache.
void BM_PageRepaint(benchmark::State& state) {
    TkaLibrary library;
    std::unique_ptr<TThumbNailFrame> page(CreateLoaded<TThumbNailFrame>());
    page->resize(1600, 2800);
    page->show();
    page->WidthFrame->TrackBar->SetPosition(Thumb.width() + 1);
    page->WidthFrame->TrackBar->SetPosition(Thumb.width());
    page->SetPath(RecordedDay().Day);
    QImage canvas = Canvas();
    WaitUntilComplete(*page);
    for (auto _ : state)
        page->PaintBox->render(&canvas);
    state.counters["thumbs"] = double(page->Thumbs().size());
}
BENCHMARK(BM_PageRepaint)->Unit(benchmark::kMillisecond);

// The real page's first paint: a new page shows the day, lists it, asks the
// pool for every thumbnail and draws each as it comes; timed from showing the
// day until the page is no longer busy and its last paint is done.
void BM_PageFirstPaint(benchmark::State& state) {
    TkaLibrary library;
    double mainCpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TThumbNailFrame> page(CreateLoaded<TThumbNailFrame>());
        page->resize(1600, 2800);
        page->show();
        page->WidthFrame->TrackBar->SetPosition(Thumb.width() + 1);
        page->WidthFrame->TrackBar->SetPosition(Thumb.width());
        QApplication::processEvents();
        state.ResumeTiming();
        const double start = ThreadCpuMs();
        page->SetPath(RecordedDay().Day);
        WaitUntilComplete(*page);
        mainCpu += ThreadCpuMs() - start;
        state.PauseTiming();
        if (page->Thumbs().size() != size_t(SceneCount))
            state.SkipWithError("the day was not listed completely");
        page.reset();
        state.ResumeTiming();
    }
    state.counters["main_cpu_ms"] = mainCpu / double(state.iterations());
}
BENCHMARK(BM_PageFirstPaint)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor of any scaled decoding: all first pictures, already in memory,
// decoded at 1/8 on one thread. What is left at that scale is the entropy
// decoding, which no scale factor saves.
void BM_EighthDecodePage(benchmark::State& state) {
    std::vector<QByteArray> pictures;
    for (const QString& fileName : RecordedDay().FirstPictures) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot read the pictures");
            return;
        }
        pictures.push_back(file.readAll());
    }
    qint64 bytes = 0;
    for (const QByteArray& data : pictures)
        bytes += data.size();
    for (auto _ : state) {
        for (const QByteArray& data : pictures)
            benchmark::DoNotOptimize(TJPEGImage::DecodeScaled(data, QSize(1, 1)).constBits());
    }
    state.counters["KiB/picture"] = double(bytes) / 1024 / double(pictures.size());
}
BENCHMARK(BM_EighthDecodePage)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// Decoding one first picture in memory at 8/8, 2/8 (the thumbnail's scale)
// and 1/8.
void BM_DecodeOnly(benchmark::State& state) {
    QFile file(RecordedDay().FirstPictures.at(0));
    if (!file.open(QIODevice::ReadOnly)) {
        state.SkipWithError("cannot read the picture");
        return;
    }
    const QByteArray data = file.readAll();
    const QSize atLeast(int(state.range(0)), int(state.range(0)) * 3 / 4);
    for (auto _ : state)
        benchmark::DoNotOptimize(TJPEGImage::DecodeScaled(data, atLeast).constBits());
}
BENCHMARK(BM_DecodeOnly)->Arg(640)->Arg(150)->Arg(80)->Unit(benchmark::kMicrosecond);

// What the pool does to a first picture beside decoding it: the file read,
// and the resampling of the decoder's 160 x 120 into the thumbnail.
void BM_ReadFile(benchmark::State& state) {
    const QString& fileName = RecordedDay().FirstPictures.at(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(TJPEGImage::ReadFileData(fileName).size());
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMicrosecond);

void BM_Stretch(benchmark::State& state) {
    const QImage decoded = ReadPicture(RecordedDay().FirstPictures.at(0), Thumb);
    for (auto _ : state)
        benchmark::DoNotOptimize(Stretched(decoded, Thumb).constBits());
    state.counters["from_width"] = decoded.width();
}
BENCHMARK(BM_Stretch)->Unit(benchmark::kMicrosecond);

// Expanding a day of 10,000 scenes in the explorer: the main thread's CPU
// time in the expansion itself (its bounded attempt) and in the longest later
// turn of the event loop until the day's nodes are all there (the fill; the
// listing itself runs on the worker); the time is the whole wait.
void BM_ExpandLargeDay(benchmark::State& state) {
    static const TLargeDay day;
    TkaLibrary library;
    double longestTurn = 0;
    double expandCall = 0;
    for (auto _ : state) {
        std::unique_ptr<TExplorerFrame> explorer(CreateLoaded<TExplorerFrame>());
        TkaTreeView* tree = explorer->kaTreeView;
        QTreeWidgetItem* node = tree->AddNode(
            nullptr, "Day", nullptr, new TPathTreeNodeObject(nullptr, day.Day, nullptr), -1, 0);
        // The main thread's own CPU time per turn: waiting for the worker
        // does not count, other load on the machine hardly does.
        double start = ThreadCpuMs();
        node->setExpanded(true);
        expandCall = std::max(expandCall, ThreadCpuMs() - start);
        while (explorer->Listing()) {
            start = ThreadCpuMs();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            longestTurn = std::max(longestTurn, ThreadCpuMs() - start);
        }
        if (node->childCount() != TLargeDay::Scenes) {
            state.SkipWithError("the day was not listed completely");
            return;
        }
    }
    state.counters["expand_cpu_ms"] = expandCall;
    state.counters["longest_turn_cpu_ms"] = longestTurn;
}
BENCHMARK(BM_ExpandLargeDay)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TkaApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordedDay();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
