#include "DemoCamera.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <linux/videodev2.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct TControlRange {
    std::uint32_t Id;
    const char* Name;
    int Minimum;
    int Maximum;
    int Default;
};

constexpr TControlRange BrightnessRange{V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 0};
constexpr TControlRange ContrastRange{V4L2_CID_CONTRAST, "Contrast", 50, 150, 100};

// SplitMix64: small, fast and the same on every machine.
class TNoiseSource {
public:
    explicit TNoiseSource(std::uint64_t seed) : State(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t State;
};

// The noise texture is this long; a frame reads it in slices of SliceBytes,
// each starting at one of SliceStarts places, so noise never repeats between
// neighbouring frames while the texture stays small.
constexpr std::size_t SliceBytes = 1u << 15;
constexpr std::size_t SliceStarts = 1u << 15;
constexpr std::size_t NoiseBytes = SliceBytes + SliceStarts;

// Value + Up - Down, clamped to 0 .. 255, one byte at a time.
void AddNoiseScalar(std::uint8_t* p, const std::uint8_t* up, const std::uint8_t* down,
                    std::size_t count) {
    for (std::size_t k = 0; k < count; ++k)
        p[k] = std::uint8_t(std::clamp(int(p[k]) + int(up[k]) - int(down[k]), 0, 255));
}

#if defined(__SSE2__)
void AddNoiseBytes(std::uint8_t* p, const std::uint8_t* up, const std::uint8_t* down,
                   std::size_t count) {
    std::size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i plus = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + k));
        const __m128i minus = _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k),
                         _mm_subs_epu8(_mm_adds_epu8(value, plus), minus));
    }
    AddNoiseScalar(p + k, up + k, down + k, count - k);
}
#else
void AddNoiseBytes(std::uint8_t* p, const std::uint8_t* up, const std::uint8_t* down,
                   std::size_t count) {
    AddNoiseScalar(p, up, down, count);
}
#endif

std::uint8_t Clamp8(int value) {
    return std::uint8_t(std::clamp(value, 0, 255));
}

// A fixed fine texture, so the background is not flat.
int Grain(int x, int y) {
    std::uint32_t h = std::uint32_t(x) * 374761393u + std::uint32_t(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return int((h >> 24) % 17) - 8;
}

TCaptureControl MakeControl(const TControlRange& range, int value) {
    TCaptureControl control;
    control.Id = range.Id;
    control.Name = QString::fromLatin1(range.Name);
    control.Minimum = range.Minimum;
    control.Maximum = range.Maximum;
    control.Default = range.Default;
    control.Value = value;
    return control;
}

} // namespace

TDemoCamera::TDemoCamera(int number, std::shared_ptr<TSettings> settings)
    : Number(number), Settings(std::move(settings)) {
    BuildTable();
    BuildNoise();
}

QList<QSize> TDemoCamera::Sizes() {
    return {{320, 240}, {640, 480}, {800, 600}, {1280, 720}};
}

bool TDemoCamera::Open() {
    Opened = true;
    BuildTable();
    return true;
}

void TDemoCamera::Close() {
    StopStreaming();
    Opened = false;
}

TCaptureFormat TDemoCamera::Format() const {
    if (!Opened)
        return {};
    return {Settings->Size.width(), Settings->Size.height(), CapturePixelFormatBGR24};
}

bool TDemoCamera::SetFormat(const TCaptureFormat& format) {
    if (format.PixelFormat != CapturePixelFormatBGR24 || format.Width <= 0 || format.Height <= 0) {
        LastError = QStringLiteral("Only BGR24 pictures of a positive size can be delivered");
        return false;
    }
    // The nearest size on offer, as a camera would settle.
    const QList<QSize> sizes = Sizes();
    const auto distance = [&](QSize s) {
        return std::abs(s.width() - format.Width) + std::abs(s.height() - format.Height);
    };
    Settings->Size = *std::min_element(sizes.begin(), sizes.end(),
                                       [&](QSize a, QSize b) { return distance(a) < distance(b); });
    return true;
}

QStringList TDemoCamera::PixelFormats() {
    return {QStringLiteral("24-bit BGR 8-8-8 (BGR3)")};
}

QList<TCaptureControl> TDemoCamera::Controls() {
    return {MakeControl(BrightnessRange, Settings->Brightness),
            MakeControl(ContrastRange, Settings->Contrast)};
}

bool TDemoCamera::SetControl(std::uint32_t id, int value) {
    if (id == BrightnessRange.Id)
        Settings->Brightness = std::clamp(value, BrightnessRange.Minimum, BrightnessRange.Maximum);
    else if (id == ContrastRange.Id)
        Settings->Contrast = std::clamp(value, ContrastRange.Minimum, ContrastRange.Maximum);
    else {
        LastError = QStringLiteral("No such control");
        return false;
    }
    BuildTable();
    return true;
}

bool TDemoCamera::StartStreaming() {
    if (!Opened) {
        LastError = QStringLiteral("The device is not open");
        return false;
    }
    if (!Streaming)
        NextFrame = 0;
    Streaming = true;
    return true;
}

void TDemoCamera::StopStreaming() {
    Streaming = false;
}

bool TDemoCamera::GrabFrame(std::vector<std::uint8_t>& frame) {
    if (!StartStreaming())
        return false;
    Render(NextFrame++, frame);
    return true;
}

TCaptureCaps TDemoCamera::Caps() {
    TCaptureCaps caps;
    caps.HasDlgVideoFormat = true;
    caps.HasDlgVideoSource = true;
    return caps;
}

