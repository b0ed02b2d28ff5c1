#include "TerminationSignals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

TTerminationSignals::TTerminationSignals() {
    sigemptyset(&Signals);
    sigaddset(&Signals, SIGTERM);
    sigaddset(&Signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
    Descriptor = signalfd(-1, &Signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

TTerminationSignals::~TTerminationSignals() {
    Notifier.reset();
    if (Descriptor >= 0)
        close(Descriptor);
}

void TTerminationSignals::Connect(std::function<void()> handler) {
    if (Descriptor < 0)
        return;
    Notifier = std::make_unique<QSocketNotifier>(Descriptor, QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                     [this, handler = std::move(handler)] {
                         if (Drain())
                             handler();
                     });
}

bool TTerminationSignals::Drain() const {
    signalfd_siginfo info{};
    bool received = false;
    while (read(Descriptor, &info, sizeof info) == ssize_t(sizeof info))
        received = true;
    return received;
}
