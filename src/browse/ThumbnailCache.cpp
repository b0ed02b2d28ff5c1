#include "ThumbnailCache.h"

#include "FileStamp.h"
#include "TJPEGImage.h"

#include <QFile>
#include <algorithm>

QImage ReadPicture(const QString& fileName, QSize atLeast) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EJPEG(
            QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EJPEG(
            QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, file.errorString()));
    try {
        return TJPEGImage::DecodeScaled(data, atLeast);
    } catch (const EJPEG& error) {
        // Which file it was matters to whoever reads the error log.
        throw EJPEG(
            QStringLiteral("Cannot show picture \"%1\": %2").arg(fileName, error.message()));
    }
}

TThumbnailCache::TThumbnailCache(int maxKiB) : Items(std::max(1, maxKiB)) {}

QImage TThumbnailCache::Thumbnail(const QString& fileName, QSize size) {
    const TFileStamp stamp = TFileStamp::Of(fileName);
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
    QImage picture = ReadPicture(fileName, size);
    if (picture.size() != size && !size.isEmpty())
        picture = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const qsizetype cost = std::max<qsizetype>(1, picture.sizeInBytes() / 1024);
    Items.insert(key, new QImage(picture), cost);
    return picture;
}
