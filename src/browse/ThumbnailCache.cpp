#include "ThumbnailCache.h"

#include "FileStamp.h"
#include "TJPEGImage.h"

#include <algorithm>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
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

// The target's columns; Pairs holds their weights as the vector mix
// multiplies them (empty where it is not used).
struct TColumns {
    std::vector<TTap> Taps;
    std::vector<quint32> Pairs;
};

void MixRowsScalar(const quint32* upper, const quint32* lower, quint32 weight, quint32* out,
                   int width) {
    for (int x = 0; x < width; ++x)
        out[x] = Mix(upper[x], lower[x], weight);
}

// Line holds one pixel beyond the source width, read with weight 0.
void MixColumnsScalar(const quint32* line, const TColumns& columns, size_t from, quint32* out) {
    for (size_t x = from; x < columns.Taps.size(); ++x) {
        const TTap& column = columns.Taps[x];
        out[x] = Mix(line[column.First], line[column.First + 1], column.Weight);
    }
}

// The vector passes where the processor has them, else the scalar ones.
class TMixers {
public:
    TMixers();
    TColumns Columns(int source, int target) const;
    void Rows(const quint32* upper, const quint32* lower, quint32 weight, quint32* out,
              int width) const;
    void Line(const quint32* line, const TColumns& columns, quint32* out) const;

private:
    bool Avx2 = false;
};

#if defined(__x86_64__) || defined(__i386__)

// Eight pixels a step, each channel widened to 16 bits: 255 times 256 at
// most, so 16 bits hold every sum.
[[gnu::target("avx2")]] void MixRowsAvx2(const quint32* upper, const quint32* lower, quint32 weight,
                                         quint32* out, int width) {
    const __m256i second = _mm256_set1_epi16(short(weight));
    const __m256i first = _mm256_set1_epi16(short(256 - weight));
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper + x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower + x));
        const __m256i low = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(a, zero), first),
                             _mm256_mullo_epi16(_mm256_unpacklo_epi8(b, zero), second)),
            8);
        const __m256i high = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(a, zero), first),
                             _mm256_mullo_epi16(_mm256_unpackhi_epi8(b, zero), second)),
            8);
        // Unpacking and packing both stay within each 128-bit half: the order holds.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_packus_epi16(low, high));
    }
    MixRowsScalar(upper + x, lower + x, weight, out + x, width - x);
}

// Eight target pixels a step, in four registers: register K holds pixel K in
// its lower half and pixel K + 4 in its upper one, so that the in-lane packs
// put all eight in order. Each pixel's two source pixels are spread into
// pairs of 16-bit channels and weighed by one multiply-add; the weights lie
// ready in Pairs, 32 bytes a register.
[[gnu::target("avx2")]] void MixColumnsAvx2(const quint32* line, const TColumns& columns,
                                            quint32* out) {
    const __m256i spread = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,
                                            0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
    const TTap* taps = columns.Taps.data();
    const quint32* pairs = columns.Pairs.data();
    const size_t groups = columns.Taps.size() / 8;
    for (size_t group = 0; group < groups; ++group, taps += 8, pairs += 32, out += 8) {
        __m256i mixed[4];
        for (int k = 0; k < 4; ++k) {
            const __m128i low =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + taps[k].First));
            const __m128i high =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + taps[k + 4].First));
            const __m256i two = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
            const __m256i weights =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + 8 * k));
            mixed[k] =
                _mm256_srli_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(two, spread), weights), 8);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_packus_epi16(_mm256_packs_epi32(mixed[0], mixed[1]),
                                                _mm256_packs_epi32(mixed[2], mixed[3])));
    }
}

TMixers::TMixers() : Avx2(__builtin_cpu_supports("avx2")) {}

#else

TMixers::TMixers() = default;

#endif

TColumns TMixers::Columns(int source, int target) const {
    TColumns columns{Taps(source, target), {}};
    if (!Avx2)
        return columns;
    // Column X of a group of eight goes into register X % 4, half X / 4, as
    // four copies of its pair of weights.
    const size_t vectored = columns.Taps.size() / 8 * 8;
    columns.Pairs.resize(vectored * 4);
    for (size_t x = 0; x < vectored; ++x) {
        const quint32 weight = columns.Taps[x].Weight;
        const size_t at = x / 8 * 32 + x % 4 * 8 + x % 8 / 4 * 4;
        std::fill_n(columns.Pairs.begin() + qsizetype(at), 4, weight << 16 | (256 - weight));
    }
    return columns;
}

void TMixers::Rows(const quint32* upper, const quint32* lower, quint32 weight, quint32* out,
                   int width) const {
#if defined(__x86_64__) || defined(__i386__)
    if (Avx2) {
        MixRowsAvx2(upper, lower, weight, out, width);
        return;
    }
#endif
    MixRowsScalar(upper, lower, weight, out, width);
}

void TMixers::Line(const quint32* line, const TColumns& columns, quint32* out) const {
    size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (Avx2) {
        MixColumnsAvx2(line, columns, out);
        done = columns.Taps.size() / 8 * 8;
    }
#endif
    MixColumnsScalar(line, columns, done, out);
}

} // namespace

QImage Stretched(const QImage& picture, QSize size) {
    const QImage source = picture.convertToFormat(QImage::Format_RGB32);
    QImage result(size, QImage::Format_RGB32);
    if (result.isNull())
        throw EJPEG(QStringLiteral("Not enough memory for a picture of %1 x %2 pixels")
                        .arg(size.width())
                        .arg(size.height()));
    static const TMixers mixers;
    const TColumns columns = mixers.Columns(source.width(), size.width());
    const std::vector<TTap> rows = Taps(source.height(), size.height());
    // Rows first into one line, then columns: one mix fewer per pixel. The
    // line has one pixel more, so that each column reads its two pixels at once.
    std::vector<quint32> between(static_cast<size_t>(source.width()) + 1);
    for (int y = 0; y < size.height(); ++y) {
        const TTap& row = rows[size_t(y)];
        mixers.Rows(reinterpret_cast<const quint32*>(source.constScanLine(row.First)),
                    reinterpret_cast<const quint32*>(source.constScanLine(row.Second)), row.Weight,
                    between.data(), source.width());
        mixers.Line(between.data(), columns, reinterpret_cast<quint32*>(result.scanLine(y)));
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
    // Put together piece by piece: asked for twice a thumbnail on the painting
    // thread, and a "%" in a file name stays what it is.
    QString key;
    key.reserve(fileName.size() + 64);
    key.append(fileName)
        .append(u'\n')
        .append(QString::number(size.width()))
        .append(u'x')
        .append(QString::number(size.height()))
        .append(u'\n')
        .append(QString::number(stamp.Size))
        .append(u':')
        .append(QString::number(stamp.ModifiedNs))
        .append(u':')
        .append(QString::number(stamp.Inode));
    return key;
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
