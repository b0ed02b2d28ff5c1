#include "FrameGapMeter.h"

namespace {

// Every call goes to the measured device; grabs are noted first.
class TMeteredDevice final : public TCaptureDevice {
public:
    TMeteredDevice(std::unique_ptr<TCaptureDevice> device, TFrameGapMeter& meter)
        : Device(std::move(device)), Meter(meter) {}

    bool Open() override { return Device->Open(); }
    void Close() override { Device->Close(); }
    bool IsOpen() const override { return Device->IsOpen(); }
    bool Connecting() override { return Device->Connecting(); }
    TCaptureFormat Format() const override { return Device->Format(); }
    bool SetFormat(const TCaptureFormat& format) override { return Device->SetFormat(format); }
    QList<QSize> FrameSizes() override { return Device->FrameSizes(); }
    QStringList PixelFormats() override { return Device->PixelFormats(); }
    QList<TCaptureControl> Controls() override { return Device->Controls(); }
    bool SetControl(std::uint32_t id, int value) override { return Device->SetControl(id, value); }
    bool StartStreaming() override { return Device->StartStreaming(); }
    void StopStreaming() override { Device->StopStreaming(); }
    bool IsStreaming() const override { return Device->IsStreaming(); }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override {
        Meter.Grabbed(TFrameGapMeter::Clock::now());
        return Device->GrabFrame(frame);
    }
    TCaptureCaps Caps() override { return Device->Caps(); }
    QString ErrorText() const override { return Device->ErrorText(); }

private:
    std::unique_ptr<TCaptureDevice> Device;
    TFrameGapMeter& Meter;
};

} // namespace

TFrameGapMeter::TFrameGapMeter(std::shared_ptr<TCaptureBackend> measured)
    : Measured(std::move(measured)) {}

std::unique_ptr<TCaptureDevice> TFrameGapMeter::CreateDevice(int index) {
    std::unique_ptr<TCaptureDevice> device = Measured->CreateDevice(index);
    if (!device)
        return nullptr;
    return std::make_unique<TMeteredDevice>(std::move(device), *this);
}

void TFrameGapMeter::Restart() {
    Last.reset();
    Largest = {};
    FGrabs = 0;
}

double TFrameGapMeter::LargestGapMs() const {
    return std::chrono::duration<double, std::milli>(Largest).count();
}

void TFrameGapMeter::Grabbed(Clock::time_point when) {
    if (Last && when - *Last > Largest)
        Largest = when - *Last;
    Last = when;
    ++FGrabs;
}
