#include "ApplicationErrors.h"
#include "BenchSupport.h"
#include "DemoCameraBackend.h"
#include "DiskSpace.h"
#include "FrameGapMeter.h"
#include "MailAccounts.h"
#include "NetworkCameraBackend.h"
#include "SceneDeleter.h"
#include "TIdSMTP.h"
#include "TkaDialogs.h"
#include "V4l2Backend.h"
#include "frFeedBack.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaGeneral.h"
#include "kaPageControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <linux/videodev2.h>
#include <memory>
#include <thread>

// How steadily a running camera is grabbed while the main thread has other
// work: the largest gap between two grabs of a demo camera page at the
// default pause of 100 ms, with nothing else to do, while a Support mail
// goes to a server that accepts and never answers, while a scene of 5000
// pictures is deleted, while the disk-space guard deletes such a scene to
// free space, while a V4L2 camera on another page sends no frames and while
// another page starts a network camera that never answers. The target is a
// gap of at most twice the pause plus 50 ms. Wall-clock figures: the machine's load
// shows in them.

namespace {

constexpr int RunMs = 2000;

// Nobody answers boxes during a measurement: every question is passed over.
class TSilentDialogs final : public TkaDialogs {
public:
    void ShowMessage(const QString&) override {}
    void ShowError(const QString&, const QString&) override {}
    TDialogAnswer Confirm(const QString&, TConfirmButtons, TDialogAnswer) override {
        return TDialogAnswer::No;
    }
    QString OpenFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString SaveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString SelectDirectory(const QString&, const QString&) override { return {}; }
};

// A page over a metered demo camera, capturing; Disturb starts the work
// under test, End ends it. Others come after the metered camera.
void MeasureGaps(benchmark::State& state, const std::function<void(TVideoFrame&)>& disturb,
                 const std::function<void(TVideoFrame&)>& end, TCaptureBackendList others = {}) {
    TSilentDialogs silentDialogs;
    TkaDialogs* previousDialogs = SetDialogs(&silentDialogs);
    auto meter = std::make_shared<TFrameGapMeter>(std::make_shared<TDemoCameraBackend>(1));
    others.insert(others.begin(), meter);
    SetCaptureBackends(others);
    std::unique_ptr<TVideoFrame> page(CreateLoaded<TVideoFrame>(nullptr, nullptr));
    page->SetDescription(QStringLiteral("Demo camera 1")); // with its scene settings
    page->VideoCap->SetDriverIndex(0);
    page->PlayActionExecute();
    const int pause = page->CaptureTimer->interval();
    for (auto _ : state) {
        meter->Restart();
        // The disturbance begins between two grabs, and grabs follow its end.
        while (meter->Grabs() < 2)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QElapsedTimer running;
        running.start();
        if (disturb)
            disturb(*page);
        while (running.elapsed() < RunMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (end)
            end(*page);
        const int grabs = meter->Grabs();
        while (meter->Grabs() < grabs + 2)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        state.counters["largest_gap_ms"] = meter->LargestGapMs();
        state.counters["target_ms"] = 2.0 * pause + 50;
        state.counters["grabs"] = meter->Grabs();
    }
    page->StopActionExecute();
    delete page->SceneFrame();
    page.reset();
    SetCaptureBackends({});
    SetDialogs(previousDialogs);
}

void BM_FrameGapIdle(benchmark::State& state) {
    MeasureGaps(state, {}, {});
}

void BM_FrameGapWhileSupportMailStalls(benchmark::State& state) {
    SetMailHomeDir(ProgramDir() + QStringLiteral("home"));
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    SetSmtpPort(silent.serverPort());
    std::unique_ptr<TFeedbackFrame> support(CreateLoaded<TFeedbackFrame>());
    support->FromkaComboBox->setEditText(QStringLiteral("anna@example.com"));
    support->SMTPkaComboBox->setEditText(QStringLiteral("127.0.0.1"));
    support->kaPageControl->setCurrentWidget(support->FeedbackTabSheet);
    MeasureGaps(
        state, [&support](TVideoFrame&) { support->SendButtonClick(); },
        [&silent, &support](TVideoFrame&) {
            silent.close();
            while (silent.hasPendingConnections())
                delete silent.nextPendingConnection();
            QElapsedTimer waited;
            waited.start();
            while (support->Sending() && waited.elapsed() < 70000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        });
    support.reset();
    SetSmtpPort(0);
    SetMailHomeDir(QString());
}

constexpr int ScenePictures = 5000;

// A scene of 5000 pictures below SceneDir, as a camera that saw motion for a
// long time leaves it.
QString MakeLargeScene(const QString& sceneDir) {
    const QString scene = sceneDir + QStringLiteral("/20240101/100000000");
    QDir().mkpath(scene);
    const QByteArray picture(32 * 1024, 'x');
    for (int i = 0; i < ScenePictures; ++i) {
        QFile file(scene + QStringLiteral("/2024010110%1.jpg").arg(i, 7, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(picture) != picture.size())
            qFatal("cannot write the scene");
    }
    return scene;
}

void WaitForDeletions(TVideoFrame& page) {
    while (!page.SceneFrame()->SceneDeleter().Idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

// The explorer's Delete and the per-day limit hand a scene to the deleter.
void BM_FrameGapWhileASceneOf5000PicturesIsDeleted(benchmark::State& state) {
    QTemporaryDir folder;
    const QString scene = MakeLargeScene(folder.path());
    MeasureGaps(
        state,
        [&](TVideoFrame& page) {
            page.SceneFrame()->SceneDeleter().Run({}, [&folder, scene](TDeletionControl& control) {
                DeleteSceneTree(folder.path(), scene, &control);
            });
        },
        WaitForDeletions);
    state.counters["deleted"] = QFileInfo::exists(scene) ? 0 : 1;
}

// The guard finds the disk full and deletes the oldest scene, of 5000 pictures.
void BM_FrameGapWhileTheGuardFreesSpace(benchmark::State& state) {
    QTemporaryDir folder;
    const QString scene = MakeLargeScene(folder.path());
    SetFreeSpaceReader([scene](const QString&) {
        return QFileInfo::exists(scene) ? qint64(0) : 100 * BytesPerMegabyte;
    });
    MeasureGaps(
        state,
        [&](TVideoFrame& page) {
            TSceneFrame* scenes = page.SceneFrame();
            scenes->ActivekaCheckBox->setChecked(false); // the page's own pictures stay out
            scenes->DeleteOldCheckBox->setChecked(true);
            scenes->SetSceneDir(folder.path());
            scenes->GuardDiskSpace();
        },
        WaitForDeletions);
    SetFreeSpaceReader({});
    state.counters["deleted"] = QFileInfo::exists(scene) ? 0 : 1;
}

// A V4L2 camera that is plugged in and streams but sends no frame: every
// wait for one lasts its whole timeout.
class TSilentV4l2Calls final : public TV4l2DeviceCalls {
public:
    QStringList DeviceNodes() override { return {QStringLiteral("/dev/video0")}; }
    int Open(const QString&, int) override { return 10; }
    int Close(int) override { return 0; }
    int Ioctl(int, unsigned long request, void* arg) override {
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* capability = static_cast<v4l2_capability*>(arg);
            std::snprintf(reinterpret_cast<char*>(capability->card), sizeof capability->card,
                          "Silent camera");
            capability->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT: {
            v4l2_pix_format& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
            pix = {};
            pix.width = 320;
            pix.height = 240;
            pix.pixelformat = V4L2_PIX_FMT_BGR24;
            pix.field = V4L2_FIELD_NONE;
            pix.bytesperline = 960;
            return 0;
        }
        case VIDIOC_REQBUFS:
            return 0;
        case VIDIOC_QUERYBUF:
            static_cast<v4l2_buffer*>(arg)->length = std::uint32_t(Buffer.size());
            return 0;
        case VIDIOC_QBUF:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            return 0;
        case VIDIOC_DQBUF:
            return errno = EAGAIN, -1;
        }
        return errno = ENOTTY, -1;
    }
    void* Mmap(int, std::size_t, off_t) override { return Buffer.data(); }
    int Munmap(void*, std::size_t) override { return 0; }
    int Poll(int, short, short& revents, int timeoutMs) override {
        revents = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return 0;
    }

private:
    std::vector<unsigned char> Buffer = std::vector<unsigned char>(320 * 240 * 3);
};

void BM_FrameGapWhileAV4l2CameraIsSilent(benchmark::State& state) {
    std::unique_ptr<TVideoFrame> silent;
    MeasureGaps(
        state,
        [&silent](TVideoFrame&) {
            silent.reset(CreateLoaded<TVideoFrame>(nullptr, nullptr));
            silent->VideoCap->SetDriverIndex(1);
            silent->PlayActionExecute();
        },
        [&silent](TVideoFrame&) {
            silent->StopActionExecute();
            silent.reset();
        },
        {std::make_shared<TV4l2Backend>(std::make_shared<TSilentV4l2Calls>())});
}

// A second page starts a network camera whose host accepts the connection
// and never answers, and is stopped again.
void BM_FrameGapWhileNetworkCameraStarts(benchmark::State& state) {
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    const QString url = QStringLiteral("http://127.0.0.1:%1/stream").arg(silent.serverPort());
    std::unique_ptr<TVideoFrame> door;
    MeasureGaps(
        state,
        [&door](TVideoFrame&) {
            door.reset(CreateLoaded<TVideoFrame>(nullptr, nullptr));
            door->VideoCap->SetDriverIndex(1);
            RunHandled([&door] { door->PlayActionExecute(); });
        },
        [&door](TVideoFrame&) {
            // The failed start is part of the measurement.
            QElapsedTimer waited;
            waited.start();
            while (door->VideoCap->Connecting() && waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            door->StopActionExecute();
            delete door->SceneFrame();
            door.reset();
        },
        {std::make_shared<TNetworkCameraBackend>(
            QList<TNetworkCameraEntry>{{QStringLiteral("Door"), url}})});
}

} // namespace

BENCHMARK(BM_FrameGapIdle)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameGapWhileSupportMailStalls)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_FrameGapWhileASceneOf5000PicturesIsDeleted)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameGapWhileTheGuardFreesSpace)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_FrameGapWhileAV4l2CameraIsSilent)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_FrameGapWhileNetworkCameraStarts)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
