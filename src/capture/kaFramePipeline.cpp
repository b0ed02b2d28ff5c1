#include "kaFramePipeline.h"

#include "BroadcastFit.h"
#include "IdUDPClient.h"
#include "StmJPG.h"
#include "kaMaskBitmap.h"
#include "kaPictureAnalyser.h"

#include <QBuffer>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

QHostAddress& BroadcastDestination() {
    static QHostAddress address(QHostAddress::Broadcast);
    return address;
}

// Rounds halves to even, as the segment grid does.
int RoundEven(double value) {
    return int(std::nearbyint(value));
}

// Colour of every mask pixel value as blue, green, red bytes.
using TMaskColours = std::array<std::array<uchar, 3>, 256>;

TMaskColours MaskColours(const QImage& mask) {
    TMaskColours colours{};
    const QList<QRgb> table = mask.colorTable();
    for (int i = 0; i < int(table.size()) && i < 256; ++i)
        colours[std::size_t(i)] = {uchar(qBlue(table[i])), uchar(qGreen(table[i])),
                                   uchar(qRed(table[i]))};
    return colours;
}

// The outline of the rectangle from (X1, Y1) to (X2, Y2), right and bottom
// edges excluded, one pixel wide, clipped to a BGR888 picture.
class TOutlinePen {
public:
    TOutlinePen(QImage& picture, const std::array<uchar, 3>& bgr)
        : Bits(picture.bits()), Stride(picture.bytesPerLine()), Width(picture.width()),
          Height(picture.height()), Colour(bgr) {}

    void Rectangle(int x1, int y1, int x2, int y2) const {
        for (int x = x1; x < x2; ++x) {
            Plot(x, y1);
            Plot(x, y2 - 1);
        }
        for (int y = y1; y < y2; ++y) {
            Plot(x1, y);
            Plot(x2 - 1, y);
        }
    }

private:
    void Plot(int x, int y) const {
        if (x < 0 || y < 0 || x >= Width || y >= Height)
            return;
        std::memcpy(Bits + Stride * y + qsizetype(x) * 3, Colour.data(), 3);
    }

    uchar* Bits;
    qsizetype Stride;
    int Width;
    int Height;
    std::array<uchar, 3> Colour;
};

// One row of blue-green-red bytes as the screen's 32-bit pixels 0xffRRGGBB.
void BgrRowToRgb32Scalar(const uchar* bgr, quint32* rgb, int x, int width) {
    for (bgr += 3 * x; x < width; ++x, bgr += 3)
        rgb[x] = 0xff000000u | quint32(bgr[2]) << 16 | quint32(bgr[1]) << 8 | quint32(bgr[0]);
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels a shuffle: 12 bytes spread to 16, the padding bytes set to 0xff
// (on little-endian x86 RGB32 lies in memory as blue, green, red, 0xff).
[[gnu::target("ssse3")]] void BgrRowToRgb32Ssse3(const uchar* bgr, quint32* rgb, int width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    int x = 0;
    // A load reads 16 bytes for the 12 it uses: it stays inside the row.
    for (; x + 6 <= width; x += 4) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + x),
                         _mm_or_si128(_mm_shuffle_epi8(bytes, spread), opaque));
    }
    BgrRowToRgb32Scalar(bgr, rgb, x, width);
}

void BgrRowToRgb32(const uchar* bgr, quint32* rgb, int width) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        BgrRowToRgb32Ssse3(bgr, rgb, width);
    else
        BgrRowToRgb32Scalar(bgr, rgb, 0, width);
}
#else
void BgrRowToRgb32(const uchar* bgr, quint32* rgb, int width) {
    BgrRowToRgb32Scalar(bgr, rgb, 0, width);
}
#endif

// Converts a BGR888 picture into Target (RGB32) in one pass, reusing
// Target's buffer when it has the size. False when no buffer can be had.
bool ToRgb32(const QImage& source, QImage& target) {
    if (target.format() != QImage::Format_RGB32 || target.size() != source.size())
        target = QImage(source.size(), QImage::Format_RGB32);
    if (target.isNull())
        return false;
    for (int y = 0; y < source.height(); ++y)
        BgrRowToRgb32(source.constScanLine(y), reinterpret_cast<quint32*>(target.scanLine(y)),
                      source.width());
    return true;
}

// Copies Source into Target, reusing Target's buffer when it has the layout.
void CopyPicture(const QImage& source, QImage& target) {
    if (target.size() != source.size() || target.format() != source.format() ||
        target.bytesPerLine() != source.bytesPerLine() || !target.isDetached()) {
        target = source.copy();
        return;
    }
    std::memcpy(target.bits(), source.constBits(), std::size_t(source.sizeInBytes()));
}

