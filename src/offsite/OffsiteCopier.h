#pragma once

#include "OffsiteJournal.h"
#include "OffsiteTarget.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

class TOffsiteTransport;

// Pauses of the copier; tests shorten them.
struct TOffsiteTimings {
    // Retries after a failure wait FirstPause, then twice as long each time,
    // up to MaxPause.
    std::chrono::milliseconds FirstPause{1000};
    std::chrono::milliseconds MaxPause{60000};
    // A target failing this long is reported.
    std::chrono::milliseconds ReportAfter{60000};
    // Copied entries leave the journal at most this often (one that stays
    // behind is found on the target with its size and not sent again).
    std::chrono::milliseconds JournalDelay{1000};
};

// What the copier is doing, as the scene pages show it.
struct TOffsiteStatus {
    QString Target;
    int Waiting = 0;
    QDateTime LastCopied;
    // Why the last attempt failed; empty while copying works.
    QString Failure;
    // Queued pictures that were gone (deleted by the disk guard or the user)
    // before they could be sent.
    int Deleted = 0;
};

// Copies every stored picture to the off-site target on a thread of its own,
// the newest scene first. The queue is a journal beside the configuration
// file, saved before a new entry is copied, so the copying goes on after a
// kill or a restart. Nothing here deletes anything on the target. The public
// functions belong to the main thread and never wait for the network.
class TOffsiteCopier : public QObject {
    Q_OBJECT

public:
    TOffsiteCopier(const QString& journalFile, QObject* parent = nullptr,
                   TOffsiteTimings timings = {});
    // Stops the transfer under way and saves the journal.
    ~TOffsiteCopier() override;

    // Used from the next copy on; an invalid target holds the queue.
    void SetTarget(const TOffsiteTarget& target);
    bool HasTarget() const { return FHasTarget; }
    // Queues a picture stored in SceneDir (the camera's scene folder). False
    // when it lies elsewhere or while no target is set.
    bool Enqueue(const QString& sceneDir, const QString& fileName);

    TOffsiteStatus Status() const;
    // True while the target has failed for longer than ReportAfter.
    bool Failing() const { return FFailing; }
    // What a failing journal, or the start-up, had to say; empty when fine.
    QString JournalProblem() const;

signals:
    // Anything in Status changed (coalesced).
    void StatusChanged();
    // The target began or stopped failing for longer than ReportAfter.
    void FailingChanged(bool failing);

private:
    using TClock = std::chrono::steady_clock;

    void Run();
    // Moves the newly stored pictures into the queue; under the lock.
    bool TakeIncoming(TOffsiteQueue& queue);
    void SaveJournal(const TOffsiteQueue& queue);
    void CopyFirst(TOffsiteQueue& queue, std::unique_ptr<TOffsiteTransport>& transport,
                   const TOffsiteTarget& target);
    void Publish(const TOffsiteQueue& queue);
    void CheckFailing();

    TOffsiteJournal FJournal;
    TOffsiteTimings FTimings;
    bool FHasTarget = false;
    bool FFailing = false;
    QTimer* FFailureTimer = nullptr;

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FPublishPending{false};
    // Guarded by FMutex.
    std::vector<TOffsiteEntry> FIncoming;
    TOffsiteTarget FTarget;
    int FTargetGeneration = 0;
    TOffsiteStatus FStatus;
    std::optional<TClock::time_point> FFailingSince;
    QString FJournalProblem;

    // The worker's own.
    std::chrono::milliseconds FPause{0};
    TClock::time_point FRetryAt;
    TClock::time_point FLastJournalSave;
    bool FJournalBehind = false;
    int FTransportGeneration = -1;

    std::thread FWorker;
};
