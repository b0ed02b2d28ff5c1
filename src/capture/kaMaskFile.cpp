#include "kaMaskFile.h"

#include "TkaAtomicFile.h"
#include "TkaBoundedRead.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>
#include <zlib.h>

namespace {

constexpr int FileHeaderSize = 14;
constexpr int InfoHeaderSize = 40;
// The largest information header (version 5) and the three bit-field masks
// that follow a version-1 header.
constexpr int MaxInfoHeaderSize = 124;
constexpr int BitFieldsSize = 12;
// Bytes a stream may hold beyond its picture (some writers pad the file), and
// between the colour table and the pixel data.
constexpr qint64 TrailingSlack = 64 * 1024;

constexpr quint32 BiRgb = 0;
constexpr quint32 BiRle8 = 1;
constexpr quint32 BiRle4 = 2;
constexpr quint32 BiBitFields = 3;

const char* const DepthKey = "BitsPerPixel";

[[noreturn]] void Refuse(const QString& reason) {
    throw EMaskFile(reason);
}

quint16 U16(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 U32(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<quint32>(data.constData() + at);
}

qint32 S32(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<qint32>(data.constData() + at);
}

void Put16(QByteArray& data, quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    data.append(bytes, 2);
}

void Put32(QByteArray& data, quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    data.append(bytes, 4);
}

qint64 RowBytes(qint64 width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// What the headers of a BMP say, checked against themselves.
struct TBmpHeader {
    quint32 PixelOffset = 0;
    quint32 HeaderSize = 0;
    int Width = 0;
    int Height = 0;
    bool TopDown = false;
    int BitsPerPixel = 0;
    quint32 Compression = BiRgb;
    int Colours = 0;
    qsizetype ColourTableAt = 0;
    std::array<quint32, 3> Masks{}; // red, green, blue
    qint64 RowSize = 0;

    bool Rle() const { return Compression == BiRle8 || Compression == BiRle4; }
    // Where the pixel data end; for run-length data where they end at most.
    qint64 PixelEnd() const { return qint64(PixelOffset) + RowSize * Height; }
};

// Reads the headers from the start of a BMP file; Data may stop after them.
TBmpHeader ParseHeader(const QByteArray& data) {
    if (data.size() < FileHeaderSize + InfoHeaderSize)
        Refuse(QStringLiteral("the content is too short for a BMP picture"));
    if (data[0] != 'B' || data[1] != 'M')
        Refuse(QStringLiteral("the content is no BMP picture (the signature \"BM\" is missing)"));
    TBmpHeader h;
    h.PixelOffset = U32(data, 10);
    h.HeaderSize = U32(data, FileHeaderSize);
    if (h.HeaderSize < InfoHeaderSize || h.HeaderSize > MaxInfoHeaderSize)
        Refuse(QStringLiteral("the BMP information header has an unsupported size of %1 bytes")
                   .arg(h.HeaderSize));
    const qint32 width = S32(data, 18);
    const qint32 height = S32(data, 22);
    const int planes = U16(data, 26);
    h.BitsPerPixel = U16(data, 28);
    h.Compression = U32(data, 30);
    const quint32 used = U32(data, 46);

    if (width <= 0 || height == 0 || height == INT32_MIN)
        Refuse(QStringLiteral("the BMP picture has no pixels (%1 x %2)").arg(width).arg(height));
    h.Width = width;
    h.Height = height < 0 ? -height : height;
    h.TopDown = height < 0;
    if (h.Width > MaskFile::MaxSide || h.Height > MaskFile::MaxSide)
        Refuse(QStringLiteral("the BMP picture of %1 x %2 pixels is larger than %3 x %3")
                   .arg(h.Width)
                   .arg(h.Height)
                   .arg(MaskFile::MaxSide));
    if (planes != 1)
        Refuse(QStringLiteral("the BMP picture has %1 planes instead of 1").arg(planes));
    const std::array<int, 6> depths{1, 4, 8, 16, 24, 32};
    if (std::find(depths.begin(), depths.end(), h.BitsPerPixel) == depths.end())
        Refuse(QStringLiteral("BMP pictures of %1 bits per pixel are not supported")
                   .arg(h.BitsPerPixel));
    const bool bitFields = h.Compression == BiBitFields;
    const bool rle = (h.Compression == BiRle8 && h.BitsPerPixel == 8) ||
                     (h.Compression == BiRle4 && h.BitsPerPixel == 4);
    if (rle && h.TopDown)
        Refuse(QStringLiteral("a run-length compressed BMP picture cannot be stored top-down"));
    if (h.Compression != BiRgb && !rle &&
        !(bitFields && (h.BitsPerPixel == 16 || h.BitsPerPixel == 32)))
        Refuse(QStringLiteral("the BMP compression %1 is not supported for %2 bits per pixel")
                   .arg(h.Compression)
                   .arg(h.BitsPerPixel));
    // Runs take at most two bytes a pixel and an end of line a row.
    h.RowSize = rle ? 2 * qint64(h.Width) + 2 : RowBytes(h.Width, h.BitsPerPixel);
    if (RowBytes(h.Width, std::max(h.BitsPerPixel, 8)) * h.Height > MaskFile::MaxPixelBytes)
        Refuse(QStringLiteral("the BMP picture needs more than %1 MB")
                   .arg(MaskFile::MaxPixelBytes >> 20));

    qsizetype afterHeader = FileHeaderSize + qsizetype(h.HeaderSize);
    if (bitFields) {
        // Version 1 headers are followed by the masks, later ones hold them.
        const qsizetype at = FileHeaderSize + InfoHeaderSize;
        if (h.HeaderSize == InfoHeaderSize)
            afterHeader += BitFieldsSize;
        if (data.size() < at + BitFieldsSize)
            Refuse(QStringLiteral("the BMP picture is cut short in its bit-field masks"));
        h.Masks = {U32(data, at), U32(data, at + 4), U32(data, at + 8)};
    } else if (h.BitsPerPixel == 16) {
        h.Masks = {0x7c00, 0x03e0, 0x001f};
    }
    h.ColourTableAt = afterHeader;
    if (h.BitsPerPixel <= 8) {
        const quint32 most = 1u << h.BitsPerPixel;
        if (used > most)
            Refuse(QStringLiteral("the BMP colour table claims %1 colours for %2 bits per pixel")
                       .arg(used)
                       .arg(h.BitsPerPixel));
        h.Colours = int(used == 0 ? most : used);
    }
    const qint64 tableEnd = qint64(afterHeader) + qint64(h.Colours) * 4;
    if (h.PixelOffset < tableEnd)
        Refuse(QStringLiteral("the BMP pixel data start at byte %1, inside the headers and the "
                              "colour table of %2 colours that end at byte %3")
                   .arg(h.PixelOffset)
                   .arg(h.Colours)
                   .arg(tableEnd));
    // Checked before inflating: the offset would otherwise decide how much
    // memory the stream may fill.
    if (h.PixelOffset > tableEnd + TrailingSlack)
        Refuse(QStringLiteral("the BMP pixel data start at byte %1, more than %2 bytes after the "
                              "headers and the colour table that end at byte %3")
                   .arg(h.PixelOffset)
                   .arg(TrailingSlack)
                   .arg(tableEnd));
    return h;
}

QList<QRgb> ColourTable(const QByteArray& data, const TBmpHeader& h) {
    QList<QRgb> table;
    table.reserve(h.Colours);
    for (int i = 0; i < h.Colours; ++i) {
        const auto* entry =
            reinterpret_cast<const uchar*>(data.constData()) + h.ColourTableAt + 4 * i;
        table.append(qRgb(entry[2], entry[1], entry[0]));
    }
    return table;
}

// One channel of a bit-field pixel, scaled to 8 bits.
int Channel(quint32 pixel, quint32 mask) {
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1u) == 0)
        ++shift;
    const quint32 top = mask >> shift;
    return int(((pixel & mask) >> shift) * 255u / top);
}

// Decodes run-length data (RLE8 or RLE4) into the indices of Mask, whose rows
// are top row first. Pixels the runs skip keep index 0; runs beyond the
// picture are cut off. Answers the highest index written.
int DecodeRuns(const QByteArray& data, const TBmpHeader& h, QImage& mask) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData()) + h.PixelOffset;
    const auto* end = reinterpret_cast<const uchar*>(data.constData()) + data.size();
    const bool four = h.Compression == BiRle4;
    int x = 0;
    int y = 0; // counted from the bottom row
    int highest = 0;
    // Column and row never leave the picture, whatever the records add up to.
    const auto put = [&](int index) {
        if (x < h.Width) {
            mask.scanLine(h.Height - 1 - y)[x] = uchar(index);
            highest = std::max(highest, index);
            ++x;
        }
    };
    while (end - p >= 2 && y < h.Height) {
        const int count = p[0];
        const int value = p[1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < h.Width; ++i)
                put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0f) : value);
        } else if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move right and up
            if (end - p < 2)
                break;
            x = std::min(x + p[0], h.Width);
            y = std::min(y + p[1], h.Height);
            p += 2;
        } else { // Value pixels as they are, padded to 16 bits
            const qsizetype bytes = four ? (value + 1) / 2 : value;
            const qsizetype padded = bytes + (bytes & 1);
            if (end - p < bytes)
                Refuse(QStringLiteral("the run-length data of the BMP picture are cut short"));
            for (int i = 0; i < value; ++i)
                put(four ? (i % 2 == 0 ? p[i / 2] >> 4 : p[i / 2] & 0x0f) : p[i]);
            p += std::min(padded, qsizetype(end - p));
        }
    }
    return highest;
}