void MakeBgr888(QImage& picture) {
    if (!picture.isNull() && picture.format() != QImage::Format_BGR888)
        picture = picture.convertToFormat(QImage::Format_BGR888);
}

} // namespace

QHostAddress BroadcastAddress() {
    return BroadcastDestination();
}

void SetBroadcastAddress(const QHostAddress& address) {
    BroadcastDestination() = address;
}

void ApplyMask(QImage& picture, const QImage& mask) {
    TkaMaskLayout layout;
    layout.Apply(picture, mask);
}

namespace {

void AndBytes(uchar* bits, const uchar* keep, qsizetype count) {
    qsizetype i = 0;
    for (; i + qsizetype(sizeof(std::uint64_t)) <= count; i += qsizetype(sizeof(std::uint64_t))) {
        std::uint64_t word;
        std::uint64_t kept;
        std::memcpy(&word, bits + i, sizeof word);
        std::memcpy(&kept, keep + i, sizeof kept);
        word &= kept;
        std::memcpy(bits + i, &word, sizeof word);
    }
    for (; i < count; ++i)
        bits[i] &= keep[i];
}

} // namespace

void TkaMaskLayout::Apply(QImage& picture, const QImage& mask) {
    if (picture.isNull() || mask.isNull())
        return;
    MakeBgr888(picture);
    if (!Fits(picture, mask))
        Build(picture, mask);
    if (FRuns.empty())
        return;
    uchar* bits = picture.bits();
    const uchar* keep = FBytes.data();
    for (const TRun& run : FRuns)
        AndBytes(bits + run.PictureOffset, keep + run.LayoutOffset, run.Length);
}

bool TkaMaskLayout::KeepsEverything(const QImage& picture, const QImage& mask) {
    if (picture.isNull() || mask.isNull())
        return true;
    if (!Fits(picture, mask))
        Build(picture, mask);
    return FRuns.empty();
}

bool TkaMaskLayout::Fits(const QImage& picture, const QImage& mask) const {
    // Every change of the mask's pixels gives it a new cache key.
    return mask.cacheKey() == FMaskKey && picture.size() == FPictureSize &&
           picture.bytesPerLine() == FStride;
}

void TkaMaskLayout::Build(const QImage& picture, const QImage& mask) {
    FMaskKey = mask.cacheKey();
    FPictureSize = picture.size();
    FStride = picture.bytesPerLine();
    FRuns.clear();
    FBytes.clear();
    const int rows = std::min(picture.height(), mask.height());
    const int columns = std::min(picture.width(), mask.width());
    const bool indexed = mask.format() == QImage::Format_Indexed8;
    const TMaskColours colours = indexed ? MaskColours(mask) : TMaskColours{};
    const QImage bgr = indexed ? QImage() : mask.convertToFormat(QImage::Format_BGR888);
    std::vector<uchar> row(std::size_t(std::max(columns, 0)) * 3);
    for (int y = 0; y < rows; ++y) {
        if (indexed) {
            const uchar* index = mask.constScanLine(y);
            for (int x = 0; x < columns; ++x)
                std::memcpy(row.data() + std::size_t(x) * 3, colours[index[x]].data(), 3);
        } else {
            std::memcpy(row.data(), bgr.constScanLine(y), row.size());
        }
        const auto notWhite = [](uchar b) { return b != 0xff; };
        const auto first = std::find_if(row.begin(), row.end(), notWhite);
        if (first == row.end())
            continue;
        const auto last = std::find_if(row.rbegin(), row.rend(), notWhite).base();
        const qsizetype begin = first - row.begin();
        FRuns.push_back({FStride * y + begin, qsizetype(FBytes.size()), last - first});
        FBytes.insert(FBytes.end(), first, last);
    }
}

TkaFramePipeline::TkaFramePipeline(TkaPictureAnalyser& analyser)
    : Analyser(analyser), FMaskBitmap(MaskBitmap::White(MaskWidth, MaskHeight)) {}

bool TkaFramePipeline::ProcessFrame(const VIDEOHDR& header, const BITMAPINFO& info,
                                    const TFrameSettings& settings) {
    if (header.dwBytesUsed == 0 || !DecodeFrame(header, info))
        return false;
    if (OnPictures)
        OnPictures(this);

    FMotion = Analyser.Analyse(MaskedFrame());
    if (OnMotion)
        OnMotion(this, FMotion);
    if (FMotion) {
        CompressMotionPicture(settings.Quality);
        if (OnStore)
            OnStore(this, FJpeg);
        if (OnCompressed)
            OnCompressed(this);
        if (settings.Broadcast)
            Broadcast(settings.Source);
    }
    FSegmentsDue = true;
    // Made meanwhile (a message box of the store painted the page): made again with the outlines.
    if (FAnalysisMade && !FAnalysisBitmap.isNull())
        FAnalysisMade = FAnalysisScreenMade = false;
    return true;
}

