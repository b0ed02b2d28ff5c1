#include "kaPictureAnalyser.h"

#include "EkaError.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <immintrin.h>
#endif
#include <limits>

namespace {

constexpr int BytesPerPixel = 3;
// Byte offset of each channel (indexed red, green, blue) within a pixel.
constexpr std::array<int, 3> ChannelOffset{2, 1, 0};

// Column sums are 16 bits wide, so one vector adds 16 bytes at a time; they
// are flushed into the segments before a lane can overflow.
constexpr int MaxRowsPerFold = static_cast<int>(std::numeric_limits<std::uint16_t>::max() / 255);

// Whole-number ceiling of n / count.
int CeilDiv(int n, int count) {
    return n / count + (n % count != 0 ? 1 : 0);
}

// Origin of segment i of count along an axis of n pixels: the remainder is
// spread so that the last segment ends at the edge. A single segment starts at
// 0 and covers the whole axis (the spread term would divide by zero).
int SegmentOrigin(int n, int count, int i) {
    const std::int64_t spread =
        count > 1 ? static_cast<std::int64_t>(n % count) * i / (count - 1) : 0;
    return static_cast<int>(spread + static_cast<std::int64_t>(n / count) * i);
}

// Pixels of a segment starting at origin that lie inside an axis of n pixels.
int ClippedLength(int origin, int length, int n) {
    return std::clamp(n - origin, 0, length);
}

// Column sums of `rows` rows of `count` bytes, the first at `first` and each
// `stride` bytes after the last, written to sums. A strip of columns is summed
// over a block of rows in registers and the sums are loaded and stored once a
// block; a block is few enough rows for the prefetcher to follow every one.
constexpr int RowsPerBlock = 8;

// With `add` the block's sums are added to those already in sums.
void SumColumnsScalar(const uchar* first, qsizetype stride, int rows, std::uint16_t* sums,
                      qsizetype count, bool add) {
    for (qsizetype k = 0; k < count; ++k) {
        std::uint16_t sum = add ? sums[k] : 0;
        const uchar* byte = first + k;
        for (int y = 0; y < rows; ++y, byte += stride)
            sum = static_cast<std::uint16_t>(sum + *byte);
        sums[k] = sum;
    }
}

#if defined(__SSE2__)
void SumColumnsSse2(const uchar* first, qsizetype stride, int rows, std::uint16_t* sums,
                    qsizetype count, bool add) {
    const __m128i zero = _mm_setzero_si128();
    qsizetype k = 0;
    for (; k + 16 <= count; k += 16) {
        __m128i low = zero, high = zero;
        const uchar* strip = first + k;
        for (int y = 0; y < rows; ++y, strip += stride) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(strip));
            low = _mm_add_epi16(low, _mm_unpacklo_epi8(bytes, zero));
            high = _mm_add_epi16(high, _mm_unpackhi_epi8(bytes, zero));
        }
        auto* out = reinterpret_cast<__m128i*>(sums + k);
        if (add) {
            low = _mm_add_epi16(low, _mm_loadu_si128(out));
            high = _mm_add_epi16(high, _mm_loadu_si128(out + 1));
        }
        _mm_storeu_si128(out, low);
        _mm_storeu_si128(out + 1, high);
    }
    SumColumnsScalar(first + k, stride, rows, sums + k, count - k, add);
}

// A strip is one cache line of each row.
[[gnu::target("avx2")]] void SumColumnsAvx2(const uchar* first, qsizetype stride, int rows,
                                            std::uint16_t* sums, qsizetype count, bool add) {
    qsizetype k = 0;
    for (; k + 64 <= count; k += 64) {
        __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
        const uchar* strip = first + k;
        for (int y = 0; y < rows; ++y, strip += stride) {
            const auto* bytes = reinterpret_cast<const __m128i*>(strip);
            a0 = _mm256_add_epi16(a0, _mm256_cvtepu8_epi16(_mm_loadu_si128(bytes)));
            a1 = _mm256_add_epi16(a1, _mm256_cvtepu8_epi16(_mm_loadu_si128(bytes + 1)));
            a2 = _mm256_add_epi16(a2, _mm256_cvtepu8_epi16(_mm_loadu_si128(bytes + 2)));
            a3 = _mm256_add_epi16(a3, _mm256_cvtepu8_epi16(_mm_loadu_si128(bytes + 3)));
        }
        auto* out = reinterpret_cast<__m256i*>(sums + k);
        if (add) {
            a0 = _mm256_add_epi16(a0, _mm256_loadu_si256(out));
            a1 = _mm256_add_epi16(a1, _mm256_loadu_si256(out + 1));
            a2 = _mm256_add_epi16(a2, _mm256_loadu_si256(out + 2));
            a3 = _mm256_add_epi16(a3, _mm256_loadu_si256(out + 3));
        }
        _mm256_storeu_si256(out, a0);
        _mm256_storeu_si256(out + 1, a1);
        _mm256_storeu_si256(out + 2, a2);
        _mm256_storeu_si256(out + 3, a3);
    }
    SumColumnsSse2(first + k, stride, rows, sums + k, count - k, add);
}

