// The program Tarvik as it starts, but with N replay cameras (the first
// argument, 1 by default) instead of the machine's, every one of them
// started. For bench/program-cpu: on SIGTERM or SIGINT it writes the frames
// each camera delivered since the cameras were started, and that time, to
// standard output and ends.
//
// With --new-scenes N the first camera records every frame, as fast as it
// can, as a scene of its own (every segment counts as moved, one picture a
// scene) into today's day directory, which holds N scenes of one picture
// each before the program starts; the report then also gives the pictures
// found stored (two in one millisecond share a name).

#include "CaptureDialogs.h"
#include "FTarvik.h"
#include "ReplayCameraBackend.h"
#include "TerminationSignals.h"
#include "frScene.h"
#include "frVideo.h"
#include "kaApplication.h"
#include "kaCheckBox.h"
#include "kaGeneral.h"
#include "kaLanguage.h"
#include "kaPictureAnalyser.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Scene k of the day began k x 10 ms after midnight: all are older than a
// scene begun now (unless now is the day's first 100 seconds).
QString MakeDay(const QString& sceneDir, int scenes) {
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString dayDir = sceneDir + QLatin1Char('/') + day;
    for (int k = 0; k < scenes; ++k) {
        const int ms = k * 10;
        const QString name = QStringLiteral("%1%2%3%4")
                                 .arg(ms / 3600000, 2, 10, QChar('0'))
                                 .arg(ms / 60000 % 60, 2, 10, QChar('0'))
                                 .arg(ms / 1000 % 60, 2, 10, QChar('0'))
                                 .arg(ms % 1000, 3, 10, QChar('0'));
        const QString scene = dayDir + QLatin1Char('/') + name;
        QFile picture(scene + QLatin1Char('/') + day + name + QStringLiteral(".jpg"));
        if (!QDir().mkpath(scene) || !picture.open(QIODevice::WriteOnly) ||
            picture.write("\xFF\xD8\xFF\xD9", 4) != 4 || !picture.flush()) {
            std::fprintf(stderr, "tarvik_replay: cannot write %s\n",
                         qPrintable(picture.fileName()));
            std::exit(EXIT_FAILURE);
        }
    }
    return dayDir;
}

int CountPictures(const QString& dayDir) {
    int count = 0;
    for (const QString& scene : QDir(dayDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += int(QDir(dayDir + QLatin1Char('/') + scene)
                         .entryList({QStringLiteral("*.jpg")}, QDir::Files)
                         .size());
    return count;
}

void RecordEveryFrame(TVideoFrame& page) {
    TSceneFrame* scenes = page.SceneFrame();
    if (scenes == nullptr) {
        std::fprintf(stderr, "tarvik_replay: the first camera has no scene page\n");
        std::exit(EXIT_FAILURE);
    }
    scenes->ActivekaCheckBox->setChecked(true);
    scenes->MaxPickaTrackbarFrame->TrackBar->SetPosition(1);
    page.kaPictureAnalyser->SetThresholdMaxSegment(-1.0);
    // As fast as the program stores them, so that the pictures a second
    // show what a picture costs.
    page.CaptureTimer->setInterval(0);
}

} // namespace

int main(int argc, char** argv) {
    TTerminationSignals terminationSignals;
    TkaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarvik"));
    app.setQuitOnLastWindowClosed(false);
    InstallCaptureDialogs();
    const int cameras = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, MaxNetworkCameras) : 1;
    const int dayScenes =
        argc > 3 && std::strcmp(argv[2], "--new-scenes") == 0 ? std::atoi(argv[3]) : -1;
    const auto backend = std::make_shared<TReplayCameraBackend>(cameras, QSize(640, 480));
    SetCaptureBackends({backend});

    TkaLibrary library;
    StartLanguage(QCoreApplication::arguments());
    // The first camera's folder, as the start-up names it.
    QString dayDir;
    if (dayScenes >= 0)
        dayDir = MakeDay(ProgramDir() + QStringLiteral("Scenes/0"), dayScenes);
    std::unique_ptr<TTarvikForm> form(CreateLoaded<TTarvikForm>());
    form->show();
    if (dayScenes >= 0 && !form->VideoFrames().isEmpty() && form->VideoFrames().front() != nullptr)
        RecordEveryFrame(*form->VideoFrames().front());
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
        if (dayScenes >= 0)
            std::printf("pictures: %d\n", CountPictures(dayDir) - dayScenes);
        std::fflush(stdout);
        QCoreApplication::exit(EXIT_SUCCESS);
    });
    const int result = QCoreApplication::exec();
    form.reset();
    return result;
}
