#include "kaPictureAnalyser.h"

#include "EkaError.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <limits>

namespace {

constexpr int BytesPerPixel = 3;
// Byte offset of each channel (indexed red, green, blue) within a pixel.
constexpr std::array<int, 3> ChannelOffset{2, 1, 0};

// Column sums are 16 bits wide, which lets the compiler add twice as many
// bytes per instruction; they are flushed into the segments before a lane
// can overflow.
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

// Adds rows first .. first + count - 1 to the per-byte column sums. Up to
// four rows are added in registers before a sum is loaded and stored again, so
// the loop is bound by reading the frame rather than by the sums' traffic.
// Kept free of aliasing so the compiler can vectorise it: this is where
// Analyse spends its time. Built for AVX2 as well, picked at load time.
[[gnu::target_clones("avx2", "default")]] void
AddRows4(const uchar* __restrict r0, const uchar* __restrict r1, const uchar* __restrict r2,
         const uchar* __restrict r3, std::uint16_t* __restrict sums, qsizetype count) {
    for (qsizetype k = 0; k < count; ++k)
        sums[k] = static_cast<std::uint16_t>(sums[k] + ((r0[k] + r1[k]) + (r2[k] + r3[k])));
}

void AddRow(const uchar* __restrict row, std::uint16_t* __restrict sums, qsizetype count) {
    for (qsizetype k = 0; k < count; ++k)
        sums[k] = static_cast<std::uint16_t>(sums[k] + row[k]);
}

#if defined(__x86_64__)
// The same for an even number of rows with AVX2: two rows interleaved byte by
// byte and multiplied by ones with vpmaddubsw widen and add 16 columns in two
// instructions. The interleave works within 128-bit lanes, so the lanes are
// put back in column order once per 32 columns, after all rows are added.
template <int Rows>
[[gnu::target("avx2")]] void AddRowsAvx2(const uchar* const (&rows)[Rows],
                                         std::uint16_t* __restrict sums, qsizetype count) {
    static_assert(Rows % 2 == 0 && Rows * 255 <= 32767, "pairs whose sums fit vpmaddubsw");
    const __m256i ones = _mm256_set1_epi8(1);
    qsizetype k = 0;
    for (; k + 32 <= count; k += 32) {
        __m256i low = _mm256_setzero_si256(); // columns 0-7 and 16-23
        __m256i high = low;                   // columns 8-15 and 24-31
        for (int r = 0; r < Rows; r += 2) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[r] + k));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[r + 1] + k));
            low = _mm256_add_epi16(low, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), ones));
            high = _mm256_add_epi16(high, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), ones));
        }
        auto* out = reinterpret_cast<__m256i*>(sums + k);
        _mm256_storeu_si256(out, _mm256_add_epi16(_mm256_loadu_si256(out),
                                                  _mm256_permute2x128_si256(low, high, 0x20)));
        _mm256_storeu_si256(out + 1, _mm256_add_epi16(_mm256_loadu_si256(out + 1),
                                                      _mm256_permute2x128_si256(low, high, 0x31)));
    }
    for (; k < count; ++k) {
        int sum = 0;
        for (const uchar* row : rows)
            sum += row[k];
        sums[k] = static_cast<std::uint16_t>(sums[k] + sum);
    }
}

bool HasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
bool HasAvx2() {
    return false;
}
#endif

// Adds Rows (four or two) rows to the column sums.
template <int Rows>
void AddRows(const uchar* const (&rows)[Rows], std::uint16_t* sums, qsizetype count) {
#if defined(__x86_64__)
    if (HasAvx2()) {
        AddRowsAvx2(rows, sums, count);
        return;
    }
#endif
    if constexpr (Rows == 4) {
        AddRows4(rows[0], rows[1], rows[2], rows[3], sums, count);
    } else {
        for (const uchar* row : rows)
            AddRow(row, sums, count);
    }
}

// Channel sums (in byte order blue, green, red) of `columns` pixels of column
// sums, one pixel at a time.
void ReduceColumnsScalar(const std::uint16_t* pixel, int columns,
                         std::array<std::int64_t, 3>& sums) {
    std::uint32_t b = 0, g = 0, r = 0;
    for (int c = 0; c < columns; ++c, pixel += BytesPerPixel) {
        b += pixel[0];
        g += pixel[1];
        r += pixel[2];
    }
    sums[0] += b;
    sums[1] += g;
    sums[2] += r;
}