void SumColumns(const uchar* first, qsizetype stride, int rows, std::uint16_t* sums,
                qsizetype count) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    for (int done = 0; done < rows; done += RowsPerBlock) {
        const uchar* block = first + stride * done;
        const int blockRows = std::min(RowsPerBlock, rows - done);
        if (avx2)
            SumColumnsAvx2(block, stride, blockRows, sums, count, done > 0);
        else
            SumColumnsSse2(block, stride, blockRows, sums, count, done > 0);
    }
}

// Eight pixels are 24 column sums, three vectors of eight. Widened to 32 bits
// they are six vectors of four whose channels repeat in only three patterns
// (0 1 2 0, 1 2 0 1, 2 0 1 2), so three accumulators keep every lane on one
// channel and the channels are told apart once, at the end.
constexpr int PixelsPerGroup = 8;
constexpr int SumsPerGroup = PixelsPerGroup * BytesPerPixel;
// A channel takes eight column sums of at most 65535 per group: this many
// groups cannot wrap its 32 bits.
constexpr int MaxGroupsPerFold = 8192;

// Row r keeps the column sums of the first r pixels of a group.
struct TGroupMasks {
    alignas(16) std::array<std::array<std::uint16_t, SumsPerGroup>, PixelsPerGroup> Rows{};
};

constexpr TGroupMasks MakeGroupMasks() {
    TGroupMasks masks;
    for (int r = 0; r < PixelsPerGroup; ++r)
        for (int k = 0; k < r * BytesPerPixel; ++k)
            masks.Rows[std::size_t(r)][std::size_t(k)] = 0xFFFF;
    return masks;
}

constexpr TGroupMasks GroupMasks = MakeGroupMasks();

struct TGroupSums {
    __m128i P0 = _mm_setzero_si128();
    __m128i P1 = _mm_setzero_si128();
    __m128i P2 = _mm_setzero_si128();

    void Add(__m128i a, __m128i b, __m128i c) {
        const __m128i zero = _mm_setzero_si128();
        P0 = _mm_add_epi32(P0,
                           _mm_add_epi32(_mm_unpacklo_epi16(a, zero), _mm_unpackhi_epi16(b, zero)));
        P1 = _mm_add_epi32(P1,
                           _mm_add_epi32(_mm_unpackhi_epi16(a, zero), _mm_unpacklo_epi16(c, zero)));
        P2 = _mm_add_epi32(P2,
                           _mm_add_epi32(_mm_unpacklo_epi16(b, zero), _mm_unpackhi_epi16(c, zero)));
    }

    // Lane k of pattern p holds channel (p + k) mod 3: the patterns are turned
    // so that lanes 0 to 2 hold channels 0 to 2, and the lanes 3 are added
    // apart.
    void AddTo(std::array<std::int64_t, 3>& sums) const {
        const __m128i lanes3 = _mm_shuffle_epi32(_mm_unpackhi_epi64(_mm_unpackhi_epi32(P0, P1), P2),
                                                 _MM_SHUFFLE(3, 3, 1, 0));
        const __m128i channels =
            _mm_add_epi32(_mm_add_epi32(P0, lanes3),
                          _mm_add_epi32(_mm_shuffle_epi32(P1, _MM_SHUFFLE(3, 1, 0, 2)),
                                        _mm_shuffle_epi32(P2, _MM_SHUFFLE(3, 0, 2, 1))));
        auto* blueGreen = reinterpret_cast<__m128i*>(sums.data());
        _mm_storeu_si128(blueGreen,
                         _mm_add_epi64(_mm_loadu_si128(blueGreen),
                                       _mm_unpacklo_epi32(channels, _mm_setzero_si128())));
        sums[2] += static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(channels, 8)));
    }
};

