// The program Tarvik as it starts, but with N replay cameras (the first
// argument, 1 by default) instead of the machine's, every one of them
// started. For bench/program-cpu: on SIGTERM or SIGINT it writes the frames
// each camera delivered since the cameras were started, and that time, to
// standard output and ends.

#include "CaptureDialogs.h"
#include "FTarvik.h"
#include "ReplayCameraBackend.h"
#include "TerminationSignals.h"
#include "frVideo.h"
#include "kaApplication.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    TTerminationSignals terminationSignals;
    TkaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarvik"));
    app.setQuitOnLastWindowClosed(false);
    InstallCaptureDialogs();
    const int cameras = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, MaxNetworkCameras) : 1;
    const auto backend = std::make_shared<TReplayCameraBackend>(cameras, QSize(640, 480));
    SetCaptureBackends({backend});

    TkaLibrary library;
    StartLanguage(QCoreApplication::arguments());
    std::unique_ptr<TTarvikForm> form(CreateLoaded<TTarvikForm>());
    form->show();
    // The start-up starts the first camera only; here every one runs.
    for (const QPointer<TVideoFrame>& page : form->VideoFrames())
        if (page != nullptr && !page->CaptureTimer->isActive())
            page->PlayActionExecute();
    QElapsedTimer running;
    running.start();

    terminationSignals.Connect([&] {
        std::printf("running: %.3f s\n", double(running.elapsed()) / 1000);
        for (int i = 0; i < cameras; ++i)
            std::printf("camera %d: %ld frames\n", i + 1, backend->GrabCount(i));
        std::fflush(stdout);
        QCoreApplication::exit(EXIT_SUCCESS);
    });
    const int result = QCoreApplication::exec();
    form.reset();
    return result;
}