#if defined(__SSE2__)
// Eight pixels are 24 column sums, three vectors of eight. Widened to 32 bits
// they are six vectors of four whose channels repeat in only three patterns
// (0 1 2 0, 1 2 0 1, 2 0 1 2), so three accumulators keep every lane on one
// channel and the channels are told apart once, at the end.
constexpr int PixelsPerGroup = 8;
// A lane takes two column sums of at most 65535 per group: this many groups
// cannot wrap its 32 bits.
constexpr int MaxGroupsPerFold = 32768;

void ReduceColumns(const std::uint16_t* pixel, int columns, std::array<std::int64_t, 3>& sums) {
    const __m128i zero = _mm_setzero_si128();
    while (columns >= PixelsPerGroup) {
        const int groups = std::min(columns / PixelsPerGroup, MaxGroupsPerFold);
        __m128i p0 = zero, p1 = zero, p2 = zero;
        for (int g = 0; g < groups; ++g, pixel += PixelsPerGroup * BytesPerPixel) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 8));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 16));
            p0 = _mm_add_epi32(
                p0, _mm_add_epi32(_mm_unpacklo_epi16(a, zero), _mm_unpackhi_epi16(b, zero)));
            p1 = _mm_add_epi32(
                p1, _mm_add_epi32(_mm_unpackhi_epi16(a, zero), _mm_unpacklo_epi16(c, zero)));
            p2 = _mm_add_epi32(
                p2, _mm_add_epi32(_mm_unpacklo_epi16(b, zero), _mm_unpackhi_epi16(c, zero)));
        }
        alignas(16) std::uint32_t lanes[3][4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), p0);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), p1);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[2]), p2);
        // Lane k of pattern p holds channel (p + k) mod 3.
        for (int p = 0; p < 3; ++p)
            for (int k = 0; k < 4; ++k)
                sums[std::size_t((p + k) % 3)] += lanes[p][k];
        columns -= groups * PixelsPerGroup;
    }
    ReduceColumnsScalar(pixel, columns, sums);
}
#else
void ReduceColumns(const std::uint16_t* pixel, int columns, std::array<std::int64_t, 3>& sums) {
    ReduceColumnsScalar(pixel, columns, sums);
}
#endif

#if defined(__x86_64__)
// The comparison of every segment with the previous picture, four lanes at a
// time, three of them used: by the divisions alone the scalar loop costs a
// quarter of the analysis. With a light model the previous sums are mapped on
// the way, a block of segments at a time, as TLightChange::Apply does and in
// the same order of operations, so the numbers are the same without a pass
// of its own over the grid.
//
// A segment's sums are read as four lanes, the fourth being the next member
// of the segment, which is masked off; a mapped PrevSum is written as four
// lanes too, just before the Delta it spills into is written.
static_assert(offsetof(TkaSegment, PrevSum) ==
              offsetof(TkaSegment, CurSum) + sizeof(TkaSegment::CurSum));
static_assert(offsetof(TkaSegment, Delta) ==
              offsetof(TkaSegment, PrevSum) + sizeof(TkaSegment::PrevSum));
static_assert(sizeof(TkaSegment::Delta[0]) == sizeof(std::int64_t));

// Sums lie between 0 and 2^51 and their changes within +-2^51, so they
// convert to and from doubles through the bits of 2^52 and of 2^52 + 2^51.
constexpr double TwoPow52 = 4503599627370496.0;
constexpr double TwoPow52And51 = 6755399441055744.0;

[[gnu::target("avx2")]] __m256i SumLanes(const std::array<std::int64_t, 3>& sums) {
    return _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums.data())),
                            _mm256_setr_epi64x(-1, -1, -1, 0));
}

// Segments are mapped a block at a time and then compared: done in one loop,
// the chain from a previous sum to its delta is too long for the processor to
// overlap the segments.
constexpr std::size_t MapBlock = 32;