void TDemoCamera::Render(int frameNumber, std::vector<std::uint8_t>& frame) {
    if (BackgroundSize != Settings->Size)
        BuildBackground();
    frame.assign(Background.begin(), Background.end());
    DrawVisitor(frameNumber, frame);
    AddNoise(frameNumber, frame);
}

QRect TDemoCamera::VisitorRect(int frameNumber) const {
    const int w = Settings->Size.width();
    const int h = Settings->Size.height();
    const QSize size(std::max(w * 3 / 20, 2), std::max(h * 4 / 5, 2));
    // From the left edge to the right edge: each step uncovers more than two
    // columns of a 50-column grid, over 30 rows tall.
    const int travel = w - size.width();
    // Steps from the left edge: in, standing, back out, waiting at the edge.
    const int t = std::max(frameNumber, 0) % ReturnFrames;
    const int steps =
        t < LeaveFrame ? std::min(t, MoveFrames) : std::max(MoveFrames - (t - LeaveFrame), 0);
    return {QPoint(travel * steps / MoveFrames, h - size.height() - h / 40), size};
}

void TDemoCamera::BuildBackground() {
    const int w = Settings->Size.width();
    const int h = Settings->Size.height();
    Background.resize(std::size_t(w) * std::size_t(h) * 3);
    const int tileW = std::max(w / 16, 1);
    const int tileH = std::max(h / 12, 1);
    const int tint = (Number * 23) % 40;
    std::uint8_t* p = Background.data();
    for (int y = 0; y < h; ++y) {
        const bool floor = y > h * 2 / 3;
        for (int x = 0; x < w; ++x, p += 3) {
            const int grain = Grain(x, y);
            if (floor) {
                const int plank = ((x + y / 2) / std::max(w / 10, 1)) % 2 * 14;
                p[0] = Clamp8(40 + plank + grain);
                p[1] = Clamp8(70 + plank + grain);
                p[2] = Clamp8(100 + plank + grain + tint);
            } else {
                const int tile = (x / tileW + y / tileH) % 2 * 16;
                p[0] = Clamp8(90 + 60 * x / w + tile + grain);
                p[1] = Clamp8(100 + 50 * y / h + tile + grain);
                p[2] = Clamp8(110 + 40 * (w - x) / w + tile + grain + tint);
            }
        }
    }
    BackgroundSize = Settings->Size;
}

void TDemoCamera::BuildTable() {
    const int contrast = Settings->Contrast;
    const int brightness = Settings->Brightness;
    TableIsIdentity = true;
    for (int value = 0; value < int(Table.size()); ++value) {
        Table[std::size_t(value)] = Clamp8((value - 128) * contrast / 100 + 128 + brightness);
        TableIsIdentity = TableIsIdentity && Table[std::size_t(value)] == value;
    }
}

void TDemoCamera::BuildNoise() {
    TNoiseSource noise(std::uint64_t(Number) << 32 | 0x6e6f697365ull);
    constexpr int Spread = 2 * NoiseAmplitude + 1;
    NoiseUp.assign(NoiseBytes, 0);
    NoiseDown.assign(NoiseBytes, 0);
    std::size_t i = 0;
    while (i < NoiseBytes) {
        std::uint64_t bits = noise.Next();
        for (int k = 0; k < 8 && i < NoiseBytes; ++k, ++i, bits >>= 8) {
            const int offset = int((bits & 0xff) % Spread) - NoiseAmplitude;
            NoiseUp[i] = std::uint8_t(std::max(offset, 0));
            NoiseDown[i] = std::uint8_t(std::max(-offset, 0));
        }
    }
}

void TDemoCamera::DrawVisitor(int frameNumber, std::vector<std::uint8_t>& frame) const {
    const int w = Settings->Size.width();
    const QRect body = VisitorRect(frameNumber);
    const int headHeight = body.height() / 6;
    for (int y = body.top(); y <= body.bottom(); ++y) {
        // A narrower head on the shoulders; light clothes, shaded to the right.
        const bool head = y - body.top() < headHeight;
        const int inset = head ? body.width() / 3 : 0;
        std::uint8_t* row = frame.data() + std::size_t(y) * std::size_t(w) * 3;
        for (int x = body.left() + inset; x <= body.right() - inset; ++x) {
            const int shade = 30 * (x - body.left()) / std::max(body.width(), 1);
            row[x * 3 + 0] = Clamp8((head ? 150 : 215) - shade);
            row[x * 3 + 1] = Clamp8((head ? 180 : 225) - shade);
            row[x * 3 + 2] = Clamp8((head ? 220 : 235) - shade);
        }
    }
}

void TDemoCamera::AddNoise(int frameNumber, std::vector<std::uint8_t>& frame) const {
    TNoiseSource starts((std::uint64_t(Number) << 32) ^ std::uint64_t(std::uint32_t(frameNumber)));
    std::uint8_t* p = frame.data();
    const std::size_t size = frame.size();
    for (std::size_t i = 0; i < size; i += SliceBytes) {
        const std::size_t start = std::size_t(starts.Next() % SliceStarts);
        AddNoiseBytes(p + i, NoiseUp.data() + start, NoiseDown.data() + start,
                      std::min(SliceBytes, size - i));
    }
    if (!TableIsIdentity)
        for (std::size_t i = 0; i < size; ++i)
            p[i] = Table[p[i]];
}
