// libFuzzer target: any mask file either fails with an EMaskFile or yields a
// mask within the bounds that writes and reads back to the same pixels.
#include "kaMaskFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QImage mask;
    try {
        mask = MaskFile::Decode(bytes);
    } catch (const EMaskFile&) {
        return 0;
    }
    if (mask.isNull() || mask.width() > MaskFile::MaxSide || mask.height() > MaskFile::MaxSide)
        std::abort();
    const QImage again = MaskFile::Decode(MaskFile::Compress(MaskFile::ToBmp(mask)));
    if (again.size() != mask.size() || again.format() != mask.format())
        std::abort();
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            if (again.pixel(x, y) != mask.pixel(x, y))
                std::abort();
    return 0;
}