QImage IndexedPicture(const QByteArray& data, const TBmpHeader& h) {
    QImage mask(h.Width, h.Height, QImage::Format_Indexed8);
    if (mask.isNull())
        Refuse(QStringLiteral("there is not enough memory for the mask"));
    QList<QRgb> table = ColourTable(data, h);
    int highest = 0;
    if (h.Rle()) {
        mask.fill(0);
        highest = DecodeRuns(data, h, mask);
    }
    for (int y = 0; y < h.Height && !h.Rle(); ++y) {
        const auto* row = reinterpret_cast<const uchar*>(data.constData()) + h.PixelOffset +
                          h.RowSize * (h.TopDown ? y : h.Height - 1 - y);
        uchar* target = mask.scanLine(y);
        for (int x = 0; x < h.Width; ++x) {
            int index = 0;
            if (h.BitsPerPixel == 8)
                index = row[x];
            else if (h.BitsPerPixel == 4)
                index = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0f;
            else
                index = (row[x / 8] >> (7 - x % 8)) & 1;
            target[x] = uchar(index);
            highest = std::max(highest, index);
        }
    }
    // Pixels beyond a short table mask like black, as they did before loading.
    while (table.size() <= highest)
        table.append(qRgb(0, 0, 0));
    mask.setColorTable(table);
    mask.setText(QString::fromLatin1(DepthKey), QString::number(h.BitsPerPixel));
    return mask;
}

