#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

class QIODevice;
class QPainter;

// Raised for JPEG data that cannot be loaded or decoded, and for failed
// reads and writes of JPEG files and streams.
class EJPEG : public EkaError {
public:
    using EkaError::EkaError;
};

// A picture held as a baseline colour JPEG stream, with an optional decoded
// copy. Pictures are assigned from a bitmap and compressed at `Quality`, or
// loaded as JPEG data; saving writes exactly the bytes that were compressed or
// loaded, never a re-encoded picture. Drawing decodes on demand and keeps the
// decoded copy until FreeBitmap.
//
// Both the compressed data and the decoded copy are caches of one picture, so
// reading operations (size, save, draw) are const even when they fill them.
class TJPEGImage {
public:
    static constexpr int MinQuality = 1;
    static constexpr int MaxQuality = 100;
    // The encoder's own default.
    static constexpr int DefaultQuality = 75;
    // Pictures whose decoded copy would exceed this many bytes are not decoded,
    // so that a forged header cannot exhaust memory.
    static constexpr qint64 MaxDecodedBytes = 256 * 1024 * 1024;
    // Pictures of more pixels are refused from their header: the largest whose
    // decoded copy fits MaxDecodedBytes. Even a reduced decoding reads them all.
    static constexpr qint64 MaxPixels = MaxDecodedBytes / 3;
    // The largest picture file read: a camera frame of 4096 x 4096 holds 48 MB
    // of pixels, and no JPEG of it is larger than its pixels.
    static constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

    TJPEGImage() = default;

    // Takes a copy of Bitmap as the picture (any format; held as BGR888, or
    // as RGB32 shared with Bitmap when it is RGB32) and drops previous
    // compressed data. A null bitmap empties the image.
    void Assign(const QImage& bitmap);
    void Clear();

    int Quality() const { return FQuality; }
    // Values outside 1 to 100 are clamped: the quality comes from settings
    // and sliders, and a picture should still be stored.
    void SetQuality(int quality);

    // Compresses the assigned bitmap at Quality now. A loaded picture, or one
    // already compressed at this quality, is left as it is.
    void Compress();
    // Releases the decoded copy so that only compressed data are held; an
    // assigned picture not compressed yet is compressed first, never lost.
    void FreeBitmap();

    bool Empty() const { return Data.isEmpty() && Bitmap.isNull(); }
    bool HasBitmap() const { return !Bitmap.isNull(); }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }

    // The compressed stream and its size in bytes (compressing on demand).
    const QByteArray& JpegData() const;
    qint64 Size() const { return JpegData().size(); }

    // Reads all remaining bytes of Device. The header is checked now: data
    // that are not a JPEG stream are rejected and the image is unchanged.
    // No bytes at all load an empty image, as an empty image saves none.
    void LoadFromStream(QIODevice& device);
    void LoadFromFile(const QString& fileName);
    void LoadFromData(const QByteArray& data);
    void SaveToStream(QIODevice& device) const;
    void SaveToFile(const QString& fileName) const;

    // The picture as BGR888, decoded on demand and kept until FreeBitmap. A
    // null image when empty. Data that do not decode completely (truncated
    // or corrupt) raise EJPEG.
    QImage Decode() const;
    // Draws at its own size with its top-left corner at TopLeft.
    void Draw(QPainter& painter, QPoint topLeft) const;
    // Draws scaled to fill Target, aspect ratio not kept.
    void StretchDraw(QPainter& painter, const QRect& target) const;

    // Decodes JPEG Data reduced by the smallest of the decoder's DCT scale
    // factors (1/8 to 8/8) whose result still covers AtLeast, straight into
    // the screen's format (RGB32): far less work than a full decode when a
    // small picture is wanted. An empty AtLeast decodes at full size. Data that
    // do not decode completely raise EJPEG, as Decode does.
    static QImage DecodeScaled(const QByteArray& data, QSize atLeast);
    // The bytes of a picture file; a file that cannot be opened or read
    // completely, or holds more than MaxFileBytes, raises EJPEG naming it.
    static QByteArray ReadFileData(const QString& fileName);
    // Checks JPEG Data without decoding them: a header the decoder reads, at
    // most MaxPixels, and the end-of-image marker last (a picture cut short
    // lacks it). Answers the picture's size; raises EJPEG saying what is wrong.
    static QSize CheckData(const QByteArray& data);

private:
    bool NeedsCompression() const;
    // The assigned picture or the decoded copy, in the format it is held in.
    const QImage& Picture() const;

    mutable QImage Bitmap;
    mutable QByteArray Data;
    // Whether Bitmap is the assigned picture rather than a decoded cache.
    bool BitmapIsSource = false;
    // The quality at which Data was made from the assigned bitmap.
    mutable int EncodedQuality = 0;
    int FQuality = DefaultQuality;
    int FWidth = 0;
    int FHeight = 0;
};
