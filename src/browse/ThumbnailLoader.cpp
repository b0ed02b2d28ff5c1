#include "ThumbnailLoader.h"

#include <QRunnable>
#include <QThread>
#include <exception>
#include <optional>

TThumbnailLoader::TThumbnailLoader(QObject* parent) : QObject(parent) {
    FPool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    FPool.setObjectName(QStringLiteral("ThumbnailPool"));
}

TThumbnailLoader::~TThumbnailLoader() {
    FResults.Close();
    // Only the decodings already running are waited for, each bounded.
    FPool.clear();
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
    const TWorkerResults results = FResults;
    // Dereferenced only in the event loop, where the port guarantees it lives.
    TThumbnailLoader* loader = this;
    FPool.start([results, loader, key, fileName, size] {
        QImage picture;
        std::optional<EJPEG> error;
        try {
            picture = ScaledPicture(fileName, size);
        } catch (const EJPEG& failure) {
            error = failure;
        } catch (const std::exception& failure) {
            error = EJPEG(QStringLiteral("Cannot show picture \"%1\": %2")
                              .arg(fileName, QString::fromLocal8Bit(failure.what())));
        }
        results.Post([loader, key, fileName, picture, error] {
            loader->Finished(key, fileName, picture, error ? &*error : nullptr);
        });
    });
    return QImage();
}

void TThumbnailLoader::CancelQueued() {
    FPool.clear();
    // What still runs answers for itself; the rest is asked for again when drawn.
    FPending.clear();
}

void TThumbnailLoader::Finished(const QString& key, const QString& fileName, const QImage& picture,
                                const EJPEG* error) {
    FPending.remove(key);
    if (error != nullptr) {
        if (OnFailed)
            OnFailed(fileName, *error);
        return;
    }
    FCache.Insert(key, picture);
    if (OnReady)
        OnReady(fileName);
}
