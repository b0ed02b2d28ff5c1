#include "kaFramePipeline.h"

#include "BroadcastFit.h"
#include "IdUDPClient.h"
#include "StmJPG.h"
#include "kaPictureAnalyser.h"

#include <QBuffer>
#include <array>
#include <cmath>
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

QImage WhiteMask(int width, int height) {
    QImage mask(width, height, QImage::Format_Indexed8);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(1);
    return mask;
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
    const int width = std::min(picture.width(), mask.width());
    const int height = std::min(picture.height(), mask.height());
    if (mask.format() == QImage::Format_Indexed8) {
        const TMaskColours colours = MaskColours(mask);
        for (int y = 0; y < height; ++y) {
            uchar* pixel = picture.scanLine(y);
            const uchar* index = mask.constScanLine(y);
            for (int x = 0; x < width; ++x, pixel += 3) {
                const std::array<uchar, 3>& colour = colours[index[x]];
                pixel[0] &= colour[0];
                pixel[1] &= colour[1];
                pixel[2] &= colour[2];
            }
        }
        return;
    }
    const QImage bgr = mask.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar* pixel = picture.scanLine(y);
        const uchar* colour = bgr.constScanLine(y);
        for (int i = 0; i < width * 3; ++i)
            pixel[i] &= colour[i];
    }
}

TkaFramePipeline::TkaFramePipeline(TkaPictureAnalyser& analyser)
    : Analyser(analyser), FMaskBitmap(WhiteMask(MaskWidth, MaskHeight)) {}

bool TkaFramePipeline::ProcessFrame(const VIDEOHDR& header, const BITMAPINFO& info,
                                    const TFrameSettings& settings) {
    if (header.dwBytesUsed == 0 || !DecodeFrame(header, info))
        return false;
    if (OnPictures)
        OnPictures(this);

    ApplyMask(FAnalysisBitmap, FMaskBitmap);
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
