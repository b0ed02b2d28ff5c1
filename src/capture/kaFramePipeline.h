#pragma once

#include "TJPEGImage.h"
#include "Videocap.h"

#include <QHostAddress>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

class TIdUDPClient;
class TkaPictureAnalyser;

// Where broadcast pictures go: the limited broadcast address in the product.
// Tests point it at 127.0.0.1 before anything is sent.
QHostAddress BroadcastAddress();
void SetBroadcastAddress(const QHostAddress& address);

// ANDs Mask, placed at (0, 0), onto a BGR888 Picture: each pixel's colour
// bits with the mask pixel's colour bits, so white keeps a pixel and black
// clears it. Parts of the picture beyond the mask stay as they are.
void ApplyMask(QImage& picture, const QImage& mask);

// The mask laid out as the picture's bytes (blue, green, red per pixel),
// built only when the mask or the picture's size changes, so that each frame
// is one AND of whole words over the bytes the mask can change: per row from
// its first to its last pixel that is not white. A mask that keeps every
// pixel (the white default) costs nothing per frame.
class TkaMaskLayout {
public:
    // ANDs Mask onto Picture as ApplyMask does.
    void Apply(QImage& picture, const QImage& mask);
    // Whether the last Apply found nothing to hide.
    bool KeepsEverything() const { return FRuns.empty(); }
    // Whether Mask keeps every pixel of a BGR888 picture like Picture; laid
    // out as Apply would, so a following Apply costs nothing extra.
    bool KeepsEverything(const QImage& picture, const QImage& mask);

private:
    // Bytes of one picture row that the mask changes.
    struct TRun {
        qsizetype PictureOffset;
        qsizetype LayoutOffset;
        qsizetype Length;
    };

    bool Fits(const QImage& picture, const QImage& mask) const;
    void Build(const QImage& picture, const QImage& mask);

    qint64 FMaskKey = 0;
    QSize FPictureSize;
    qsizetype FStride = 0;
    std::vector<TRun> FRuns;
    std::vector<uchar> FBytes;
};

// What the camera page's controls say about the frame being processed.
struct TFrameSettings {
    // JPEG quality of a motion picture, 1 to 100.
    int Quality = 50;
    // Whether motion pictures are broadcast, and under which source name.
    bool Broadcast = false;
    QString Source;
};

// The steps one frame of a camera takes, without any widget: two conversions,
// the mask, the analysis with the motion rule, and for a motion frame the
// JPEG compression, the hand-over for storing (the disk-space guard and the
// scene maker sit behind it) and the broadcast; last the segment grid drawn
// on the analysis picture. The camera page shows what the events report.
class TkaFramePipeline {
public:
    static constexpr int MaskWidth = 1024;
    static constexpr int MaskHeight = 768;

    // Analyser decides on motion; it must outlive the pipeline.
    explicit TkaFramePipeline(TkaPictureAnalyser& analyser);

    // The socket motion pictures are broadcast with; none sends nothing.
    void SetSender(TIdUDPClient* sender) { FSender = sender; }

    // Runs the whole pipeline on one frame in the format Info. A frame without
    // bytes, shorter than its format or in a format that cannot be decoded is
    // dropped: nothing changes and the answer is false. Errors of the analyser
    // propagate; the rest of the frame is then skipped.
    bool ProcessFrame(const VIDEOHDR& header, const BITMAPINFO& info,
                      const TFrameSettings& settings);

    // The motion rule, for the analyser's OnThresholdMaxSegment: strictly more
    // changed segments than MotionSegments make motion. Answers whether the
    // rule declared a motion that was not declared yet (one more for CountMove).
    static bool MotionRule(const TkaPictureAnalyser& analyser, int motionSegments, bool& isMotion);

    // The latest frame as captured, in the screen's format (RGB32), which the
    // JPEG compression reads as well. Made when first asked for after a frame.
    const QImage& DisplayBitmap() const;
    // The analysed picture (masked) with a red outline round every segment
    // whose value reaches the threshold, darkened ones included, on the even
    // split of the picture into the analyser's grid. Made when first asked for.
    const QImage& AnalysisBitmap() const;
    // The same in the screen's format, for painting it without a conversion.
    const QImage& AnalysisScreenBitmap() const;
    // Until the next frame the analysis picture is empty (after a format change).
    void ClearAnalysisBitmap();
    const QImage& MaskBitmap() const { return FMaskBitmap; }
    // Painting through this reference takes effect from the next frame on
    // (every change gives the picture a new cache key).
    QImage& MaskBitmap() { return FMaskBitmap; }
    void SetMaskBitmap(const QImage& mask) { FMaskBitmap = mask; }
    const TJPEGImage& Jpeg() const { return FJpeg; }
    bool Motion() const { return FMotion; }

    // Both pictures are decoded and the frame will be analysed.
    std::function<void(TkaFramePipeline* sender)> OnPictures;
    // The verdict of the frame, before anything is compressed.
    std::function<void(TkaFramePipeline* sender, bool motion)> OnMotion;
    // A motion picture is compressed and is to be stored.
    std::function<void(TkaFramePipeline* sender, const TJPEGImage& jpeg)> OnStore;
    // The motion picture is compressed and stored (or not); it goes out next.
    std::function<void(TkaFramePipeline* sender)> OnCompressed;
    // Sending failed: broadcasting is to be switched off.
    std::function<void(TkaFramePipeline* sender)> OnBroadcastFailed;

private:
    bool DecodeFrame(const VIDEOHDR& header, const BITMAPINFO& info);
    const QImage& MaskedFrame();
    void CompressMotionPicture(int quality);
    void Broadcast(const QString& source);
    void DrawSegmentRectangles(QImage& picture) const;

    TkaPictureAnalyser& Analyser;
    TIdUDPClient* FSender = nullptr;
    // The frame as grabbed (BGR888); the other pictures are made from it.
    QImage FFrame;
    // While the mask hides something: the masked frame that is analysed,
    // which then becomes the analysis picture.
    QImage FMaskedFrame;
    mutable QImage FDisplayBitmap;
    mutable QImage FAnalysisBitmap;
    mutable QImage FAnalysisScreenBitmap;
    mutable bool FDisplayMade = true;
    mutable bool FAnalysisMade = true;
    mutable bool FAnalysisScreenMade = true;
    // The frame's analysis ran through, so its segments can be outlined.
    bool FSegmentsDue = false;
    QImage FMaskBitmap;
    TJPEGImage FJpeg;
    TkaMaskLayout FMaskLayout;
    bool FMotion = false;
};
