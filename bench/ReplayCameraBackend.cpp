#include "ReplayCameraBackend.h"

#include "BenchSupport.h"
#include "DemoCamera.h"

namespace {

// Frames of the demo's visitor standing still: noise is all that changes.
constexpr int FirstFrame = TDemoCamera::MoveFrames + 2;
constexpr int FrameCount = 8;

class TReplayCamera final : public TCaptureDevice {
public:
    TReplayCamera(QSize size, std::shared_ptr<const std::vector<std::vector<std::uint8_t>>> frames,
                  std::shared_ptr<std::atomic<long>> grabs)
        : Size(size), Frames(std::move(frames)), Grabs(std::move(grabs)) {}

    bool Open() override { return Opened = true; }
    void Close() override { Opened = Streaming = false; }
    bool IsOpen() const override { return Opened; }
    TCaptureFormat Format() const override {
        return Opened ? TCaptureFormat{Size.width(), Size.height()} : TCaptureFormat{};
    }
    bool SetFormat(const TCaptureFormat& format) override {
        return format.Width == Size.width() && format.Height == Size.height();
    }
    QList<QSize> FrameSizes() override { return {Size}; }
    QStringList PixelFormats() override { return {QStringLiteral("24-bit BGR 8-8-8 (BGR3)")}; }
    QList<TCaptureControl> Controls() override { return {}; }
    bool SetControl(std::uint32_t, int) override { return false; }
    bool StartStreaming() override { return Streaming = Opened; }
    void StopStreaming() override { Streaming = false; }
    bool IsStreaming() const override { return Streaming; }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override {
        if (!Opened)
            return false;
        const std::vector<std::uint8_t>& next = (*Frames)[Next++ % Frames->size()];
        frame.assign(next.begin(), next.end());
        ++*Grabs;
        return true;
    }
    TCaptureCaps Caps() override { return {}; }
    QString ErrorText() const override { return {}; }

private:
    QSize Size;
    std::shared_ptr<const std::vector<std::vector<std::uint8_t>>> Frames;
    std::shared_ptr<std::atomic<long>> Grabs;
    std::size_t Next = 0;
    bool Opened = false;
    bool Streaming = false;
};

} // namespace

TReplayCameraBackend::TReplayCameraBackend(int count, QSize size) : Size(size) {
    auto frames = std::make_shared<std::vector<std::vector<std::uint8_t>>>();
    for (int i = 0; i < FrameCount; ++i)
        frames->push_back(DemoFrame(size, FirstFrame + i));
    Frames = std::move(frames);
    for (int i = 0; i < count; ++i)
        Grabs.push_back(std::make_shared<std::atomic<long>>(0));
}

QString TReplayCameraBackend::Description(int index) {
    if (index < 0 || index >= DeviceCount())
        return {};
    return QStringLiteral("Replay camera %1").arg(index + 1);
}

QString TReplayCameraBackend::Version(int index) {
    return index >= 0 && index < DeviceCount() ? QStringLiteral("1") : QString();
}

std::unique_ptr<TCaptureDevice> TReplayCameraBackend::CreateDevice(int index) {
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return std::make_unique<TReplayCamera>(Size, Frames, Grabs[std::size_t(index)]);
}

std::optional<TCaptureCaps> TReplayCameraBackend::KnownCaps(int index) {
    if (index < 0 || index >= DeviceCount())
        return std::nullopt;
    return TCaptureCaps{};
}

long TReplayCameraBackend::GrabCount(int index) const {
    return index >= 0 && index < int(Grabs.size()) ? Grabs[std::size_t(index)]->load() : 0;
}
