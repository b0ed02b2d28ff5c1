#include "kaFramePipeline.h"

#include "BroadcastFit.h"
#include "IdUDPClient.h"
#include "StmJPG.h"
#include "kaMaskBitmap.h"
#include "kaPictureAnalyser.h"

#include <QBuffer>
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

    FMaskLayout.Apply(FAnalysisBitmap, FMaskBitmap);
    MakeBgr888(FAnalysisBitmap);

    FMotion = Analyser.Analyse(FAnalysisBitmap);
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
    DrawSegmentRectangles();
    return true;
}

bool TkaFramePipeline::DecodeFrame(const VIDEOHDR& header, const BITMAPINFO& info) {
    MakeBgr888(FDisplayBitmap);
    // A frame shorter than its format or in a format that cannot be decoded is
    // dropped like an empty one: analysing the previous picture again would
    // report a still scene that nobody saw.
    return FrameToBitmap(FDisplayBitmap, header.lpData, info, header.dwBytesUsed) &&
           FrameToBitmap(FAnalysisBitmap, header.lpData, info, header.dwBytesUsed);
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
    FJpeg.Assign(FDisplayBitmap);
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

void TkaFramePipeline::DrawSegmentRectangles() {
    if (FAnalysisBitmap.isNull())
        return;
    const int xs = Analyser.xSegments();
    const int ys = Analyser.ySegments();
    const double threshold = Analyser.ThresholdMaxSegment();
    const double width = FAnalysisBitmap.width();
    const double height = FAnalysisBitmap.height();
    const TOutlinePen red(FAnalysisBitmap, {0, 0, 255});
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
