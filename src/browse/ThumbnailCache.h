#pragma once

#include "FileStamp.h"
#include "TJPEGImage.h"

#include <QCache>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The picture in FileName decoded into RGB32, reduced by the decoder to the
// smallest size that still covers AtLeast (an empty size: the full picture).
// Raises EJPEG when the file cannot be read or its picture cannot be decoded.
QImage ReadPicture(const QString& fileName, QSize atLeast = QSize());

// Picture resampled bilinearly to Size, as RGB32. Meant for the small
// reductions left after the decoder's scaling (at most about one half): done
// here in one pass, without a painter or the painter's worker threads.
QImage Stretched(const QImage& picture, QSize size);

// The picture in FileName decoded reduced and stretched to Size (an empty
// size: the full picture). Raises EJPEG as ReadPicture.
QImage ScaledPicture(const QString& fileName, QSize size);

// Thumbnails of picture files scaled to the size they are drawn at, kept by
// file, size and file state: repainting, scrolling and restoring a thumbnail
// decode nothing again, while a rewritten file is decoded afresh. The least
// recently used thumbnails go when the bound is reached.
class TThumbnailCache {
public:
    static constexpr int DefaultMaxKiB = 64 * 1024;

    explicit TThumbnailCache(int maxKiB = DefaultMaxKiB);

    // The picture of FileName stretched to Size; a null image when the file
    // does not exist. Raises EJPEG for a file whose picture cannot be read.
    QImage Thumbnail(const QString& fileName, QSize size);
    // The same for a caller that has just taken the file's stamp.
    QImage Thumbnail(const QString& fileName, QSize size, const TFileStamp& stamp);

    // The cached picture under Key (KeyOf), or null; counts as a use.
    const QImage* Find(const QString& key) { return Items.object(key); }
    void Insert(const QString& key, const QImage& picture);
    static QString KeyOf(const QString& fileName, QSize size, const TFileStamp& stamp);

    int Count() const { return int(Items.count()); }
    // The memory held, in KiB.
    int TotalKiB() const { return int(Items.totalCost()); }
    void Clear() { Items.clear(); }

private:
    QCache<QString, QImage> Items;
};