// The previous sums of count segments under the light model, into mapped.
[[gnu::target("avx2")]] void MapPrevAvx2(const TkaSegment* grid, const double* pixels,
                                         std::size_t count, const TLightChange::TModel& m,
                                         __m256i* mapped) {
    const __m256i bits = _mm256_castpd_si256(_mm256_set1_pd(TwoPow52));
    const __m256d magic = _mm256_set1_pd(TwoPow52);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d fullScale = _mm256_set1_pd(255.0);
    const __m256d red = _mm256_setr_pd(m[0][0], m[1][0], m[2][0], 0);
    const __m256d green = _mm256_setr_pd(m[0][1], m[1][1], m[2][1], 0);
    const __m256d blue = _mm256_setr_pd(m[0][2], m[1][2], m[2][2], 0);
    const __m256d offset = _mm256_setr_pd(m[0][3], m[1][3], m[2][3], 0);
    for (std::size_t i = 0; i < count; ++i) {
        const __m256i prev = SumLanes(grid[i].PrevSum);
        // A segment that was black stays black.
        if (_mm256_testz_si256(prev, prev)) {
            mapped[i] = prev;
            continue;
        }
        const __m256d p = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(prev, bits)), magic);
        const __m256d n = _mm256_broadcast_sd(pixels + i);
        __m256d v = _mm256_mul_pd(red, _mm256_permute4x64_pd(p, 0x00));
        v = _mm256_add_pd(v, _mm256_mul_pd(green, _mm256_permute4x64_pd(p, 0x55)));
        v = _mm256_add_pd(v, _mm256_mul_pd(blue, _mm256_permute4x64_pd(p, 0xAA)));
        v = _mm256_add_pd(v, _mm256_mul_pd(offset, n));
        v = _mm256_min_pd(_mm256_max_pd(v, zero), _mm256_mul_pd(n, fullScale));
        // The fourth lane maps 0 to 0.
        mapped[i] = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(v, magic)), bits);
    }
}

template <bool Mapped>
[[gnu::target("avx2")]] void CompareSumsAvx2(TkaSegment* grid, std::size_t count, double area,
                                             const TLightChange* light, std::int64_t& total,
                                             double& maxDelta) {
    const __m256i signedBits = _mm256_castpd_si256(_mm256_set1_pd(TwoPow52And51));
    const __m256d signedMagic = _mm256_set1_pd(TwoPow52And51);
    const __m256d areas = _mm256_set1_pd(area);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    __m256i changes = _mm256_setzero_si256();
    __m256d largest = _mm256_setzero_pd();
    __m256i mapped[MapBlock];
    for (std::size_t first = 0; first < count; first += MapBlock) {
        const std::size_t block = std::min(MapBlock, count - first);
        if constexpr (Mapped)
            MapPrevAvx2(grid + first, light->Pixels().data() + first, block, light->Model(),
                        mapped);
        for (std::size_t i = 0; i < block; ++i) {
            TkaSegment& segment = grid[first + i];
            // The current sums are read first: their fourth lane is the first
            // previous sum, and a load over part of a store waits for it.
            const __m256i cur = SumLanes(segment.CurSum);
            __m256i prev;
            if constexpr (Mapped) {
                prev = mapped[i];
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(segment.PrevSum.data()), prev);
            } else {
                prev = SumLanes(segment.PrevSum);
            }
            const __m256i change = _mm256_sub_epi64(cur, prev);
            const __m256i sign = _mm256_cmpgt_epi64(_mm256_setzero_si256(), change);
            changes =
                _mm256_add_epi64(changes, _mm256_sub_epi64(_mm256_xor_si256(change, sign), sign));
            const __m256d delta = _mm256_div_pd(
                _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(change, signedBits)),
                              signedMagic),
                areas);
            _mm_storeu_pd(segment.Delta.data(), _mm256_castpd256_pd128(delta));
            _mm_store_sd(segment.Delta.data() + 2, _mm256_extractf128_pd(delta, 1));
            largest = _mm256_max_pd(largest, _mm256_and_pd(delta, magnitude));
        }
    }
    alignas(32) std::int64_t changeLanes[4];
    alignas(32) double largestLanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(changeLanes), changes);
    _mm256_store_pd(largestLanes, largest);
    for (int k = 0; k < 3; ++k) {
        total += changeLanes[k];
        maxDelta = std::max(maxDelta, largestLanes[k]);
    }
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
    // Shifted before the size tests: a picture that fails them has still
    // consumed the previous sums.
    ShiftSums();
    const int width = bitmap.Width;
    const int height = bitmap.Height;
    if (height < 2)
        throw EkaError("BitMap.height<2");
    // A picture without columns has no segments to normalise by.
    if (width < 1)
        throw EkaError("BitMap.width<1");
    const int segWidth = CeilDiv(width, FxSegments);
    const int segHeight = CeilDiv(height, FySegments);

    SumSegments(bitmap, segWidth, segHeight);
    std::int64_t pictureTotal = 0;
    for (const auto& segment : Grid)
        for (auto sum : segment.CurSum)
            pictureTotal += sum;
    FBrightness = static_cast<double>(pictureTotal) / height / width;

    const bool mapped = FIgnoreLightChanges && FitLightChange(width, height, segWidth, segHeight);
    std::int64_t total = 0;
    double maxDelta = 0.0;
    CompareSums(segWidth, segHeight, mapped, total, maxDelta);
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