// The last, partial group is read whole and masked, so the column sums need
// SumsPerGroup readable entries past the last pixel.
void ReduceColumns(const std::uint16_t* pixel, int columns, std::array<std::int64_t, 3>& sums) {
    while (columns > 0) {
        const int whole = std::min(columns / PixelsPerGroup, MaxGroupsPerFold - 1);
        TGroupSums group;
        for (int g = 0; g < whole; ++g, pixel += SumsPerGroup) {
            const auto* in = reinterpret_cast<const __m128i*>(pixel);
            group.Add(_mm_loadu_si128(in), _mm_loadu_si128(in + 1), _mm_loadu_si128(in + 2));
        }
        columns -= whole * PixelsPerGroup;
        if (columns < PixelsPerGroup) {
            const auto* in = reinterpret_cast<const __m128i*>(pixel);
            const auto* mask =
                reinterpret_cast<const __m128i*>(GroupMasks.Rows[std::size_t(columns)].data());
            group.Add(_mm_and_si128(_mm_loadu_si128(in), _mm_load_si128(mask)),
                      _mm_and_si128(_mm_loadu_si128(in + 1), _mm_load_si128(mask + 1)),
                      _mm_and_si128(_mm_loadu_si128(in + 2), _mm_load_si128(mask + 2)));
            columns = 0;
        }
        group.AddTo(sums);
    }
}

// Packed and scalar division round alike, so the quotients are those of a
// plain loop.
void DivideAllSse2(double* values, std::size_t count, double divisor) {
    const __m128d by = _mm_set1_pd(divisor);
    std::size_t k = 0;
    for (; k + 2 <= count; k += 2)
        _mm_storeu_pd(values + k, _mm_div_pd(_mm_loadu_pd(values + k), by));
    for (; k < count; ++k)
        values[k] /= divisor;
}

[[gnu::target("avx2")]] void DivideAllAvx2(double* values, std::size_t count, double divisor) {
    const __m256d by = _mm256_set1_pd(divisor);
    std::size_t k = 0;
    for (; k + 4 <= count; k += 4)
        _mm256_storeu_pd(values + k, _mm256_div_pd(_mm256_loadu_pd(values + k), by));
    DivideAllSse2(values + k, count - k, divisor);
}

void DivideAll(double* values, std::size_t count, double divisor) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        DivideAllAvx2(values, count, divisor);
    else
        DivideAllSse2(values, count, divisor);
}
#else
constexpr int SumsPerGroup = 0;

void SumColumns(const uchar* first, qsizetype stride, int rows, std::uint16_t* sums,
                qsizetype count) {
    SumColumnsScalar(first, stride, rows, sums, count, false);
}

void ReduceColumns(const std::uint16_t* pixel, int columns, std::array<std::int64_t, 3>& sums) {
    std::uint64_t b = 0, g = 0, r = 0;
    for (int c = 0; c < columns; ++c, pixel += BytesPerPixel) {
        b += pixel[0];
        g += pixel[1];
        r += pixel[2];
    }
    sums[0] += std::int64_t(b);
    sums[1] += std::int64_t(g);
    sums[2] += std::int64_t(r);
}

void DivideAll(double* values, std::size_t count, double divisor) {
    for (std::size_t k = 0; k < count; ++k)
        values[k] /= divisor;
}
#endif

} // namespace

TkaBitmapView::TkaBitmapView(const QImage& image)
    : Width(image.width()), Height(image.height()), Bgr24(image.format() == QImage::Format_BGR888) {
    if (!Bgr24 || Height < 1)
        return;
    FirstRow = image.constScanLine(0);
    RowStride = Height >= 2 ? image.constScanLine(1) - FirstRow : image.bytesPerLine();
}

TkaPictureAnalyser::TkaPictureAnalyser(QObject* parent) : QObject(parent) {
    RebuildGrid(FxSegments, FySegments);
}

int TkaPictureAnalyser::CheckedCount(int value) {
    if (value <= 0)
        throw EkaError("Value must be > 0");
    return value;
}

void TkaPictureAnalyser::SetxSegments(int value) {
    if (CheckedCount(value) != FxSegments)
        RebuildGrid(value, FySegments);
}

void TkaPictureAnalyser::SetySegments(int value) {
    if (CheckedCount(value) != FySegments)
        RebuildGrid(FxSegments, value);
}