bool TkaFramePipeline::DecodeFrame(const VIDEOHDR& header, const BITMAPINFO& info) {
    // A frame shorter than its format or in a format that cannot be decoded is
    // dropped like an empty one: analysing the previous picture again would
    // report a still scene that nobody saw. Only the grabbed bytes are kept;
    // the pictures for the screen and the analysis picture cost nothing until
    // a page paints them or a motion picture is compressed.
    if (!FrameToBitmap(FFrame, header.lpData, info, header.dwBytesUsed))
        return false;
    FSegmentsDue = false;
    FDisplayMade = false;
    FAnalysisMade = false;
    FAnalysisScreenMade = false;
    return true;
}

const QImage& TkaFramePipeline::MaskedFrame() {
    // A white mask (the default) keeps every pixel: the frame is analysed as grabbed.
    if (FMaskLayout.KeepsEverything(FFrame, FMaskBitmap)) {
        FMaskedFrame = QImage();
        return FFrame;
    }
    CopyPicture(FFrame, FMaskedFrame);
    FMaskLayout.Apply(FMaskedFrame, FMaskBitmap);
    return FMaskedFrame;
}

const QImage& TkaFramePipeline::DisplayBitmap() const {
    if (!FDisplayMade) {
        if (!ToRgb32(FFrame, FDisplayBitmap))
            FDisplayBitmap = QImage();
        FDisplayMade = true;
    }
    return FDisplayBitmap;
}

const QImage& TkaFramePipeline::AnalysisBitmap() const {
    if (!FAnalysisMade) {
        CopyPicture(FMaskedFrame.isNull() ? FFrame : FMaskedFrame, FAnalysisBitmap);
        if (FSegmentsDue)
            DrawSegmentRectangles(FAnalysisBitmap);
        FAnalysisMade = true;
    }
    return FAnalysisBitmap;
}

const QImage& TkaFramePipeline::AnalysisScreenBitmap() const {
    if (!FAnalysisScreenMade) {
        const QImage& analysis = AnalysisBitmap();
        if (analysis.isNull() || !ToRgb32(analysis, FAnalysisScreenBitmap))
            FAnalysisScreenBitmap = QImage();
        FAnalysisScreenMade = true;
    }
    return FAnalysisScreenBitmap;
}

void TkaFramePipeline::ClearAnalysisBitmap() {
    FAnalysisBitmap = QImage();
    FAnalysisScreenBitmap = QImage();
    FAnalysisMade = true;
    FAnalysisScreenMade = true;
}

bool TkaFramePipeline::MotionRule(const TkaPictureAnalyser& analyser, int motionSegments,
                                  bool& isMotion) {
    if (analyser.CountMaxSegments() <= motionSegments)
        return false;
    const bool counted = !isMotion;
    isMotion = true;
    return counted;
}

void TkaFramePipeline::CompressMotionPicture(int quality) {
    // The unmasked picture, without the segment rectangles.
    FJpeg.Assign(DisplayBitmap());
    FJpeg.SetQuality(quality);
    FJpeg.Compress();
    FJpeg.FreeBitmap();
}

void TkaFramePipeline::Broadcast(const QString& source) {
    if (FSender == nullptr)
        return;
    const TStmJPG picture(source, FJpeg);
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    SaveFittingStmJPG(picture, stream, TIdUDPClient::MaxDatagramSize);
    stream.seek(0);
    // Still too large (a source name that alone fills a datagram): this
    // picture is not broadcast. Sending it would fail and switch broadcasting
    // off for good.
    if (stream.size() >= FSender->BufferSize() || stream.size() > TIdUDPClient::MaxDatagramSize)
        return;
    try {
        FSender->Send(stream.data(), BroadcastAddress(), FSender->Port());
    } catch (const EkaError&) {
        if (OnBroadcastFailed)
            OnBroadcastFailed(this);
    }
}

void TkaFramePipeline::DrawSegmentRectangles(QImage& picture) const {
    if (picture.isNull())
        return;
    const int xs = Analyser.xSegments();
    const int ys = Analyser.ySegments();
    const double threshold = Analyser.ThresholdMaxSegment();
    const double width = picture.width();
    const double height = picture.height();
    const TOutlinePen red(picture, {0, 0, 255});
    // An even split of the picture, not the analyser's own segment origins.
    for (int x = 0; x < xs; ++x) {
        for (int y = 0; y < ys; ++y) {
            if (std::abs(Analyser.SegmentValue(x, y)) < threshold)
                continue;
            red.Rectangle(RoundEven(width / xs * x), RoundEven(height / ys * y),
                          RoundEven(width / xs * (x + 1)), RoundEven(height / ys * (y + 1)));
        }
    }
}
