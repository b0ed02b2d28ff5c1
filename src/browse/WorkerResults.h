#pragma once

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <memory>
#include <utility>

// Hands results of work on other threads to an object of the main thread, in
// its event loop. Whatever a worker posts after the owner is gone is dropped:
// a worker keeps a copy of the port, never a pointer to the owner.
class TWorkerResults {
public:
    explicit TWorkerResults(QObject* target) : State(std::make_shared<TState>()) {
        State->Target = target;
    }
    TWorkerResults(const TWorkerResults&) = default;
    TWorkerResults& operator=(const TWorkerResults&) = default;

    // Called by the owner as it goes: nothing reaches it afterwards.
    void Close() const {
        const QMutexLocker lock(&State->Mutex);
        State->Target = nullptr;
    }

    // Runs Handler on the target's thread, unless the target has closed. The
    // post happens under the lock, so the target cannot go in between; what
    // is posted then dies with the target's queued events.
    template <class Handler> void Post(Handler&& handler) const {
        const QMutexLocker lock(&State->Mutex);
        if (State->Target != nullptr)
            QMetaObject::invokeMethod(State->Target, std::forward<Handler>(handler),
                                      Qt::QueuedConnection);
    }

private:
    struct TState {
        QMutex Mutex;
        QObject* Target = nullptr;
    };
    std::shared_ptr<TState> State;
};
