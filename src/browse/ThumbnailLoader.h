#pragma once

#include "FileStamp.h"
#include "TJPEGImage.h"
#include "ThumbnailCache.h"
#include "WorkerResults.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Thumbnails made on worker threads: the page asks for what it draws, gets
// what is cached at once and a null image for the rest, which is decoded on
// the pool and announced from the event loop when it is ready or has failed.
// The main thread never decodes, however large or hostile a picture is.
class TThumbnailLoader : public QObject {
    Q_OBJECT

public:
    // While decoding goes on, finished thumbnails are handed over at most
    // this often, the last one of a run at once: the main thread wakes once a
    // screen frame, not once a thumbnail, and leaves the cores to the decoding.
    static constexpr int DeliveryIntervalMs = 16;
    // ... or once this many are waiting, or no decoding waits to start: what
    // the page draws after the pool has finished stays short.
    static constexpr size_t DeliveryBatch = 32;

    explicit TThumbnailLoader(QObject* parent = nullptr);
    ~TThumbnailLoader() override;

    // The thumbnail of FileName (as it is on disk: Stamp) at Size, or a null
    // image while it is being made; its decoding is queued once.
    QImage Request(const QString& fileName, QSize size, const TFileStamp& stamp);
    // Drops the decodings not yet started (the page shows another day).
    void CancelQueued();
    // Decodings asked for that have not been answered yet.
    int Pending() const { return int(FPending.size()); }

    // Run in the event loop when a thumbnail has been cached or could not be made.
    std::function<void(const QString& fileName)> OnReady;
    std::function<void(const QString& fileName, const EJPEG& error)> OnFailed;

    TThumbnailCache& Cache() { return FCache; }

private:
    struct TJob {
        QString Key;
        QString FileName;
        QSize Size;
    };
    struct TResult {
        QString Key;
        QString FileName;
        QImage Picture;
        std::optional<EJPEG> Error;
    };
    // The loader's own queue, shared with the workers under Mutex: a worker
    // takes job after job until it is empty, so a page of thumbnails costs a
    // thread wake-up or two, not one a picture.
    struct TQueue {
        QMutex Mutex;
        std::deque<TJob> Jobs;
        std::vector<TResult> Done;
        int Workers = 0; // worker loops started that have not ended
        int Running = 0; // jobs being decoded
        bool DeliveryPosted = false;
        bool UrgentPosted = false; // a hand-over at once is on its way
    };

    static void Work(const std::shared_ptr<TQueue>& queue, const TWorkerResults& results,
                     TThumbnailLoader* loader);
    static TResult Made(TJob job);
    void Deliver(bool urgent);
    void DeliverNow();
    void Finished(const TResult& result);

    TThumbnailCache FCache;
    QSet<QString> FPending;
    std::shared_ptr<TQueue> FQueue = std::make_shared<TQueue>();
    QThreadPool FPool;
    QTimer FDeliveryTimer;
    QElapsedTimer FSinceDelivery;
    TWorkerResults FResults{this};
};
