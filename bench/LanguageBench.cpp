// One language switch of the whole main window with four camera pages: the
// messages, every registered form's texts and every accelerator run.
#include "DemoCameraBackend.h"
#include "FTarvik.h"
#include "MailAccounts.h"
#include "Videocap.h"
#include "frVideo.h"
#include "kaApplication.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

void BM_LanguageSwitchFourCameras(benchmark::State& state) {
    QTemporaryDir folder;
    SetProgramDir(folder.path());
    QDir().mkpath(folder.filePath("Language"));
    for (const char* name : {"english.ini", "german.ini"})
        QFile::copy(QStringLiteral(TARVIK_LANGUAGE_DIR) + name,
                    folder.filePath(QStringLiteral("Language/") + name));
    SetMailHomeDir(folder.filePath("home"));
    {
        TkaLibrary library;
        SetCaptureBackends({std::make_shared<TDemoCameraBackend>(4)});
        std::unique_ptr<TTarvikForm> form(CreateLoaded<TTarvikForm>());
        form->FirstPlayTimer->stop();
        if (form->VideoFrames().size() != 4)
            state.SkipWithError("four camera pages expected");
        bool german = false;
        for (auto _ : state) {
            german = !german;
            SelectLanguageByName(german ? QStringLiteral("german") : QStringLiteral("english"));
        }
        form.reset();
        SetCaptureBackends({});
    }
    SetMailHomeDir(QString());
    SetProgramDir(QString());
}
BENCHMARK(BM_LanguageSwitchFourCameras)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TkaApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
