#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <signal.h>

// SIGTERM and SIGINT, read as data from a signalfd on the main thread, so that
// a service manager or Ctrl+C ends a program as the end of the session does.
// Construct it before any thread starts: the signals are blocked so that every
// thread inherits the mask and the signals wait in the descriptor.
class TTerminationSignals {
public:
    TTerminationSignals();
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    // Calls Handler once for the first signal; later ones are read and dropped.
    void Connect(std::function<void()> handler);

private:
    bool Drain() const;

    sigset_t Signals{};
    int Descriptor = -1;
    bool Handled = false;
    std::unique_ptr<QSocketNotifier> Notifier;
};
