// Cost of storing one motion picture: the disk-space guard's readings and the
// scene maker's whole-or-nothing write (temporary file, data sync, rename).
#include "DiskSpace.h"
#include "TJPEGImage.h"
#include "kaGeneral.h"
#include "kaSceneFiles.h"
#include "kaSceneMaker.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

TJPEGImage CameraSizedPicture() {
    QImage bitmap(640, 480, QImage::Format_BGR888);
    bitmap.fill(Qt::darkGray);
    QPainter painter(&bitmap);
    for (int i = 0; i < 40; ++i)
        painter.fillRect((i * 37) % 600, (i * 53) % 440, 40, 40, QColor::fromHsv(i * 9, 200, 200));
    painter.end();
    TJPEGImage image;
    image.Assign(bitmap);
    image.SetQuality(80);
    image.Compress();
    image.FreeBitmap();
    return image;
}

void BM_AddPicture(benchmark::State& state) {
    QTemporaryDir folder;
    SetProgramDir(folder.path());
    double clock = 45000.0;
    SetClock([&clock] { return clock; });
    const TJPEGImage image = CameraSizedPicture();
    {
        TkaSceneMaker maker;
        maker.SetMaxPicturePerScene(1000000);
        for (auto _ : state) {
            clock += 0.1 / 86400.0;
            benchmark::DoNotOptimize(maker.AddPicture(image));
        }
    }
    state.SetBytesProcessed(state.iterations() * image.Size());
    SetClock({});
    SetProgramDir(QString());
}
BENCHMARK(BM_AddPicture)->Unit(benchmark::kMillisecond);

void BM_FreeSpaceReading(benchmark::State& state) {
    QTemporaryDir folder;
    for (auto _ : state)
        benchmark::DoNotOptimize(FreeDiskSpace(folder.path()));
}
BENCHMARK(BM_FreeSpaceReading)->Unit(benchmark::kMicrosecond);

// The start-up look for pictures a kill left unnamed, over a camera's
// recordings of Arg days of ten scenes: it reads one name and time per day and
// the newest day's scenes only, so it stays small as the recordings grow.
void BM_StartUpRecovery(benchmark::State& state) {
    QTemporaryDir folder;
    const QString root = folder.path();
    const QDate first(2015, 1, 1);
    for (int d = 0; d < state.range(0); ++d) {
        const QString day = root + QLatin1Char('/') + first.addDays(d).toString("yyyyMMdd");
        for (int s = 0; s < 10; ++s) {
            const QString scene = day + QStringLiteral("/%1").arg(s * 10000000, 9, 10, QChar('0'));
            QDir().mkpath(scene);
            QFile(scene + "/picture.jpg").open(QIODevice::WriteOnly);
        }
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(RecoverPictureTemporaries(root));
}
BENCHMARK(BM_StartUpRecovery)->Arg(30)->Arg(365)->Arg(3650)->Unit(benchmark::kMicrosecond);

// Arg scenes of two files each, made in Day of Root, named apart from the
// scene maker's (which are times of day, below 240000000).
void MakeScenes(const QString& day, int count) {
    for (int s = 0; s < count; ++s) {
        const QString scene = day + QStringLiteral("/%1").arg(900000000 + s, 9, 10, QChar('0'));
        QDir().mkpath(scene);
        for (const char* name : {"/20240101000000000.jpg", "/20240101000000001.jpg"})
            QFile(scene + name).open(QIODevice::WriteOnly);
    }
}

// The first picture of a new scene with Arg other scenes in the day: the
// scene maker's write (data sync included) and the small-scene sweep the new
// scene sets off, with its memory as a camera keeps it. Every picture begins
// a scene; the minimum of one picture keeps them all, so the file system's
// own cost of removing directories stays out (BM_SmallSceneSweep has it).
void BM_FirstPictureOfNewScene(benchmark::State& state) {
    QTemporaryDir folder;
    SetProgramDir(folder.path());
    // 17 May 2024, 10:00 local time: the day the scenes were made in.
    double clock = QDateTimeToDateTime(QDateTime(QDate(2024, 5, 17), QTime(10, 0)));
    SetClock([&clock] { return clock; });
    const TJPEGImage image = CameraSizedPicture();
    {
        TkaSceneMaker maker;
        maker.SetMaxPicturePerScene(1);
        MakeScenes(maker.SceneDir() + QStringLiteral("/20240517"), int(state.range(0)));
        TSceneFileMemory memory;
        // As a camera runs it: with the maker's own change of the day.
        maker.OnNewScene = [&](QObject*, const QString& sPath) {
            SweepSmallScenes(maker.SceneDir(), sPath, 1, &memory, maker.OwnScenes().get());
        };
        for (auto _ : state) {
            clock += 0.1 / 86400.0;
            benchmark::DoNotOptimize(maker.AddPicture(image));
        }
    }
    SetClock({});
    SetProgramDir(QString());
}
BENCHMARK(BM_FirstPictureOfNewScene)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The sweep alone when a new scene begins, with Arg scenes of two pictures in
// the day: the scene before, of a single picture, is below the minimum of 2
// and is deleted. The new scene is made as the scene maker makes it.
void BM_SmallSceneSweep(benchmark::State& state) {
    QTemporaryDir folder;
    const QString day = folder.path() + QStringLiteral("/20240517");
    MakeScenes(day, int(state.range(0)));
    TSceneFileMemory memory;
    TOwnSceneLog ownScenes;
    int scene = 0;
    const auto sceneName = [](int number) {
        return QStringLiteral("%1").arg(number, 9, 10, QChar('0'));
    };
    QDir().mkpath(day + "/" + sceneName(0));
    for (auto _ : state) {
        state.PauseTiming();
        const QString previous = day + "/" + sceneName(scene);
        QFile(previous + "/20240517100000000.jpg").open(QIODevice::WriteOnly);
        // The new scene made as the scene maker makes it, noting its change of the day.
        const std::optional<TDirectoryState> before = TDirectoryState::Of(day);
        QDir().mkpath(day + "/" + sceneName(++scene));
        ownScenes.Note(day, sceneName(scene), before, TDirectoryState::Of(day));
        state.ResumeTiming();
        SweepSmallScenes(folder.path(), "20240517/" + sceneName(scene), 2, &memory, &ownScenes);
    }
    if (QFileInfo::exists(day + "/" + sceneName(scene - 1)))
        state.SkipWithError("the small scene was not swept");
}
BENCHMARK(BM_SmallSceneSweep)->Arg(0)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// One deletion of the disk-space guard with Arg scenes in the oldest day
// (the 200 the runs delete come on top), its memory as a camera keeps it.
void BM_GuardDeletion(benchmark::State& state) {
    constexpr int Deletions = 200;
    QTemporaryDir folder;
    const QString root = folder.path();
    MakeScenes(root + QStringLiteral("/20240101"), int(state.range(0)) + Deletions);
    MakeScenes(root + QStringLiteral("/20240102"), 10);
    TSceneFileMemory memory;
    QString deleted;
    // Learning the day's order once is part of the first deletion in the
    // program, not of every one.
    DeleteOldestScene(root, deleted, &memory);
    for (auto _ : state)
        benchmark::DoNotOptimize(DeleteOldestScene(root, deleted, &memory));
    if (!deleted.contains(QStringLiteral("/20240101/")))
        state.SkipWithError("the guard left the oldest day");
}
BENCHMARK(BM_GuardDeletion)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(199)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
