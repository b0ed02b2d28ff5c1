#include "BenchSupport.h"

#include "DemoCamera.h"
#include "kaGeneral.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

std::vector<std::uint8_t> DemoFrame(QSize size, int number) {
    auto settings = std::make_shared<TDemoCamera::TSettings>();
    settings->Size = size;
    TDemoCamera camera(1, settings);
    std::vector<std::uint8_t> frame;
    camera.Render(number, frame);
    return frame;
}

int RunWidgetBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    SetProgramDir(folder.path());
    {
        TkaLibrary library;
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    SetProgramDir(QString());
    return 0;
}