void TkaPictureAnalyser::SetThresholdTotal(double value) {
    // Written so that NaN is refused as well.
    if (!(value >= 1.0))
        throw EkaError("Value must be > 0");
    FThresholdTotal = value;
}

// The new grid is built before the counts change, so a failed allocation
// leaves the analyser as it was.
void TkaPictureAnalyser::RebuildGrid(int xs, int ys) {
    std::vector<TkaSegment> grid(static_cast<std::size_t>(xs) * static_cast<std::size_t>(ys));
    Grid.swap(grid);
    FxSegments = xs;
    FySegments = ys;
}

std::size_t TkaPictureAnalyser::Index(int x, int y) const {
    return static_cast<std::size_t>(x) * static_cast<std::size_t>(FySegments) +
           static_cast<std::size_t>(y);
}

const TkaSegment& TkaPictureAnalyser::Segment(int x, int y) const {
    if (x < 0 || x >= FxSegments || y < 0 || y >= FySegments)
        throw EkaError(QStringLiteral("Segment (%1, %2) out of range").arg(x).arg(y));
    return Grid[Index(x, y)];
}

double TkaPictureAnalyser::SegmentValue(int x, int y) const {
    const auto& delta = Segment(x, y).Delta;
    return (delta[TkaSegment::Red] + delta[TkaSegment::Green] + delta[TkaSegment::Blue]) / 3;
}

int TkaPictureAnalyser::CountMaxSegments() const {
    int count = 0;
    for (int x = 0; x < FxSegments; ++x)
        for (int y = 0; y < FySegments; ++y)
            if (SegmentValue(x, y) >= FThresholdMaxSegment)
                ++count;
    return count;
}

void TkaPictureAnalyser::ShiftSums() {
    for (auto& segment : Grid) {
        segment.PrevSum = segment.CurSum;
        segment.CurSum = {};
    }
}

bool TkaPictureAnalyser::Analyse(const TkaBitmapView& bitmap) {
    if (!bitmap.Bgr24)
        throw EkaError("PixelFormat<>pf24Bit");
    const int width = bitmap.Width;
    const int height = bitmap.Height;
    // A picture that fails the size tests has still consumed the previous sums.
    if (height < 2) {
        ShiftSums();
        throw EkaError("BitMap.height<2");
    }
    // A picture without columns has no segments to normalise by.
    if (width < 1) {
        ShiftSums();
        throw EkaError("BitMap.width<1");
    }
    const int segWidth = CeilDiv(width, FxSegments);
    const int segHeight = CeilDiv(height, FySegments);

    const std::int64_t pictureTotal = SumSegments(bitmap, segWidth, segHeight);
    FBrightness = static_cast<double>(pictureTotal) / height / width;

    if (FIgnoreLightChanges)
        TakeOutLightChange(width, height, segWidth, segHeight);
    std::int64_t total = 0;
    double maxDelta = 0.0;
    CompareSums(segWidth, segHeight, total, maxDelta);
    FTotalMaxSegmentDelta = maxDelta;

    bool isMotion = false;
    if (FTotalMaxSegmentDelta >= FThresholdMaxSegment) {
        if (OnThresholdMaxSegment)
            OnThresholdMaxSegment(this, FTotalMaxSegmentDelta, isMotion);
        else if (!OnThresholdTotal)
            isMotion = true;
    }
    // Set only now: the segment handler sees the previous picture's total. A
    // total beyond 32 bits saturates rather than wrapping to a small value.
    FTotalDelta = static_cast<int>(std::min<std::int64_t>(total, std::numeric_limits<int>::max()));
    if (FTotalDelta >= FThresholdTotal) {
        if (OnThresholdTotal)
            OnThresholdTotal(this, FTotalDelta, isMotion);
        else if (!OnThresholdMaxSegment)
            isMotion = true;
    }
    return Decide(isMotion);
}

bool TkaPictureAnalyser::Decide(bool isMotion) {
    const bool result = isMotion || FFirstFrame;
    FFirstFrame = false;
    return result;
}

