#include "ApplicationErrors.h"
#include "BenchSupport.h"
#include "DemoCameraBackend.h"
#include "FrameGapMeter.h"
#include "MailAccounts.h"
#include "NetworkCameraBackend.h"
#include "TIdSMTP.h"
#include "TkaDialogs.h"
#include "frFeedBack.h"
#include "frVideo.h"
#include "kaComboBox.h"
#include "kaGeneral.h"
#include "kaPageControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <benchmark/benchmark.h>
#include <functional>
#include <memory>

// How steadily a running camera is grabbed while the main thread has other
// work: the largest gap between two grabs of a demo camera page at the
// default pause of 100 ms, with nothing else to do and while a Support mail
// goes to a server that accepts and never answers, or while another page
// starts a network camera that never answers. The target is a gap of at
// most twice the pause plus 50 ms. Wall-clock figures: the machine's load
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
// under test, End ends it.
void MeasureGaps(benchmark::State& state, const std::function<void()>& disturb,
                 const std::function<void()>& end) {
    TSilentDialogs silentDialogs;
    TkaDialogs* previousDialogs = SetDialogs(&silentDialogs);
    auto meter = std::make_shared<TFrameGapMeter>(std::make_shared<TDemoCameraBackend>(1));
    SetCaptureBackends({meter});
    std::unique_ptr<TVideoFrame> page(CreateLoaded<TVideoFrame>(nullptr, nullptr));
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
            disturb();
        while (running.elapsed() < RunMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (end)
            end();
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
        state, [&support] { support->SendButtonClick(); },
        [&silent, &support] {
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

// A second page starts a network camera whose host accepts the connection
// and never answers, and is stopped again.
void BM_FrameGapWhileNetworkCameraStarts(benchmark::State& state) {
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    const QString url = QStringLiteral("http://127.0.0.1:%1/stream").arg(silent.serverPort());
    std::unique_ptr<TVideoFrame> door;
    MeasureGaps(
        state,
        [&] {
            TCaptureBackendList backends = CaptureBackends();
            backends.push_back(std::make_shared<TNetworkCameraBackend>(
                QList<TNetworkCameraEntry>{{QStringLiteral("Door"), url}}));
            SetCaptureBackends(backends);
            door.reset(CreateLoaded<TVideoFrame>(nullptr, nullptr));
            door->VideoCap->SetDriverIndex(1);
            RunHandled([&door] { door->PlayActionExecute(); });
        },
        [&door] {
            // The failed start is part of the measurement.
            QElapsedTimer waited;
            waited.start();
            while (door->VideoCap->Connecting() && waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            door->StopActionExecute();
            delete door->SceneFrame();
            door.reset();
        });
}

} // namespace

BENCHMARK(BM_FrameGapIdle)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameGapWhileSupportMailStalls)
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
