#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// A mask file that cannot be read or written; the text says why.
class EMaskFile : public EkaError {
public:
    using EkaError::EkaError;
};

// Mask files (".msk"): one zlib stream (header, deflate data, Adler-32) whose
// content is a whole BMP file: 14-byte file header, 40-byte information
// header, colour table, rows bottom-up, each padded to 4 bytes.
//
// In memory a mask is an Indexed8 picture for BMPs of 1, 4 and 8 bits (the
// depth read is kept as the text "BitsPerPixel", so a mask is written back as
// it came), RGB555 or RGB16 for 16 bits, BGR888 for 24 and RGB32 for 32 bits.
namespace MaskFile {

// Bounds of what is read: a larger picture is refused before it is allocated.
constexpr int MaxSide = 16384;
constexpr qint64 MaxPixelBytes = qint64(256) * 1024 * 1024;

// The BMP file of Mask.
QByteArray ToBmp(const QImage& mask);
// The mask held by a BMP file; raises EMaskFile for anything else.
QImage FromBmp(const QByteArray& bmp);

// One zlib stream at the default level.
QByteArray Compress(const QByteArray& data);
// The content of one whole zlib stream, at most Limit bytes; raises EMaskFile
// for data that is not one, is cut short or inflates beyond Limit.
QByteArray Decompress(const QByteArray& stream, qint64 limit);

// The mask of a mask file's bytes.
QImage Decode(const QByteArray& stream);

// Reads a mask file; raises EMaskFile naming the file and the reason.
QImage Read(const QString& fileName);
// Replaces FileName by Mask's file as a whole: on failure the file that was
// there stays as it was. Raises EMaskFile naming the file and the reason.
void Write(const QString& fileName, const QImage& mask);

} // namespace MaskFile
