// The program TarvikClient: the library's start-up, the window, the message loop.

#include "FTarvikClient.h"
#include "TerminationSignals.h"
#include "kaApplication.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

int main(int argc, char** argv) {
    TTerminationSignals terminationSignals;
    TkaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("TarvikClient"));
    // The setup dialog closing must not end the program; the window does.
    app.setQuitOnLastWindowClosed(false);
    const TkaLibrary library;
    try {
        StartLanguage(QCoreApplication::arguments());
    } catch (const std::exception& error) {
        // Only an export run can fail here (no language folder): it says so
        // and the client runs with its designed texts.
        std::fprintf(stderr, "TarvikClient: %s\n", error.what());
    }

    std::unique_ptr<TTarvikClientForm> form(CreateLoaded<TTarvikClientForm>());
    QObject::connect(form.get(), &TTarvikClientForm::Terminated, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // The first signal ends the client as the end of the session does.
    terminationSignals.Connect([&form, ending = false]() mutable {
        if (!std::exchange(ending, true))
            form->WMQueryEndSession();
    });
    form->show();
    const int result = app.exec();
    // Start.Jpg and the remanent controls are written as the window goes.
    form.reset();
    return result;
}
