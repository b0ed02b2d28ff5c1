#include "TJPEGImage.h"

#include "TkaAtomicFile.h"
#include "TkaBoundedRead.h"

#include <QFile>
#include <QIODevice>
#include <QPainter>
#include <QSysInfo>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

// jpeglib.h needs FILE declared first, and jerror.h needs jpeglib.h's configuration.
#include <jpeglib.h>
// (order matters)
#include <jerror.h>

// libjpeg reports errors by calling error_exit, whose default ends the
// process. Here it long-jumps back into one of the small *Protected functions
// below. Only libjpeg's C frames and the callbacks in this file lie between
// setjmp and longjmp, and none of them holds an object with a destructor; the
// C++ callers turn a failed call into an EJPEG after the jump.

namespace {

struct ErrorManager {
    jpeg_error_mgr Pub; // first member: libjpeg hands back a pointer to it
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX] = {};
};

ErrorManager* ErrorOf(j_common_ptr info) {
    return reinterpret_cast<ErrorManager*>(info->err);
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
    ErrorManager* error = ErrorOf(info);
    error->Pub.format_message(info, error->Message);
    std::longjmp(error->Jump, 1);
}

// Warnings after which the picture is incomplete or wrong; they fail the load
// or the decoding like errors. Others (unknown JFIF revision, stray bytes
// between segments) leave the picture intact and are ignored.
bool MeansDataLoss(int code) {
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
        return true;
    default:
        return false;
    }
}

// Trace messages and harmless warnings are dropped: nothing goes to stderr.
void EmitMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return;
    ErrorManager* error = ErrorOf(info);
    ++error->Pub.num_warnings;
    if (MeansDataLoss(error->Pub.msg_code))
        ErrorExit(info);
}

void OutputMessage(j_common_ptr) {}

jpeg_error_mgr* InitErrorManager(ErrorManager& error) {
    jpeg_std_error(&error.Pub);
    error.Pub.error_exit = ErrorExit;
    error.Pub.emit_message = EmitMessage;
    error.Pub.output_message = OutputMessage;
    return &error.Pub;
}

QString MessageOf(const ErrorManager& error) {
    return QString::fromLatin1(error.Message);
}

// RGB32 is one 32-bit word 0xffRRGGBB a pixel, whatever the byte order. The
// decoder writes the padding byte as 0xFF, which RGB32 requires; the encoder
// ignores it.
constexpr J_COLOR_SPACE Rgb32ColorSpace =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;

// ---- Compression ---------------------------------------------------------

// A destination that grows a malloc'ed buffer; the buffer is freed by the
// owner's destructor, after any jump.
struct MemoryDestination {
    jpeg_destination_mgr Pub; // first member, see ErrorManager
    unsigned char* Buffer = nullptr;
    size_t Capacity = 0;
    size_t Length = 0;

    explicit MemoryDestination(size_t initialCapacity);
    ~MemoryDestination() { std::free(Buffer); }
    MemoryDestination(const MemoryDestination&) = delete;
    MemoryDestination& operator=(const MemoryDestination&) = delete;
};

MemoryDestination* DestinationOf(j_compress_ptr info) {
    return reinterpret_cast<MemoryDestination*>(info->dest);
}

