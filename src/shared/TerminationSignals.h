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

    // Calls Handler for every signal that arrives (signals that come together
    // count once), in whatever event loop runs, a message box's included.
    void Connect(std::function<void()> handler);

private:
    bool Drain() const;

    sigset_t Signals{};
    int Descriptor = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
};
