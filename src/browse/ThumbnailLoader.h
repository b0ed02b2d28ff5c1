#pragma once

#include "FileStamp.h"
#include "TJPEGImage.h"
#include "ThumbnailCache.h"
#include "WorkerResults.h"

#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <functional>

// Thumbnails made on worker threads: the page asks for what it draws, gets
// what is cached at once and a null image for the rest, which is decoded on
// the pool and announced from the event loop when it is ready or has failed.
// The main thread never decodes, however large or hostile a picture is.
class TThumbnailLoader : public QObject {
    Q_OBJECT

public:
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
    void Finished(const QString& key, const QString& fileName, const QImage& picture,
                  const EJPEG* error);

    TThumbnailCache FCache;
    QSet<QString> FPending;
    QThreadPool FPool;
    TWorkerResults FResults{this};
};
