#pragma once

#include "FileStamp.h"

#include <QCache>
#include <QImage>
#include <QSize>
#include <QString>

// The picture in FileName decoded into RGB32, reduced by the decoder to the
// smallest size that still covers AtLeast (an empty size: the full picture).
// Raises EJPEG when the file cannot be read or its picture cannot be decoded.
QImage ReadPicture(const QString& fileName, QSize atLeast = QSize());

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

    int Count() const { return int(Items.count()); }
    // The memory held, in KiB.
    int TotalKiB() const { return int(Items.totalCost()); }
    void Clear() { Items.clear(); }

private:
    QCache<QString, QImage> Items;
};
