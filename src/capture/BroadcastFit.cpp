#include "BroadcastFit.h"

#include "StmJPG.h"

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <vector>

namespace {

// Below this the picture says too little to be worth sending.
constexpr int MinQuality = 10;
constexpr int MinSide = 40;

QByteArray Serialised(const TStmJPG& picture) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    picture.SaveToStream(buffer);
    return buffer.data();
}

// The qualities tried at one size, highest first: from Start down in thirds.
std::vector<int> Qualities(int start) {
    std::vector<int> qualities;
    for (int quality : {start, start * 2 / 3, start / 2, start / 3, MinQuality}) {
        quality = std::clamp(quality, MinQuality, start);
        if (qualities.empty() || quality < qualities.back())
            qualities.push_back(quality);
    }
    return qualities;
}

// A smaller copy of Picture that fits MaxSize, or an empty array.
QByteArray FittingCopy(const TStmJPG& picture, qint64 maxSize) {
    // Decoded on a copy: the caller's picture keeps only its compressed data.
    TJPEGImage decoded = picture.Image();
    QImage bitmap = decoded.Decode();
    const int original = std::clamp(picture.Image().Quality(), MinQuality, TJPEGImage::MaxQuality);
    TStmJPG copy;
    copy.SetSource(picture.Source());
    copy.SetTime(picture.Time());
    bool fullSize = true;
    while (bitmap.width() >= MinSide && bitmap.height() >= MinSide) {
        // At full size the original quality did not fit already.
        std::vector<int> qualities = Qualities(original);
        if (fullSize)
            qualities.erase(qualities.begin());
        for (int quality : qualities) {
            TJPEGImage image;
            image.Assign(bitmap);
            image.SetQuality(quality);
            image.Compress();
            image.FreeBitmap();
            copy.SetImage(image);
            QByteArray datagram = Serialised(copy);
            if (datagram.size() <= maxSize)
                return datagram;
        }
        bitmap = bitmap.scaled(bitmap.width() / 2, bitmap.height() / 2, Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation);
        fullSize = false;
    }
    return {};
}

} // namespace

bool SaveFittingStmJPG(const TStmJPG& picture, QIODevice& stream, qint64 maxSize) {
    QByteArray datagram = Serialised(picture);
    bool fits = datagram.size() <= maxSize;
    // Room that the picture alone takes cannot be won back by shrinking it.
    const qint64 rest = datagram.size() - picture.Image().Size();
    if (!fits && !picture.Image().Empty() && rest < maxSize) {
        try {
            QByteArray copy = FittingCopy(picture, maxSize);
            if (!copy.isEmpty()) {
                datagram = copy;
                fits = true;
            }
        } catch (const EkaError&) {
            // A picture that does not decode is not made smaller; the
            // sender's check refuses it as before.
        }
    }
    stream.write(datagram);
    return fits;
}
