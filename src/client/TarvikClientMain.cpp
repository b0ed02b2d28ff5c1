// The program TarvikClient: the library's start-up, the window, the message loop.

#include "ApplicationErrors.h"
#include "FTarvikClient.h"
#include "TerminationSignals.h"
#include "TkaDialogs.h"
#include "kaApplication.h"
#include "kaApplicationEvents.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace {

// An error before the window exists: nothing else would show it.
void ReportStartFailure(const std::exception& error) {
    const QString text = TkaApplicationEvents::ErrorDescription(error);
    std::fprintf(stderr, "TarvikClient: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
    RunHandled([&text] { Dialogs().ShowError(TkaApplicationEvents::ErrorTitle(), text); });
}

// One run of the client: the library, the window, the message loop.
class TClientProgram {
public:
    int Run() {
        try {
            Library = std::make_unique<TkaLibrary>();
            StartLanguage(QCoreApplication::arguments());
        } catch (const std::exception& error) {
            // Only an export run can fail here (no language folder): it says
            // so and the client runs with its designed texts.
            std::fprintf(stderr, "TarvikClient: %s\n", error.what());
        }
        try {
            Form.reset(CreateLoaded<TTarvikClientForm>());
        } catch (const std::exception& error) {
            ReportStartFailure(error);
            return EXIT_FAILURE;
        }
        if (Terminating)
            return End(EXIT_SUCCESS);
        QObject::connect(Form.get(), &TTarvikClientForm::Terminated, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        // The first show may ask about the port in a box of its own.
        Form->show();
        Shown = true;
        if (Terminating) {
            Form->WMQueryEndSession();
            return End(EXIT_SUCCESS);
        }
        return End(QCoreApplication::exec());
    }

    // SIGTERM or SIGINT: before the message loop runs (a box of the start-up
    // or of the first show is open) it leaves every event loop at once; later
    // it ends the client as the end of the session does.
    void Terminate() {
        if (Terminating || !Shown) {
            Terminating = true;
            QCoreApplication::exit(EXIT_SUCCESS);
            return;
        }
        Terminating = true;
        // Nobody may be at the screen to answer a box on the way out.
        Form->kaApplicationEvents1->SetShowExceptionBox(false);
        QTimer::singleShot(0, Form.get(), [this] { Form->WMQueryEndSession(); });
    }

private:
    int End(int result) {
        // Start.Jpg and the remanent controls are written as the window goes.
        Form.reset();
        Library.reset();
        return result;
    }

    std::unique_ptr<TkaLibrary> Library;
    std::unique_ptr<TTarvikClientForm> Form;
    bool Shown = false;
    bool Terminating = false;
};

} // namespace

int main(int argc, char** argv) {
    TTerminationSignals terminationSignals;
    TkaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("TarvikClient"));
    // The setup dialog closing must not end the program; the window does.
    app.setQuitOnLastWindowClosed(false);
    TClientProgram program;
    terminationSignals.Connect([&program] { program.Terminate(); });
    return program.Run();
}
