#include "ThumbnailCache.h"

#include "FileStamp.h"
#include "TJPEGImage.h"

#include <QPainter>
#include <algorithm>

QImage ReadPicture(const QString& fileName, QSize atLeast) {
    const QByteArray data = TJPEGImage::ReadFileData(fileName);
    try {
        return TJPEGImage::DecodeScaled(data, atLeast);
    } catch (const EJPEG& error) {
        // Which file it was matters to whoever reads the error log.
        throw EJPEG(
            QStringLiteral("Cannot show picture \"%1\": %2").arg(fileName, error.message()));
    }
}

QImage ScaledPicture(const QString& fileName, QSize size) {
    const QImage decoded = ReadPicture(fileName, size);
    if (size.isEmpty() || decoded.size() == size)
        return decoded;
    // The painter's bilinear filter: several times faster than
    // QImage::scaled's smooth scaling, and as good for a reduction this small.
    QImage picture(size, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(picture.rect(), decoded);
    return picture;
}

TThumbnailCache::TThumbnailCache(int maxKiB) : Items(std::max(1, maxKiB)) {}

QImage TThumbnailCache::Thumbnail(const QString& fileName, QSize size) {
    return Thumbnail(fileName, size, TFileStamp::Of(fileName));
}

QImage TThumbnailCache::Thumbnail(const QString& fileName, QSize size, const TFileStamp& stamp) {
    if (!stamp.Exists)
        return QImage();
    const QString key = QStringLiteral("%1\n%2x%3\n%4:%5:%6")
                            .arg(fileName)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(stamp.Size)
                            .arg(stamp.ModifiedNs)
                            .arg(stamp.Inode);
    if (const QImage* cached = Items.object(key))
        return *cached;
    const QImage picture = ScaledPicture(fileName, size);
    const qsizetype cost = std::max<qsizetype>(1, picture.sizeInBytes() / 1024);
    Items.insert(key, new QImage(picture), cost);
    return picture;
}
