// Cost of storing one motion picture: the disk-space guard's readings and the
// scene maker's whole-or-nothing write (temporary file, data sync, rename).
#include "DiskSpace.h"
#include "TJPEGImage.h"
#include "kaGeneral.h"
#include "kaSceneMaker.h"

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

} // namespace

BENCHMARK_MAIN();
