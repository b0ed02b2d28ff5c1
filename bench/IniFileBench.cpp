#include "TIniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int KeyCount = 50000;

// A configuration file of KeyCount keys in one section, as a large language
// file or a long-used configuration file may hold.
class LargeIniFile {
public:
    LargeIniFile() : Path(Dir.filePath(QStringLiteral("Large.ini"))) {
        QByteArray bytes = "[Integer]\n";
        for (int i = 0; i < KeyCount; ++i)
            bytes +=
                "VideoFrame" + QByteArray::number(i) + ".TrackBar=" + QByteArray::number(i) + "\n";
        QFile file(Path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write the benchmark's ini file");
    }
    QTemporaryDir Dir;
    QString Path;
};

const QString Section = QStringLiteral("Integer");
const QString LastKey = QStringLiteral("VideoFrame%1.TrackBar").arg(KeyCount - 1);

// A read from a file that did not change since the last read: the usual case
// of every control restoring its value at start-up.
void BM_ReadUnchanged(benchmark::State& state) {
    LargeIniFile file;
    const TIniFile ini(file.Path);
    ini.ReadInteger(Section, LastKey, -1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.ReadInteger(Section, LastKey, -1));
}
BENCHMARK(BM_ReadUnchanged)->Unit(benchmark::kMicrosecond);

// The first read after another object changed the file: parsed again.
void BM_ReadAfterChange(benchmark::State& state) {
    LargeIniFile file;
    const TIniFile reader(file.Path);
    TIniFile writer(file.Path);
    int value = 0;
    for (auto _ : state) {
        state.PauseTiming();
        writer.WriteInteger(Section, QStringLiteral("Changed"), ++value);
        state.ResumeTiming();
        benchmark::DoNotOptimize(reader.ReadInteger(Section, LastKey, -1));
    }
}
BENCHMARK(BM_ReadAfterChange)->Unit(benchmark::kMillisecond);

// One setting written into the large file (parse, change, write and sync).
void BM_Write(benchmark::State& state) {
    LargeIniFile file;
    TIniFile ini(file.Path);
    int value = 0;
    for (auto _ : state)
        ini.WriteInteger(Section, LastKey, ++value);
}
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
