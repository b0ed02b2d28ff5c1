#pragma once

#include "EkaError.h"
#include "kaSceneFiles.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

// What the error handling is told when recordings could not be deleted.
class ESceneDeletion : public EkaError {
public:
    using EkaError::EkaError;
};

// Deletes recordings on a thread of its own, one job after the other, so that
// removing a scene of thousands of pictures never holds the main thread (and
// with it every camera's grabs). The object lives on the main thread; what a
// job hands back reaches it through the event loop. A job that meets a
// failure has it reported once, from the event loop, and not again for the
// same key until a job of that key runs without one. When the object goes
// (the program ends), a running job stops between two files and queued ones
// are dropped: they leave whole pictures in scenes as old as before, which
// the rules find again later.
class TSceneDeleter final : public QObject {
public:
    using TJob = std::function<void(TDeletionControl& control)>;

    explicit TSceneDeleter(QObject* parent = nullptr);
    ~TSceneDeleter() override;
    TSceneDeleter(const TSceneDeleter&) = delete;
    TSceneDeleter& operator=(const TSceneDeleter&) = delete;

    // Queues Job under Key (which may be empty).
    void Run(const QString& key, TJob job);
    // For a job: runs Call on the main thread, in order with what the job
    // posted before and before the job counts as finished.
    void Post(std::function<void()> call);

    // A job of Key is queued or running (as the main thread knows it).
    bool Busy(const QString& key) const { return Running.contains(key); }
    bool Idle() const { return Jobs.empty(); }
    // Path is, or lies below, the key of a queued or running job: a
    // directory on its way out, which listings leave out.
    bool Deleting(const QString& path) const;
    // The bytes of the pictures the running job is about to remove: the
    // free-space reading does not show them yet.
    qint64 PendingBytes() const { return Control.PendingBytes.load(); }

    static void RegisterMessages();

private:
    struct TQueued {
        std::uint64_t Id = 0;
        TJob Job;
    };

    void Work();
    void Finished(std::uint64_t id, const QString& failure);

    // Main thread: the key of every queued or running job, and the keys
    // whose last failure was reported.
    std::unordered_map<std::uint64_t, QString> Jobs;
    QMultiHash<QString, std::uint64_t> Running;
    QSet<QString> Failing;
    std::uint64_t NextId = 1;

    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<TQueued> Queue;
    bool Ending = false;
    TDeletionControl Control;
    // Last, so it starts once everything it uses is there.
    std::thread Worker;
};