QImage DirectPicture(const QByteArray& data, const TBmpHeader& h) {
    const bool standard555 =
        h.BitsPerPixel == 16 && h.Masks == std::array<quint32, 3>{0x7c00, 0x03e0, 0x001f};
    const bool standard565 =
        h.BitsPerPixel == 16 && h.Masks == std::array<quint32, 3>{0xf800, 0x07e0, 0x001f};
    const bool plain32 = h.BitsPerPixel == 32 && h.Compression == BiRgb;
    QImage::Format format = QImage::Format_RGB32;
    if (h.BitsPerPixel == 24)
        format = QImage::Format_BGR888;
    else if (standard555)
        format = QImage::Format_RGB555;
    else if (standard565)
        format = QImage::Format_RGB16;
    QImage mask(h.Width, h.Height, format);
    if (mask.isNull())
        Refuse(QStringLiteral("there is not enough memory for the mask"));
    const qint64 used = qint64(h.Width) * (h.BitsPerPixel / 8);
    for (int y = 0; y < h.Height; ++y) {
        const auto* row = reinterpret_cast<const uchar*>(data.constData()) + h.PixelOffset +
                          h.RowSize * (h.TopDown ? y : h.Height - 1 - y);
        uchar* target = mask.scanLine(y);
        if (format == QImage::Format_BGR888) {
            std::memcpy(target, row, std::size_t(used));
        } else if (format != QImage::Format_RGB32) {
            for (int x = 0; x < h.Width; ++x)
                reinterpret_cast<quint16*>(target)[x] = qFromLittleEndian<quint16>(row + 2 * x);
        } else {
            auto* pixels = reinterpret_cast<QRgb*>(target);
            for (int x = 0; x < h.Width; ++x) {
                const quint32 pixel = h.BitsPerPixel == 16
                                          ? qFromLittleEndian<quint16>(row + 2 * x)
                                          : qFromLittleEndian<quint32>(row + 4 * x);
                pixels[x] = plain32 ? (pixel | 0xff000000u)
                                    : qRgb(Channel(pixel, h.Masks[0]), Channel(pixel, h.Masks[1]),
                                           Channel(pixel, h.Masks[2]));
            }
        }
    }
    return mask;
}