void TkaPictureAnalyser::TakeOutLightChange(int width, int height, int segWidth, int segHeight) {
    ColumnWidths.resize(static_cast<std::size_t>(FxSegments));
    for (int i = 0; i < FxSegments; ++i)
        ColumnWidths[std::size_t(i)] =
            ClippedLength(ColumnOrigins[std::size_t(i)], segWidth, width);
    RowHeights.resize(static_cast<std::size_t>(FySegments));
    for (int j = 0; j < FySegments; ++j)
        RowHeights[std::size_t(j)] =
            ClippedLength(SegmentOrigin(height, FySegments, j), segHeight, height);
    FLightChange.Correct(Grid, ColumnWidths, RowHeights);
}

// Shifts the sums as each segment row is done and returns the picture total
// (shared pixels twice). Everything is sized before the first segment changes.
std::int64_t TkaPictureAnalyser::SumSegments(const TkaBitmapView& bitmap, int segWidth,
                                             int segHeight) {
    ColumnOrigins.resize(static_cast<std::size_t>(FxSegments));
    for (int i = 0; i < FxSegments; ++i)
        ColumnOrigins[static_cast<std::size_t>(i)] = SegmentOrigin(bitmap.Width, FxSegments, i);
    ColumnSums.resize(static_cast<std::size_t>(bitmap.Width) * BytesPerPixel + SumsPerGroup);
    RowSums.resize(static_cast<std::size_t>(FxSegments));
    Changes.resize(Grid.size() * 3);
    std::int64_t pictureTotal = 0;
    for (int j = 0; j < FySegments; ++j) {
        std::fill(RowSums.begin(), RowSums.end(), std::array<std::int64_t, 3>{});
        const int y0 = SegmentOrigin(bitmap.Height, FySegments, j);
        int rows = ClippedLength(y0, segHeight, bitmap.Height);
        for (int first = y0; rows > 0; first += MaxRowsPerFold, rows -= MaxRowsPerFold)
            SumSegmentRow(bitmap, first, std::min(rows, MaxRowsPerFold), segWidth);
        for (int i = 0; i < FxSegments; ++i) {
            auto& segment = Grid[Index(i, j)];
            const auto& sums = RowSums[static_cast<std::size_t>(i)];
            segment.PrevSum = segment.CurSum;
            for (int channel = 0; channel < 3; ++channel)
                segment.CurSum[channel] = sums[std::size_t(ChannelOffset[channel])];
            pictureTotal += sums[0] + sums[1] + sums[2];
        }
    }
    return pictureTotal;
}

// Adds the given rows to RowSums: first every byte column over the rows, then
// each segment's run of columns. A row or column shared by two segments is
// thereby counted in both, as the definition requires.
void TkaPictureAnalyser::SumSegmentRow(const TkaBitmapView& bitmap, int y0, int rows,
                                       int segWidth) {
    const qsizetype rowBytes = static_cast<qsizetype>(bitmap.Width) * BytesPerPixel;
    SumColumns(bitmap.Row(y0), bitmap.RowStride, rows, ColumnSums.data(), rowBytes);
    for (int i = 0; i < FxSegments; ++i) {
        const int x0 = ColumnOrigins[static_cast<std::size_t>(i)];
        ReduceColumns(ColumnSums.data() + static_cast<qsizetype>(x0) * BytesPerPixel,
                      ClippedLength(x0, segWidth, bitmap.Width),
                      RowSums[static_cast<std::size_t>(i)]);
    }
}

// The changes are divided in one packed pass, apart from the sums and the
// maximum, which the compiler cannot vectorise through the segments' layout.
void TkaPictureAnalyser::CompareSums(int segWidth, int segHeight, std::int64_t& total,
                                     double& maxDelta) {
    // The full, unclipped segment area: a whole segment going from 0 to 255
    // in one channel gives 255/256.
    const double area = static_cast<double>(segWidth) * segHeight * 256;
    std::int64_t sum = 0;
    double* change = Changes.data();
    for (const auto& segment : Grid) {
        for (int channel = 0; channel < 3; ++channel) {
            const std::int64_t difference = segment.CurSum[channel] - segment.PrevSum[channel];
            sum += difference < 0 ? -difference : difference;
            *change++ = static_cast<double>(difference);
        }
    }
    DivideAll(Changes.data(), Changes.size(), area);
    double largest = 0.0;
    const double* delta = Changes.data();
    for (auto& segment : Grid) {
        for (int channel = 0; channel < 3; ++channel, ++delta) {
            segment.Delta[channel] = *delta;
            largest = std::max(largest, std::abs(*delta));
        }
    }
    total = sum;
    maxDelta = largest;
}
