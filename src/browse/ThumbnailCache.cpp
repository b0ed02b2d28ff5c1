#include "ThumbnailCache.h"

#include "FileStamp.h"
#include "TJPEGImage.h"

#include <algorithm>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

namespace {

// Mixes two RGB32 pixels, Weight (0 to 256) parts of Second: two channels per
// multiplication, the opaque alpha staying opaque.
inline quint32 Mix(quint32 first, quint32 second, quint32 weight) {
    const quint32 keep = 256 - weight;
    const quint32 redBlue =
        (((first & 0xff00ffU) * keep + (second & 0xff00ffU) * weight) >> 8) & 0xff00ffU;
    const quint32 alphaGreen =
        (((first >> 8) & 0xff00ffU) * keep + ((second >> 8) & 0xff00ffU) * weight) & 0xff00ff00U;
    return redBlue | alphaGreen;
}

// Where each target pixel's centre falls between two source pixels, in
// 1/256 of a pixel.
struct TTap {
    int First;
    int Second;
    quint32 Weight;
};

std::vector<TTap> Taps(int source, int target) {
    std::vector<TTap> taps(static_cast<size_t>(target));
    const qint64 last = qint64(source - 1) << 8;
    for (int i = 0; i < target; ++i) {
        const qint64 centre = (qint64(2 * i + 1) * source << 8) / (2 * target) - 128;
        const qint64 at = std::clamp<qint64>(centre, 0, last);
        const int first = int(at >> 8);
        taps[size_t(i)] = {first, std::min(first + 1, source - 1), quint32(at & 0xff)};
    }
    return taps;
}

#ifdef __SSE2__

// Four channels of Pixels' low half widened to 16 bits each.
inline __m128i Widened(__m128i pixels) {
    return _mm_unpacklo_epi8(pixels, _mm_setzero_si128());
}

void MixRows(const quint32* upper, const quint32* lower, quint32 weight, quint32* out, int width) {
    // 255 times 256 at most: 16 bits hold every sum.
    const __m128i second = _mm_set1_epi16(short(weight));
    const __m128i first = _mm_set1_epi16(short(256 - weight));
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + x));
        const __m128i zero = _mm_setzero_si128();
        const __m128i low =
            _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), first),
                                         _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), second)),
                           8);
        const __m128i high =
            _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), first),
                                         _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), second)),
                           8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
    }
    for (; x < width; ++x)
        out[x] = Mix(upper[x], lower[x], weight);
}

// Line holds one pixel beyond the source width, read with weight 0.
void MixColumns(const quint32* line, const std::vector<TTap>& columns, quint32* out) {
    for (const TTap& column : columns) {
        const auto weight = short(column.Weight);
        const auto keep = short(256 - column.Weight);
        const __m128i pair =
            Widened(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + column.First)));
        const __m128i products = _mm_mullo_epi16(
            pair, _mm_set_epi16(weight, weight, weight, weight, keep, keep, keep, keep));
        const __m128i sum = _mm_srli_epi16(_mm_add_epi16(products, _mm_srli_si128(products, 8)), 8);
        *out++ = quint32(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
    }
}

#else

void MixRows(const quint32* upper, const quint32* lower, quint32 weight, quint32* out, int width) {
    for (int x = 0; x < width; ++x)
        out[x] = Mix(upper[x], lower[x], weight);
}

void MixColumns(const quint32* line, const std::vector<TTap>& columns, quint32* out) {
    for (const TTap& column : columns)
        *out++ = Mix(line[column.First], line[column.First + 1], column.Weight);
}

#endif

} // namespace

QImage Stretched(const QImage& picture, QSize size) {
    const QImage source = picture.convertToFormat(QImage::Format_RGB32);
    QImage result(size, QImage::Format_RGB32);
    if (result.isNull())
        throw EJPEG(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels")
                        .arg(size.width())
                        .arg(size.height()));
    const std::vector<TTap> columns = Taps(source.width(), size.width());
    const std::vector<TTap> rows = Taps(source.height(), size.height());
    // Rows first into one line, then columns: one mix fewer per pixel. The
    // line has one pixel more, so that each column reads its two pixels at once.
    std::vector<quint32> between(static_cast<size_t>(source.width()) + 1);
    for (int y = 0; y < size.height(); ++y) {
        const TTap& row = rows[size_t(y)];
        MixRows(reinterpret_cast<const quint32*>(source.constScanLine(row.First)),
                reinterpret_cast<const quint32*>(source.constScanLine(row.Second)), row.Weight,
                between.data(), source.width());
        MixColumns(between.data(), columns, reinterpret_cast<quint32*>(result.scanLine(y)));
    }
    return result;
}

QImage ScaledPicture(const QString& fileName, QSize size) {
    const QImage decoded = ReadPicture(fileName, size);
    if (size.isEmpty() || decoded.size() == size)
        return decoded;
    return Stretched(decoded, size);
}

TThumbnailCache::TThumbnailCache(int maxKiB) : Items(std::max(1, maxKiB)) {}

QImage TThumbnailCache::Thumbnail(const QString& fileName, QSize size) {
    return Thumbnail(fileName, size, TFileStamp::Of(fileName));
}

QString TThumbnailCache::KeyOf(const QString& fileName, QSize size, const TFileStamp& stamp) {
    return QStringLiteral("%1\n%2x%3\n%4:%5:%6")
        .arg(fileName)
        .arg(size.width())
        .arg(size.height())
        .arg(stamp.Size)
        .arg(stamp.ModifiedNs)
        .arg(stamp.Inode);
}

void TThumbnailCache::Insert(const QString& key, const QImage& picture) {
    const qsizetype cost = std::max<qsizetype>(1, picture.sizeInBytes() / 1024);
    Items.insert(key, new QImage(picture), cost);
}

QImage TThumbnailCache::Thumbnail(const QString& fileName, QSize size, const TFileStamp& stamp) {
    if (!stamp.Exists)
        return QImage();
    const QString key = KeyOf(fileName, size, stamp);
    if (const QImage* cached = Items.object(key))
        return *cached;
    const QImage picture = ScaledPicture(fileName, size);
    Insert(key, picture);
    return picture;
}
