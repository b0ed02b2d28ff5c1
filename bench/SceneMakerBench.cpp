// Cost of storing one motion picture: the disk-space guard's readings and the
// scene maker's whole-or-nothing write (temporary file, data sync, rename).
#include "DiskSpace.h"
#include "TJPEGImage.h"
#include "kaGeneral.h"
#include "kaSceneFiles.h"
#include "kaSceneMaker.h"

#include <QDir>
#include <QFile>
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

} // namespace

BENCHMARK_MAIN();
