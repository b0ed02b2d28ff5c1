// The program Tarvik: the library's start-up, the main window, the message loop.

#include "CaptureDialogs.h"
#include "FTarvik.h"
#include "kaApplication.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// SIGTERM and SIGINT, read as data from a signalfd on the main thread, so that
// a service manager or Ctrl+C ends the program as the end of the session does.
class TTerminationSignals {
public:
    TTerminationSignals() {
        sigemptyset(&Signals);
        sigaddset(&Signals, SIGTERM);
        sigaddset(&Signals, SIGINT);
        // Blocked before any thread starts, so every thread inherits the mask
        // and the signals wait in the descriptor.
        pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
        Descriptor = signalfd(-1, &Signals, SFD_NONBLOCK | SFD_CLOEXEC);
    }
    ~TTerminationSignals() {
        Notifier.reset();
        if (Descriptor >= 0)
            close(Descriptor);
    }
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    // Calls Handler once for the first signal; later ones are read and dropped.
    void Connect(std::function<void()> handler) {
        if (Descriptor < 0)
            return;
        Notifier = std::make_unique<QSocketNotifier>(Descriptor, QSocketNotifier::Read);
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                         [this, handler = std::move(handler)] {
                             if (Drain() && !Handled) {
                                 Handled = true;
                                 handler();
                             }
                         });
    }

private:
    bool Drain() const {
        signalfd_siginfo info{};
        bool received = false;
        while (read(Descriptor, &info, sizeof info) == ssize_t(sizeof info))
            received = true;
        return received;
    }

    sigset_t Signals{};
    int Descriptor = -1;
    bool Handled = false;
    std::unique_ptr<QSocketNotifier> Notifier;
};

} // namespace

int main(int argc, char** argv) {
    TTerminationSignals terminationSignals;
    TkaApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarvik"));
    // Setup windows may stay open; the program ends through its main window.
    app.setQuitOnLastWindowClosed(false);
    const TkaLibrary library;
    StartLanguage(QCoreApplication::arguments());
    InstallCaptureDialogs();

    std::unique_ptr<TTarvikForm> form(CreateLoaded<TTarvikForm>());
    QObject::connect(form.get(), &TTarvikForm::Terminated, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    terminationSignals.Connect([&form] { form->WMQueryEndSession(); });
    form->show();
    const int result = app.exec();
    // Remanent controls write their values as their windows go.
    form.reset();
    return result;
}