void InitDestination(j_compress_ptr info) {
    MemoryDestination* dest = DestinationOf(info);
    if (dest->Buffer == nullptr) {
        dest->Buffer = static_cast<unsigned char*>(std::malloc(dest->Capacity));
        if (dest->Buffer == nullptr)
            ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
    dest->Pub.next_output_byte = dest->Buffer;
    dest->Pub.free_in_buffer = dest->Capacity;
}

// Called with the whole buffer full.
boolean GrowDestination(j_compress_ptr info) {
    MemoryDestination* dest = DestinationOf(info);
    const size_t grown = dest->Capacity * 2;
    auto* buffer = static_cast<unsigned char*>(std::realloc(dest->Buffer, grown));
    if (buffer == nullptr)
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    dest->Buffer = buffer;
    dest->Pub.next_output_byte = buffer + dest->Capacity;
    dest->Pub.free_in_buffer = grown - dest->Capacity;
    dest->Capacity = grown;
    return TRUE;
}

void TermDestination(j_compress_ptr info) {
    MemoryDestination* dest = DestinationOf(info);
    dest->Length = dest->Capacity - dest->Pub.free_in_buffer;
}

MemoryDestination::MemoryDestination(size_t initialCapacity) : Capacity(initialCapacity) {
    Pub.next_output_byte = nullptr;
    Pub.free_in_buffer = 0;
    Pub.init_destination = InitDestination;
    Pub.empty_output_buffer = GrowDestination;
    Pub.term_destination = TermDestination;
}

struct RowSource {
    const unsigned char* Bits;
    qsizetype BytesPerLine;
    int Width;
    int Height;
    // BGR888 or RGB32; libjpeg-turbo converts either with the same
    // arithmetic, so the compressed bytes do not depend on it.
    J_COLOR_SPACE ColorSpace;
    int Components;
};

[[gnu::noinline]] bool CompressProtected(jpeg_compress_struct* info, ErrorManager* error,
                                         jpeg_destination_mgr* dest, const RowSource* rows,
                                         int quality) {
    if (setjmp(error->Jump) != 0)
        return false;
    jpeg_create_compress(info);
    info->dest = dest;
    info->image_width = static_cast<JDIMENSION>(rows->Width);
    info->image_height = static_cast<JDIMENSION>(rows->Height);
    info->input_components = rows->Components;
    info->in_color_space = rows->ColorSpace;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    jpeg_start_compress(info, TRUE);
    while (info->next_scanline < info->image_height) {
        // libjpeg does not write through the row pointer.
        JSAMPROW row =
            const_cast<unsigned char*>(rows->Bits + info->next_scanline * rows->BytesPerLine);
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

// Bitmap is BGR888 or RGB32 (see Assign).
QByteArray Encode(const QImage& bitmap, int quality) {
    const bool rgb32 = bitmap.format() == QImage::Format_RGB32;
    const RowSource rows{bitmap.constBits(),
                         bitmap.bytesPerLine(),
                         bitmap.width(),
                         bitmap.height(),
                         rgb32 ? Rgb32ColorSpace : JCS_EXT_BGR,
                         rgb32 ? 4 : 3};
    ErrorManager error;
    jpeg_compress_struct info{};
    info.err = InitErrorManager(error);
    MemoryDestination dest(16384 + size_t(rows.Width) * size_t(rows.Height) / 4);
    const bool ok = CompressProtected(&info, &error, &dest.Pub, &rows, quality);
    jpeg_destroy_compress(&info);
    if (!ok)
        throw EJPEG(QStringLiteral("JPEG compression failed (%1)").arg(MessageOf(error)));
    return QByteArray(reinterpret_cast<const char*>(dest.Buffer), qsizetype(dest.Length));
}

// ---- Decompression ---------------------------------------------------------

// A decompressor over JPEG bytes in memory, destroyed on every way out.
struct Decompressor {
    ErrorManager Error;
    jpeg_decompress_struct Info{};

    Decompressor() { Info.err = InitErrorManager(Error); }
    ~Decompressor() { jpeg_destroy_decompress(&Info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

[[gnu::noinline]] bool ReadHeaderProtected(jpeg_decompress_struct* info, ErrorManager* error,
                                           const QByteArray* data) {
    if (setjmp(error->Jump) != 0)
        return false;
    jpeg_create_decompress(info);
    // Bounds libjpeg's own buffers (progressive pictures keep all coefficients).
    info->mem->max_memory_to_use = TJPEGImage::MaxDecodedBytes;
    jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(data->constData()),
                 static_cast<unsigned long>(data->size()));
    jpeg_read_header(info, TRUE);
    return true;
}

// One pointer per row of the bitmap, made before the decoding starts.
struct RowTarget {
    std::vector<JSAMPROW> Rows;

    explicit RowTarget(QImage& bitmap) : Rows(size_t(bitmap.height())) {
        for (int y = 0; y < bitmap.height(); ++y)
            Rows[size_t(y)] = bitmap.scanLine(y);
    }
};

[[gnu::noinline]] bool DecodeRowsProtected(jpeg_decompress_struct* info, ErrorManager* error,
                                           RowTarget* rows) {
    if (setjmp(error->Jump) != 0)
        return false;
    jpeg_start_decompress(info);
    // All remaining rows at once: the decoder then writes whole row groups
    // straight into the bitmap instead of through its own spare row.
    while (info->output_scanline < info->output_height)
        jpeg_read_scanlines(info, rows->Rows.data() + info->output_scanline,
                            info->output_height - info->output_scanline);
    // Reads up to the end marker, so a stream cut after the last row still fails.
    jpeg_finish_decompress(info);
    return true;
}

void ReadHeader(Decompressor& decoder, const QByteArray& data) {
    if (!ReadHeaderProtected(&decoder.Info, &decoder.Error, &data))
        throw EJPEG(QStringLiteral("Not a valid JPEG picture (%1)").arg(MessageOf(decoder.Error)));
}

void CheckPixels(const Decompressor& decoder) {
    const qint64 pixels = qint64(decoder.Info.image_width) * decoder.Info.image_height;
    if (pixels > TJPEGImage::MaxPixels)
        throw EJPEG(QStringLiteral("JPEG picture of %1 x %2 pixels is larger than the %3 "
                                   "million pixels that are decoded")
                        .arg(decoder.Info.image_width)
                        .arg(decoder.Info.image_height)
                        .arg(TJPEGImage::MaxPixels / 1000000));
}

QImage DecodeBgr(const QByteArray& data) {
    Decompressor decoder;
    ReadHeader(decoder, data);
    const int width = int(decoder.Info.image_width);
    const int height = int(decoder.Info.image_height);
    const qint64 bytesPerLine = (qint64(width) * 3 + 3) / 4 * 4;
    if (bytesPerLine * height > TJPEGImage::MaxDecodedBytes)
        throw EJPEG(QStringLiteral("JPEG picture of %1 x %2 pixels is too large to decode")
                        .arg(width)
                        .arg(height));
    QImage bitmap(width, height, QImage::Format_BGR888);
    if (bitmap.isNull())
        throw EJPEG(QStringLiteral("Not enough memory to decode a JPEG picture of %1 x %2 pixels")
                        .arg(width)
                        .arg(height));
    decoder.Info.out_color_space = JCS_EXT_BGR;
    RowTarget rows(bitmap);
    if (!DecodeRowsProtected(&decoder.Info, &decoder.Error, &rows))
        throw EJPEG(
            QStringLiteral("JPEG picture cannot be decoded (%1)").arg(MessageOf(decoder.Error)));
    return bitmap;
}

// The smallest scale n/8 whose output covers AtLeast; the output size is
// libjpeg's own rounding of it.
[[gnu::noinline]] bool ChooseScaleProtected(jpeg_decompress_struct* info, ErrorManager* error,
                                            int minWidth, int minHeight) {
    if (setjmp(error->Jump) != 0)
        return false;
    constexpr unsigned Denominator = 8;
    info->scale_denom = Denominator;
    for (unsigned numerator = 1; numerator <= Denominator; ++numerator) {
        info->scale_num = numerator;
        jpeg_calc_output_dimensions(info);
        if (int(info->output_width) >= minWidth && int(info->output_height) >= minHeight)
            break;
    }
    return true;
}

QImage DecodeRgb32Scaled(const QByteArray& data, QSize atLeast) {
    Decompressor decoder;
    ReadHeader(decoder, data);
    // A reduced decoding still reads every pixel's coefficients.
    CheckPixels(decoder);
    decoder.Info.out_color_space = Rgb32ColorSpace;
    // For a reduced picture the plain chroma upsampling and the fast integer
    // transform cost less and show no difference at that size.
    decoder.Info.do_fancy_upsampling = FALSE;
    decoder.Info.dct_method = JDCT_IFAST;
    if (!ChooseScaleProtected(&decoder.Info, &decoder.Error, atLeast.width(), atLeast.height()))
        throw EJPEG(QStringLiteral("Not a valid JPEG picture (%1)").arg(MessageOf(decoder.Error)));
    const int width = int(decoder.Info.output_width);
    const int height = int(decoder.Info.output_height);
    if (qint64(width) * 4 * height > TJPEGImage::MaxDecodedBytes)
        throw EJPEG(QStringLiteral("JPEG picture of %1 x %2 pixels is too large to decode")
                        .arg(width)
                        .arg(height));
    QImage bitmap(width, height, QImage::Format_RGB32);
    if (bitmap.isNull())
        throw EJPEG(QStringLiteral("Not enough memory to decode a JPEG picture of %1 x %2 pixels")
                        .arg(width)
                        .arg(height));
    RowTarget rows(bitmap);
    if (!DecodeRowsProtected(&decoder.Info, &decoder.Error, &rows))
        throw EJPEG(
            QStringLiteral("JPEG picture cannot be decoded (%1)").arg(MessageOf(decoder.Error)));
    return bitmap;
}

} // namespace

// ---- TJPEGImage -------------------------------------------------------------

void TJPEGImage::Assign(const QImage& bitmap) {
    if (bitmap.isNull()) {
        Clear();
        return;
    }
    // The screen's format is compressed as it is: a shared copy, no
    // conversion (the camera page's display picture is RGB32).
    QImage copy = bitmap.format() == QImage::Format_RGB32
                      ? bitmap
                      : bitmap.convertToFormat(QImage::Format_BGR888);
    if (copy.devicePixelRatio() != 1.0)
        copy.setDevicePixelRatio(1.0);
    Bitmap = copy;
    Data.clear();
    BitmapIsSource = true;
    EncodedQuality = 0;
    FWidth = Bitmap.width();
    FHeight = Bitmap.height();
}

void TJPEGImage::Clear() {
    Bitmap = QImage();
    Data.clear();
    BitmapIsSource = false;
    EncodedQuality = 0;
    FWidth = 0;
    FHeight = 0;
}

void TJPEGImage::SetQuality(int quality) {
    FQuality = std::clamp(quality, MinQuality, MaxQuality);
}

bool TJPEGImage::NeedsCompression() const {
    return BitmapIsSource && (Data.isEmpty() || EncodedQuality != FQuality);
}

void TJPEGImage::Compress() {
    JpegData();
}

void TJPEGImage::FreeBitmap() {
    JpegData();
    Bitmap = QImage();
    BitmapIsSource = false;
}

const QByteArray& TJPEGImage::JpegData() const {
    if (NeedsCompression()) {
        Data = Encode(Bitmap, FQuality);
        EncodedQuality = FQuality;
    }
    return Data;
}

void TJPEGImage::LoadFromData(const QByteArray& data) {
    if (data.isEmpty()) {
        Clear();
        return;
    }
    Decompressor decoder;
    ReadHeader(decoder, data);
    Clear();
    Data = data;
    FWidth = int(decoder.Info.image_width);
    FHeight = int(decoder.Info.image_height);
}

void TJPEGImage::LoadFromStream(QIODevice& device) {
    if (!device.isReadable())
        throw EJPEG(QStringLiteral("Cannot read JPEG data: the stream is not open for reading"));
    LoadFromData(device.readAll());
}

QByteArray TJPEGImage::ReadFileData(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EJPEG(
            QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    QByteArray data;
    QString error;
    if (!TkaBoundedRead::ReadAll(file, MaxFileBytes, data, error))
        throw EJPEG(QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, error));
    return data;
}

QSize TJPEGImage::CheckData(const QByteArray& data) {
    if (data.isEmpty())
        throw EJPEG(QStringLiteral("Not a valid JPEG picture (no data)"));
    Decompressor decoder;
    ReadHeader(decoder, data);
    CheckPixels(decoder);
    if (!data.endsWith("\xFF\xD9"))
        throw EJPEG(QStringLiteral("JPEG picture is cut short (no end marker)"));
    return QSize(int(decoder.Info.image_width), int(decoder.Info.image_height));
}

void TJPEGImage::LoadFromFile(const QString& fileName) {
    LoadFromData(ReadFileData(fileName));
}

void TJPEGImage::SaveToStream(QIODevice& device) const {
    const QByteArray& data = JpegData();
    if (!device.isWritable())
        throw EJPEG(QStringLiteral("Cannot write JPEG data: the stream is not open for writing"));
    if (device.write(data) != data.size())
        throw EJPEG(QStringLiteral("Cannot write JPEG data. %1").arg(device.errorString()));
}

void TJPEGImage::SaveToFile(const QString& fileName) const {
    // Replaced as a whole, so a failed save never leaves a torn picture.
    TkaAtomicFile::Replace<EJPEG>(fileName, JpegData(), [&](const QString& reason) {
        return QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, reason);
    });
}

const QImage& TJPEGImage::Picture() const {
    if (Bitmap.isNull() && !Data.isEmpty())
        Bitmap = DecodeBgr(Data);
    return Bitmap;
}

QImage TJPEGImage::Decode() const {
    const QImage& picture = Picture();
    if (picture.format() == QImage::Format_RGB32)
        return picture.convertToFormat(QImage::Format_BGR888);
    return picture;
}

void TJPEGImage::Draw(QPainter& painter, QPoint topLeft) const {
    const QImage& picture = Picture();
    if (!picture.isNull())
        painter.drawImage(topLeft, picture);
}

void TJPEGImage::StretchDraw(QPainter& painter, const QRect& target) const {
    const QImage& picture = Picture();
    if (!picture.isNull())
        painter.drawImage(target, picture);
}

QImage TJPEGImage::DecodeScaled(const QByteArray& data, QSize atLeast) {
    if (data.isEmpty())
        throw EJPEG(QStringLiteral("Not a valid JPEG picture (no data)"));
    // Nothing to cover: no scale fits, so the loop ends at full size.
    if (atLeast.isEmpty())
        atLeast = QSize(std::numeric_limits<int>::max(), std::numeric_limits<int>::max());
    return DecodeRgb32Scaled(data, atLeast);
}
