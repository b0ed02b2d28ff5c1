#include "BenchSupport.h"
#include "BroadcastFit.h"
#include "FTarvikClient.h"
#include "SoundPlayer.h"
#include "StmJPG.h"
#include "TJPEGImage.h"
#include "frSetup.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaGeneral.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <memory>

// The client's receive handler at the rate a flood delivers (nothing is
// painted: the window is not shown), the memory its caches hold, and the
// sender's extra work for a picture too large for one datagram.

namespace {

class TSilentPlayer final : public TSoundPlayer {
public:
    void Play(const QString&) override {}
    void Beep() override {}
};

// A demo camera picture at quality 50, as Tarvik compresses motion pictures.
TJPEGImage CameraPicture(QSize size, int frameNumber = 10) {
    const std::vector<std::uint8_t> frame = DemoFrame(size, frameNumber);
    const QImage bitmap(frame.data(), size.width(), size.height(), size.width() * 3,
                        QImage::Format_BGR888);
    TJPEGImage image;
    image.Assign(bitmap);
    image.SetQuality(50);
    image.Compress();
    image.FreeBitmap();
    return image;
}

QByteArray Datagram(const QString& source, const TJPEGImage& image) {
    const TStmJPG picture(source, image);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    picture.SaveToStream(buffer);
    return buffer.data();
}

std::unique_ptr<TTarvikClientForm> QuietClient() {
    std::unique_ptr<TTarvikClientForm> form(CreateLoaded<TTarvikClientForm>());
    form->SetSoundPlayer(std::make_unique<TSilentPlayer>());
    // No pop-up: showing the window would paint.
    form->SetupFrame1()->PopupkaCheckBox->setChecked(false);
    return form;
}

void Receive(TTarvikClientForm& form, QByteArray& datagram) {
    QBuffer stream(&datagram);
    stream.open(QIODevice::ReadOnly);
    form.IdUDPServerUDPRead(nullptr, stream);
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void BM_ReceiveHandler640x480(benchmark::State& state) {
    const std::unique_ptr<TTarvikClientForm> form = QuietClient();
    QByteArray datagram = Datagram(QStringLiteral("MyCam"), CameraPicture(QSize(640, 480)));
    for (auto _ : state)
        Receive(*form, datagram);
    state.counters["datagrams/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["datagram_bytes"] = double(datagram.size());
}
BENCHMARK(BM_ReceiveHandler640x480)->Unit(benchmark::kMicrosecond);

// 100,000 datagrams from five cameras with cache size 10: what stays is five
// caches of ten pictures and the last picture, whatever arrived before.
void BM_MemoryAfter100kDatagrams(benchmark::State& state) {
    constexpr int Cameras = 5;
    constexpr int Datagrams = 100000;
    constexpr int CacheSize = 10;
    QList<QByteArray> datagrams;
    for (int camera = 1; camera <= Cameras; ++camera)
        datagrams.append(Datagram(QStringLiteral("Cam%1").arg(camera),
                                  CameraPicture(QSize(640, 480), camera * 7)));
    for (auto _ : state) {
        const std::size_t before = HeapInUse();
        {
            const std::unique_ptr<TTarvikClientForm> form = QuietClient();
            form->SetupFrame1()->CacheFrame->TrackBar->SetPosition(CacheSize);
            const std::size_t created = HeapInUse();
            for (int i = 0; i < Datagrams; ++i) {
                // Each datagram arrives in a buffer of its own, as from the socket.
                QByteArray datagram(datagrams[i % Cameras].constData(),
                                    datagrams[i % Cameras].size());
                Receive(*form, datagram);
            }
            const double held = double(HeapInUse()) - double(created);
            const double bound = double(Cameras * CacheSize + 1) * double(datagrams[0].size());
            state.counters["held_bytes"] = held;
            state.counters["pictures_bound_bytes"] = bound;
            state.counters["held_per_bound"] = held / bound;
        }
        state.counters["left_after_close_bytes"] = double(HeapInUse()) - double(before);
    }
}
BENCHMARK(BM_MemoryAfter100kDatagrams)->Iterations(1)->Unit(benchmark::kMillisecond);

// A stranger's flood: 10,000 camera names, three datagrams each, beside the
// shown camera. What stays is bounded by the cameras kept times the cache
// times the datagram, whatever the number of names.
void BM_FloodOf10000Names(benchmark::State& state) {
    constexpr int Names = 10000;
    constexpr int PerName = 3;
    constexpr int CacheSize = 3;
    const TJPEGImage picture = CameraPicture(QSize(640, 480));
    const QByteArray shown = Datagram(QStringLiteral("Door"), picture);
    for (auto _ : state) {
        const std::unique_ptr<TTarvikClientForm> form = QuietClient();
        form->SetupFrame1()->CacheFrame->TrackBar->SetPosition(CacheSize);
        QByteArray door(shown.constData(), shown.size());
        Receive(*form, door);
        form->CamkaComboBox->setCurrentIndex(0);
        form->CamkaComboBoxClick();
        const std::size_t created = HeapInUse();
        qint64 largest = 0;
        qint64 receiving = 0; // ns in the handler alone, not in making the datagrams
        QElapsedTimer clock;
        for (int round = 0; round < PerName; ++round) {
            for (int i = 0; i < Names; ++i) {
                QByteArray datagram = Datagram(QStringLiteral("stranger%1").arg(i), picture);
                largest = std::max<qint64>(largest, datagram.size());
                clock.start();
                Receive(*form, datagram);
                receiving += clock.nsecsElapsed();
            }
        }
        const double seconds = double(receiving) / 1e9;
        const double held = double(HeapInUse()) - double(created);
        const double bound =
            double(TTarvikClientForm::MaxCameras * CacheSize + 1) * double(largest);
        state.counters["cameras_kept"] = double(form->CamkaComboBox->count());
        state.counters["datagrams_per_s"] = double(Names * PerName) / seconds;
        state.counters["held_bytes"] = held;
        state.counters["pictures_bound_bytes"] = bound;
        state.counters["held_per_bound"] = held / bound;
    }
}
BENCHMARK(BM_FloodOf10000Names)->Iterations(1)->Unit(benchmark::kMillisecond);

// Sending: a picture that fits (the plain write) against a 1920 x 1080 one
// that must be made to fit.
void BM_BroadcastDatagram(benchmark::State& state) {
    const QSize size(int(state.range(0)), int(state.range(1)));
    const TStmJPG picture(QStringLiteral("MyCam"), CameraPicture(size));
    qint64 written = 0;
    for (auto _ : state) {
        QBuffer stream;
        stream.open(QIODevice::WriteOnly);
        SaveFittingStmJPG(picture, stream, 65507);
        written = stream.size();
    }
    state.counters["stored_bytes"] = double(picture.Image().Size());
    state.counters["sent_bytes"] = double(written);
}
BENCHMARK(BM_BroadcastDatagram)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