// The smallest depth of an indexed mask that holds its colour table, at least
// the depth it was read with.
int IndexedDepth(const QImage& mask) {
    int depth = mask.text(QString::fromLatin1(DepthKey)).toInt();
    if (depth != 1 && depth != 4)
        depth = 8;
    const qsizetype colours = mask.colorCount();
    if (depth == 1 && colours > 2)
        depth = 4;
    if (depth == 4 && colours > 16)
        depth = 8;
    return depth;
}

void PackIndexedRow(const uchar* source, int width, int depth, uchar* row) {
    for (int x = 0; x < width; ++x) {
        if (depth == 8)
            row[x] = source[x];
        else if (depth == 4)
            row[x / 2] |= uchar((source[x] & 0x0f) << (x % 2 == 0 ? 4 : 0));
        else
            row[x / 8] |= uchar((source[x] & 1) << (7 - x % 8));
    }
}

// A zlib inflater that takes out as much as asked for.
class TInflater {
public:
    explicit TInflater(const QByteArray& stream) {
        Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
        Z.avail_in = uInt(stream.size());
        if (inflateInit(&Z) != Z_OK)
            Refuse(QStringLiteral("the decompressor cannot start"));
    }
    ~TInflater() { inflateEnd(&Z); }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    // Inflates until Output holds Size bytes or the stream ends.
    void FillTo(QByteArray& output, qint64 size) {
        while (!Ended && output.size() < size) {
            const qsizetype before = output.size();
            const qsizetype chunk = qsizetype(std::min<qint64>(size - before, 1 << 20));
            output.resize(before + chunk);
            Z.next_out = reinterpret_cast<Bytef*>(output.data() + before);
            Z.avail_out = uInt(chunk);
            const int result = inflate(&Z, Z_NO_FLUSH);
            output.resize(before + chunk - qsizetype(Z.avail_out));
            if (result == Z_STREAM_END) {
                Ended = true;
            } else if (result == Z_BUF_ERROR && Z.avail_in == 0) {
                Refuse(QStringLiteral("the compressed data are cut short"));
            } else if (result != Z_OK) {
                Refuse(result == Z_DATA_ERROR && before == 0 && Z.total_out == 0
                           ? QStringLiteral("the file is no zlib stream")
                           : QStringLiteral("the compressed data are damaged (%1)")
                                 .arg(QString::fromLatin1(Z.msg ? Z.msg : "zlib error")));
            }
        }
    }

    bool Ended = false;

private:
    z_stream Z{};
};

} // namespace