bool TkaPictureAnalyser::FitLightChange(int width, int height, int segWidth, int segHeight) {
    ColumnWidths.resize(static_cast<std::size_t>(FxSegments));
    for (int i = 0; i < FxSegments; ++i)
        ColumnWidths[std::size_t(i)] =
            ClippedLength(ColumnOrigins[std::size_t(i)], segWidth, width);
    RowHeights.resize(static_cast<std::size_t>(FySegments));
    for (int j = 0; j < FySegments; ++j)
        RowHeights[std::size_t(j)] =
            ClippedLength(SegmentOrigin(height, FySegments, j), segHeight, height);
    return FLightChange.Fit(Grid, ColumnWidths, RowHeights);
}

void TkaPictureAnalyser::SumSegments(const TkaBitmapView& bitmap, int segWidth, int segHeight) {
    ColumnOrigins.resize(static_cast<std::size_t>(FxSegments));
    for (int i = 0; i < FxSegments; ++i)
        ColumnOrigins[static_cast<std::size_t>(i)] = SegmentOrigin(bitmap.Width, FxSegments, i);
    ColumnSums.resize(static_cast<std::size_t>(bitmap.Width) * BytesPerPixel);
    for (int j = 0; j < FySegments; ++j) {
        const int y0 = SegmentOrigin(bitmap.Height, FySegments, j);
        int rows = ClippedLength(y0, segHeight, bitmap.Height);
        for (int first = y0; rows > 0; first += MaxRowsPerFold, rows -= MaxRowsPerFold)
            SumSegmentRow(bitmap, j, first, std::min(rows, MaxRowsPerFold), segWidth);
    }
}

// Sums the given rows of segment row j: first every byte column over the rows,
// then each segment's run of columns. A row or column shared by two segments
// is thereby counted in both, as the definition requires.
void TkaPictureAnalyser::SumSegmentRow(const TkaBitmapView& bitmap, int j, int y0, int rows,
                                       int segWidth) {
    std::fill(ColumnSums.begin(), ColumnSums.end(), std::uint16_t{0});
    const qsizetype rowBytes = static_cast<qsizetype>(bitmap.Width) * BytesPerPixel;
    int y = y0;
    for (; y + 4 <= y0 + rows; y += 4) {
        const uchar* const four[] = {bitmap.Row(y), bitmap.Row(y + 1), bitmap.Row(y + 2),
                                     bitmap.Row(y + 3)};
        AddRows(four, ColumnSums.data(), rowBytes);
    }
    if (y + 2 <= y0 + rows) {
        const uchar* const two[] = {bitmap.Row(y), bitmap.Row(y + 1)};
        AddRows(two, ColumnSums.data(), rowBytes);
        y += 2;
    }
    for (; y < y0 + rows; ++y)
        AddRow(bitmap.Row(y), ColumnSums.data(), rowBytes);

    for (int i = 0; i < FxSegments; ++i) {
        const int x0 = ColumnOrigins[static_cast<std::size_t>(i)];
        const int columns = ClippedLength(x0, segWidth, bitmap.Width);
        std::array<std::int64_t, 3> sums{};
        ReduceColumns(ColumnSums.data() + static_cast<qsizetype>(x0) * BytesPerPixel, columns,
                      sums);
        auto& segment = Grid[Index(i, j)];
        for (int channel = 0; channel < 3; ++channel)
            segment.CurSum[channel] += sums[std::size_t(ChannelOffset[channel])];
    }
}

void TkaPictureAnalyser::CompareSums(int segWidth, int segHeight, bool mapped, std::int64_t& total,
                                     double& maxDelta) {
    // The full, unclipped segment area: a whole segment going from 0 to 255
    // in one channel gives 255/256.
    const double area = static_cast<double>(segWidth) * segHeight * 256;
#if defined(__x86_64__)
    if (HasAvx2()) {
        if (mapped)
            CompareSumsAvx2<true>(Grid.data(), Grid.size(), area, &FLightChange, total, maxDelta);
        else
            CompareSumsAvx2<false>(Grid.data(), Grid.size(), area, nullptr, total, maxDelta);
        return;
    }
#endif
    if (mapped)
        FLightChange.Apply(Grid);
    for (auto& segment : Grid) {
        for (int channel = 0; channel < 3; ++channel) {
            const std::int64_t change = segment.CurSum[channel] - segment.PrevSum[channel];
            total += change < 0 ? -change : change;
            segment.Delta[channel] = static_cast<double>(change) / area;
            maxDelta = std::max(maxDelta, std::abs(segment.Delta[channel]));
        }
    }
}
