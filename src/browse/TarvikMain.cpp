// The program Tarvik: the library's start-up, the main window, the message loop.

#include "ApplicationErrors.h"
#include "CaptureDialogs.h"
#include "FTarvik.h"
#include "TerminationSignals.h"
#include "TkaDialogs.h"
#include "kaApplication.h"
#include "kaApplicationEvents.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// An error before the main window exists: nothing else would show it.
void ReportStartFailure(const std::exception& error) {
    const QString text = TkaApplicationEvents::ErrorDescription(error);
    std::fprintf(stderr, "Tarvik: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
    RunHandled([&text] { Dialogs().ShowError(TkaApplicationEvents::ErrorTitle(), text); });
}

// One run of the program: the library, the main window, the message loop.
class TTarvikProgram {
public:
    int Run() {
        try {
            Library = std::make_unique<TkaLibrary>();
            StartLanguage(QCoreApplication::arguments());
            Form.reset(CreateLoaded<TTarvikForm>());
        } catch (const std::exception& error) {
            ReportStartFailure(error);
            return EXIT_FAILURE;
        }
        if (Terminating) {
            // Ended while the start-up showed a message: end as the session does.
            Form->EndUnattended();
            return End(EXIT_SUCCESS);
        }
        QObject::connect(Form.get(), &TTarvikForm::Terminated, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        Form->show();
        // Shown once, so the settings are restored, then into the tray.
        if (HasSwitch(QCoreApplication::arguments(), TTarvikForm::MinimizedSwitch))
            QMetaObject::invokeMethod(
                Form.get(), [this] { Form->HideActionExecute(); }, Qt::QueuedConnection);
        return End(QCoreApplication::exec());
    }

    // SIGTERM or SIGINT. The first ends the program as the end of the session
    // does; one that comes while that ending still waits (for an error box)
    // leaves every event loop at once.
    void Terminate() {
        if (Terminating || Form == nullptr) {
            // During the start-up this leaves any message box; Run then ends.
            Terminating = true;
            QCoreApplication::exit(EXIT_SUCCESS);
            return;
        }
        Terminating = true;
        // Nobody may be at the screen to answer a box: what fails on the way
        // out (the placement on a full disk) goes to the error log only.
        Form->kaApplicationEvents1->SetShowExceptionBox(false);
        // Not inside the signal's own handler: a box that is open meanwhile
        // must still see the next signal.
        QTimer::singleShot(0, Form.get(), [this] { Form->EndUnattended(); });
    }

private:
    int End(int result) {
        // Remanent controls write their values as their windows go.
        Form.reset();
        Library.reset();
        return result;
    }

    std::unique_ptr<TkaLibrary> Library;
    std::unique_ptr<TTarvikForm> Form;
    bool Terminating = false;
};

} // namespace

int main(int argc, char** argv) {
    TTerminationSignals terminationSignals;
    TkaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarvik"));
    // Setup windows may stay open; the program ends through its main window.
    app.setQuitOnLastWindowClosed(false);
    InstallCaptureDialogs();
    TTarvikProgram program;
    terminationSignals.Connect([&program] { program.Terminate(); });
    return program.Run();
}
