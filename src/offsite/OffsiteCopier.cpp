#include "OffsiteCopier.h"

#include "OffsiteTransport.h"

#include <QFileInfo>

namespace {

constexpr int FailureCheckInterval = 1000; // ms

bool FitsJournal(const QString& text) {
    return !text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n'));
}

} // namespace

TOffsiteCopier::TOffsiteCopier(const QString& journalFile, QObject* parent, TOffsiteTimings timings)
    : QObject(parent), FJournal(journalFile), FTimings(timings) {
    FFailureTimer = new QTimer(this);
    FFailureTimer->setInterval(FailureCheckInterval);
    connect(FFailureTimer, &QTimer::timeout, this, &TOffsiteCopier::CheckFailing);
    FFailureTimer->start();
    FWorker = std::thread([this] { Run(); });
}

TOffsiteCopier::~TOffsiteCopier() {
    {
        const std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    FWorker.join();
}

void TOffsiteCopier::SetTarget(const TOffsiteTarget& target) {
    FHasTarget = target.IsValid();
    {
        const std::lock_guard lock(FMutex);
        FTarget = target;
        ++FTargetGeneration;
        FStatus.Target = target.Display();
        FStatus.Failure.clear();
        FFailingSince.reset();
    }
    FWake.notify_all();
    CheckFailing();
    emit StatusChanged();
}

bool TOffsiteCopier::Enqueue(const QString& sceneDir, const QString& fileName) {
    if (!FHasTarget)
        return false;
    const QString relative = OffsiteRelativePath(sceneDir, fileName);
    const QString local = QFileInfo(fileName).absoluteFilePath();
    if (relative.isEmpty() || !FitsJournal(local))
        return false;
    {
        const std::lock_guard lock(FMutex);
        FIncoming.push_back({relative, local, false});
    }
    FWake.notify_all();
    return true;
}

TOffsiteStatus TOffsiteCopier::Status() const {
    const std::lock_guard lock(FMutex);
    return FStatus;
}

QString TOffsiteCopier::JournalProblem() const {
    const std::lock_guard lock(FMutex);
    return FJournalProblem;
}

void TOffsiteCopier::CheckFailing() {
    bool failing = false;
    {
        const std::lock_guard lock(FMutex);
        failing = FFailingSince && TClock::now() - *FFailingSince >= FTimings.ReportAfter;
    }
    if (failing == FFailing)
        return;
    FFailing = failing;
    emit FailingChanged(failing);
}

// ---- Worker ----------------------------------------------------------------------------

bool TOffsiteCopier::TakeIncoming(TOffsiteQueue& queue) {
    if (FIncoming.empty())
        return false;
    for (TOffsiteEntry& entry : FIncoming)
        queue.insert(std::move(entry));
    FIncoming.clear();
    return true;
}

void TOffsiteCopier::SaveJournal(const TOffsiteQueue& queue) {
    QString problem;
    try {
        FJournal.Save(queue);
    } catch (const EOffsiteJournal& error) {
        problem = error.message();
    }
    FLastJournalSave = TClock::now();
    FJournalBehind = !problem.isEmpty();
    const std::lock_guard lock(FMutex);
    FJournalProblem = problem;
}

void TOffsiteCopier::Publish(const TOffsiteQueue& queue) {
    {
        const std::lock_guard lock(FMutex);
        FStatus.Waiting = int(queue.size() + FIncoming.size());
    }
    if (FPublishPending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FPublishPending = false;
            emit StatusChanged();
        },
        Qt::QueuedConnection);
}

void TOffsiteCopier::CopyFirst(TOffsiteQueue& queue, std::unique_ptr<TOffsiteTransport>& transport,
                               const TOffsiteTarget& target) {
    const TOffsiteEntry entry = *queue.begin();
    auto gone = [&] {
        if (QFileInfo::exists(entry.LocalPath))
            return false;
        queue.erase(queue.begin());
        FJournalBehind = true;
        const std::lock_guard lock(FMutex);
        ++FStatus.Deleted;
        return true;
    };
    if (gone())
        return;
    try {
        if (transport == nullptr)
            transport = TOffsiteTransport::Make(target, &FStop);
        transport->Put(entry.LocalPath, entry.RelativePath, entry.MayExist);
    } catch (const EOffsiteCopy& error) {
        if (FStop || gone())
            return;
        // A broken connection is not used again, and the picture may have
        // arrived before the failure.
        transport.reset();
        queue.begin()->MayExist = true;
        FPause =
            FPause.count() == 0 ? FTimings.FirstPause : std::min(FPause * 2, FTimings.MaxPause);
        FRetryAt = TClock::now() + FPause;
        const std::lock_guard lock(FMutex);
        FStatus.Failure = error.message();
        if (!FFailingSince)
            FFailingSince = TClock::now();
        return;
    }
    queue.erase(queue.begin());
    FJournalBehind = true;
    FPause = std::chrono::milliseconds(0);
    const std::lock_guard lock(FMutex);
    // With the count, so no page shows the copy as still waiting.
    FStatus.Waiting = int(queue.size() + FIncoming.size());
    FStatus.LastCopied = QDateTime::currentDateTime();
    FStatus.Failure.clear();
    FFailingSince.reset();
}

void TOffsiteCopier::Run() {
    TOffsiteQueue queue = FJournal.Load();
    {
        const std::lock_guard lock(FMutex);
        FJournalProblem = FJournal.Problem();
        if (FJournal.SkippedLines() > 0)
            FJournalProblem = QStringLiteral("%1 unreadable lines skipped in %2")
                                  .arg(FJournal.SkippedLines())
                                  .arg(FJournal.FileName());
    }
    std::unique_ptr<TOffsiteTransport> transport;
    Publish(queue);
    for (;;) {
        std::unique_lock lock(FMutex);
        const bool added = TakeIncoming(queue);
        if (FStop)
            break;
        const TOffsiteTarget target = FTarget;
        const int generation = FTargetGeneration;
        lock.unlock();
        if (generation != FTransportGeneration) {
            transport.reset();
            FTransportGeneration = generation;
            FPause = std::chrono::milliseconds(0);
            FRetryAt = TClock::now();
        }
        // A new entry reaches the disk before anything is copied.
        if (added)
            SaveJournal(queue);
        else if (FJournalBehind &&
                 (queue.empty() || TClock::now() - FLastJournalSave >= FTimings.JournalDelay))
            SaveJournal(queue);
        Publish(queue);
        lock.lock();
        if (!FIncoming.empty() || FStop)
            continue;
        if (queue.empty() || !target.IsValid()) {
            FWake.wait_for(lock, FTimings.JournalDelay, [this, generation] {
                return FStop || !FIncoming.empty() || FTargetGeneration != generation;
            });
            continue;
        }
        if (TClock::now() < FRetryAt) {
            FWake.wait_until(lock, FRetryAt, [this, generation] {
                return FStop || !FIncoming.empty() || FTargetGeneration != generation;
            });
            continue;
        }
        lock.unlock();
        CopyFirst(queue, transport, target);
    }
    SaveJournal(queue);
}