namespace MaskFile {

QByteArray ToBmp(const QImage& source) {
    QImage mask = source;
    int depth = 0;
    quint32 compression = BiRgb;
    if (mask.format() == QImage::Format_Indexed8) {
        depth = IndexedDepth(mask);
    } else if (mask.format() == QImage::Format_RGB555) {
        depth = 16;
    } else if (mask.format() == QImage::Format_RGB16) {
        depth = 16;
        compression = BiBitFields;
    } else if (mask.format() == QImage::Format_BGR888) {
        depth = 24;
    } else {
        mask = mask.convertToFormat(QImage::Format_RGB32);
        depth = 32;
    }
    const QList<QRgb> table = depth <= 8 ? mask.colorTable() : QList<QRgb>();
    const qint64 rowSize = RowBytes(mask.width(), depth);
    const quint32 pixelOffset =
        quint32(FileHeaderSize + InfoHeaderSize + (compression == BiBitFields ? BitFieldsSize : 0) +
                4 * table.size());
    const quint32 imageSize = quint32(rowSize * mask.height());

    QByteArray bmp;
    bmp.reserve(qsizetype(pixelOffset + imageSize));
    bmp.append("BM", 2);
    Put32(bmp, pixelOffset + imageSize);
    Put16(bmp, 0);
    Put16(bmp, 0);
    Put32(bmp, pixelOffset);
    Put32(bmp, InfoHeaderSize);
    Put32(bmp, quint32(mask.width()));
    Put32(bmp, quint32(mask.height())); // positive: bottom row first
    Put16(bmp, 1);
    Put16(bmp, quint16(depth));
    Put32(bmp, compression);
    Put32(bmp, imageSize);
    Put32(bmp, 0); // resolution: not known
    Put32(bmp, 0);
    Put32(bmp, quint32(table.size()));
    Put32(bmp, quint32(table.size()));
    if (compression == BiBitFields) {
        Put32(bmp, 0xf800);
        Put32(bmp, 0x07e0);
        Put32(bmp, 0x001f);
    }
    for (QRgb colour : table) {
        const char entry[4] = {char(qBlue(colour)), char(qGreen(colour)), char(qRed(colour)), 0};
        bmp.append(entry, 4);
    }

    QByteArray row(qsizetype(rowSize), '\0');
    for (int y = mask.height() - 1; y >= 0; --y) {
        row.fill('\0');
        const uchar* source = mask.constScanLine(y);
        auto* target = reinterpret_cast<uchar*>(row.data());
        if (depth <= 8) {
            PackIndexedRow(source, mask.width(), depth, target);
        } else if (depth == 16) {
            for (int x = 0; x < mask.width(); ++x)
                qToLittleEndian(reinterpret_cast<const quint16*>(source)[x], target + 2 * x);
        } else if (depth == 24) {
            std::memcpy(target, source, std::size_t(mask.width()) * 3);
        } else {
            for (int x = 0; x < mask.width(); ++x)
                qToLittleEndian(reinterpret_cast<const QRgb*>(source)[x] & 0x00ffffffu,
                                target + 4 * x);
        }
        bmp.append(row);
    }
    return bmp;
}

QImage FromBmp(const QByteArray& bmp) {
    const TBmpHeader h = ParseHeader(bmp);
    if (h.Rle() ? qint64(h.PixelOffset) > bmp.size() : h.PixelEnd() > bmp.size())
        Refuse(QStringLiteral("the BMP picture is cut short: its %1 x %2 pixels need %3 bytes, "
                              "the content has %4")
                   .arg(h.Width)
                   .arg(h.Height)
                   .arg(h.PixelEnd())
                   .arg(bmp.size()));
    return h.BitsPerPixel <= 8 ? IndexedPicture(bmp, h) : DirectPicture(bmp, h);
}

QByteArray Compress(const QByteArray& data) {
    uLongf size = compressBound(uLong(data.size()));
    QByteArray stream(qsizetype(size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                  reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        Refuse(QStringLiteral("the mask cannot be compressed"));
    stream.resize(qsizetype(size));
    return stream;
}

QByteArray Decompress(const QByteArray& stream, qint64 limit) {
    TInflater inflater(stream);
    QByteArray content;
    inflater.FillTo(content, limit + 1);
    if (!inflater.Ended || content.size() > limit)
        Refuse(QStringLiteral("the compressed data unpack to more than %1 bytes").arg(limit));
    return content;
}

QImage Decode(const QByteArray& stream) {
    TInflater inflater(stream);
    QByteArray bmp;
    // The headers first: they bound what the rest may unpack to, so a stream
    // that unpacks to far more than its picture is refused before it fills
    // the memory.
    inflater.FillTo(bmp, FileHeaderSize + MaxInfoHeaderSize + BitFieldsSize);
    const TBmpHeader header = ParseHeader(bmp);
    const qint64 end =
        std::max<qint64>(header.PixelEnd(), header.ColourTableAt + 4 * header.Colours);
    inflater.FillTo(bmp, end + TrailingSlack + 1);
    if (!inflater.Ended)
        Refuse(QStringLiteral("the compressed data unpack to more than the %1 x %2 pixels "
                              "their picture claims")
                   .arg(header.Width)
                   .arg(header.Height));
    return FromBmp(bmp);
}

QImage Read(const QString& fileName) {
    const auto failure = [&fileName](const QString& reason) {
        return EMaskFile(
            QStringLiteral("The mask \"%1\" cannot be read: %2").arg(fileName, reason));
    };
    QFile file(fileName);
    if (QFileInfo(fileName).isDir())
        throw failure(QStringLiteral("it is a folder"));
    if (!file.open(QIODevice::ReadOnly))
        throw failure(file.errorString());
    // Deflate packs at most about 1032 to 1: a larger file cannot hold a
    // picture of the bounds.
    QByteArray stream;
    QString error;
    if (!TkaBoundedRead::ReadAll(file, MaxPixelBytes, stream, error))
        throw failure(error);
    if (stream.isEmpty())
        throw failure(QStringLiteral("the file is empty"));
    QImage mask;
    try {
        mask = Decode(stream);
    } catch (const EMaskFile& error) {
        throw failure(error.message());
    }
    TkaAtomicFile::RemoveLeftovers(fileName);
    return mask;
}

void Write(const QString& fileName, const QImage& mask) {
    const QByteArray stream = Compress(ToBmp(mask));
    TkaAtomicFile::Replace<EMaskFile>(fileName, stream, [&fileName](const QString& reason) {
        return QStringLiteral("The mask cannot be saved as \"%1\": %2").arg(fileName, reason);
    });
}

} // namespace MaskFile
