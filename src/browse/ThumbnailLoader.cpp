#include "ThumbnailLoader.h"

#include <QMutexLocker>
#include <QPointer>
#include <QThread>
#include <exception>

TThumbnailLoader::TThumbnailLoader(QObject* parent) : QObject(parent) {
    FPool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    FPool.setObjectName(QStringLiteral("ThumbnailPool"));
    FDeliveryTimer.setSingleShot(true);
    connect(&FDeliveryTimer, &QTimer::timeout, this, &TThumbnailLoader::DeliverNow);
}

TThumbnailLoader::~TThumbnailLoader() {
    FResults.Close();
    // Only the decodings already running are waited for, each bounded.
    CancelQueued();
    FPool.waitForDone();
}

QImage TThumbnailLoader::Request(const QString& fileName, QSize size, const TFileStamp& stamp) {
    if (!stamp.Exists || size.isEmpty())
        return QImage();
    const QString key = TThumbnailCache::KeyOf(fileName, size, stamp);
    if (const QImage* cached = FCache.Find(key))
        return *cached;
    if (FPending.contains(key))
        return QImage();
    FPending.insert(key);
    const QMutexLocker lock(&FQueue->Mutex);
    FQueue->Jobs.push_back({key, fileName, size});
    if (FQueue->Workers < FPool.maxThreadCount()) {
        ++FQueue->Workers;
        // The loader is dereferenced only in the event loop, where the port
        // guarantees it lives.
        FPool.start(
            [queue = FQueue, results = FResults, loader = this] { Work(queue, results, loader); });
    }
    return QImage();
}

void TThumbnailLoader::CancelQueued() {
    {
        const QMutexLocker lock(&FQueue->Mutex);
        FQueue->Jobs.clear();
    }
    // What still runs answers for itself; the rest is asked for again when drawn.
    FPending.clear();
}

void TThumbnailLoader::Work(const std::shared_ptr<TQueue>& queue, const TWorkerResults& results,
                            TThumbnailLoader* loader) {
    QMutexLocker lock(&queue->Mutex);
    while (!queue->Jobs.empty()) {
        TJob job = std::move(queue->Jobs.front());
        queue->Jobs.pop_front();
        ++queue->Running;
        lock.unlock();
        TResult result = Made(std::move(job));
        lock.relock();
        --queue->Running;
        queue->Done.push_back(std::move(result));
        // One hand-over waits at a time. A full batch, and what is done once
        // no decoding waits to start, go at once: the page then draws while
        // the last pictures decode. A result done while such a hand-over is
        // on its way goes with it.
        const bool urgent = queue->Jobs.empty() || queue->Done.size() >= DeliveryBatch;
        if (!queue->DeliveryPosted || (urgent && !queue->UrgentPosted)) {
            queue->DeliveryPosted = true;
            queue->UrgentPosted = queue->UrgentPosted || urgent;
            results.Post([loader, urgent] { loader->Deliver(urgent); });
        }
    }
    --queue->Workers;
}

TThumbnailLoader::TResult TThumbnailLoader::Made(TJob job) {
    TResult result{std::move(job.Key), std::move(job.FileName), QImage(), std::nullopt};
    try {
        result.Picture = ScaledPicture(result.FileName, job.Size);
    } catch (const EJPEG& failure) {
        result.Error = failure;
    } catch (const std::exception& failure) {
        result.Error = EJPEG(QStringLiteral("Cannot show picture \"%1\": %2")
                                 .arg(result.FileName, QString::fromLocal8Bit(failure.what())));
    }
    return result;
}

void TThumbnailLoader::Deliver(bool urgent) {
    const qint64 since = FSinceDelivery.isValid() ? FSinceDelivery.elapsed() : DeliveryIntervalMs;
    if (urgent || since >= DeliveryIntervalMs) {
        DeliverNow();
        return;
    }
    if (!FDeliveryTimer.isActive())
        FDeliveryTimer.start(int(DeliveryIntervalMs - since));
}

void TThumbnailLoader::DeliverNow() {
    FDeliveryTimer.stop();
    std::vector<TResult> done;
    {
        const QMutexLocker lock(&FQueue->Mutex);
        done.swap(FQueue->Done);
        FQueue->DeliveryPosted = false;
        FQueue->UrgentPosted = false;
    }
    FSinceDelivery.start();
    // A handler may close the page and this loader with it.
    const QPointer<TThumbnailLoader> alive(this);
    for (const TResult& result : done) {
        Finished(result);
        if (!alive)
            return;
    }
}

void TThumbnailLoader::Finished(const TResult& result) {
    FPending.remove(result.Key);
    if (result.Error) {
        if (OnFailed)
            OnFailed(result.FileName, *result.Error);
        return;
    }
    FCache.Insert(result.Key, result.Picture);
    if (OnReady)
        OnReady(result.FileName);
}
