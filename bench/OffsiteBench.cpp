// Off-site copying to an SFTP server on the loopback: pictures a second
// through one connection, and the delay from a stored picture to its arrival.
#include "OffsiteCopier.h"
#include "OffsiteServers.h"
#include "OffsiteTransport.h"
#include "TJPEGImage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

// A 640 x 480 camera picture as the scene maker stores it.
QByteArray CameraPicture() {
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
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.SaveToStream(buffer);
    return buffer.data();
}

struct TServer {
    QTemporaryDir Folder;
    TSshServer Server{Folder.path()};
    QString Problem = Server.Start();

    TOffsiteTarget Target() const {
        TOffsiteTarget target;
        target.KnownHostsFile = Server.KnownHosts();
        target.Parse(Server.Url());
        target.IdentityFile = Server.IdentityFile();
        return target;
    }
};

QString WriteLocal(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(data);
    return path;
}

void BM_SftpPicturesPerSecond(benchmark::State& state) {
    TServer server;
    if (!server.Problem.isEmpty()) {
        state.SkipWithError(qPrintable(server.Problem));
        return;
    }
    QTemporaryDir local;
    const QString picture = WriteLocal(local.filePath(QStringLiteral("p.jpg")), CameraPicture());
    const std::unique_ptr<TOffsiteTransport> transport = TOffsiteTransport::Make(server.Target());
    int index = 0;
    for (auto _ : state)
        transport->Put(picture, QStringLiteral("0/20261209/080000000/%1.jpg").arg(index++), false);
    state.counters["pictures/s"] = benchmark::Counter(double(index), benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(QFileInfo(picture).size());
}
BENCHMARK(BM_SftpPicturesPerSecond)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SftpStoreToArrival(benchmark::State& state) {
    TServer server;
    if (!server.Problem.isEmpty()) {
        state.SkipWithError(qPrintable(server.Problem));
        return;
    }
    QTemporaryDir local;
    const QString scenes = local.filePath(QStringLiteral("Scenes/0"));
    const QByteArray data = CameraPicture();
    TOffsiteCopier copier(local.filePath(QStringLiteral("Offsite.journal")));
    copier.SetTarget(server.Target());
    int index = 0;
    for (auto _ : state) {
        const QString relative = QStringLiteral("20261209/080000000/%1.jpg").arg(index++);
        const QString arrived = server.Server.Root() + QStringLiteral("/0/") + relative;
        QElapsedTimer clock;
        clock.start();
        copier.Enqueue(scenes, WriteLocal(scenes + QLatin1Char('/') + relative, data));
        while (QFileInfo(arrived).size() != data.size() && clock.elapsed() < 10000)
            QThread::usleep(200);
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_SftpStoreToArrival)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
