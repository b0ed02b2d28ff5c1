// libFuzzer target: the check of JPEG data either refuses them with an EJPEG
// or answers the size a load sees; a small checked picture then decodes or
// fails with an EJPEG, never worse.
#include "TJPEGImage.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Larger pictures are checked only: decoding them would slow the search down.
constexpr qint64 DecodedPixels = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QSize checked;
    try {
        checked = TJPEGImage::CheckData(bytes);
    } catch (const EJPEG&) {
        return 0;
    }
    if (qint64(checked.width()) * checked.height() > TJPEGImage::MaxPixels)
        std::abort();
    TJPEGImage image;
    image.LoadFromData(bytes);
    if (image.Width() != checked.width() || image.Height() != checked.height())
        std::abort();
    if (qint64(checked.width()) * checked.height() > DecodedPixels)
        return 0;
    try {
        const QImage picture = image.Decode();
        if (picture.size() != checked)
            std::abort();
        TJPEGImage::DecodeScaled(bytes, QSize(16, 16));
    } catch (const EJPEG&) {
    }
    return 0;
}
