#pragma once

#include "CaptureBackend.h"

#include <chrono>
#include <memory>

// Measures how steadily a running camera is served: a back end that hands
// out the devices of another one and notes, for every grab, the time since
// the previous grab of any of its devices. Something that holds the thread
// the grabs run on shows as a large gap.
class TFrameGapMeter final : public TCaptureBackend {
public:
    using Clock = std::chrono::steady_clock;

    explicit TFrameGapMeter(std::shared_ptr<TCaptureBackend> measured);

    int DeviceCount() override { return Measured->DeviceCount(); }
    QString Description(int index) override { return Measured->Description(index); }
    QString Version(int index) override { return Measured->Version(index); }
    QString Identity(int index) override { return Measured->Identity(index); }
    std::optional<TCaptureCaps> KnownCaps(int index) override { return Measured->KnownCaps(index); }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override;

    // Forgets the gaps so far; the next grab starts a new measurement.
    void Restart();
    int Grabs() const { return FGrabs; }
    // The largest gap between two grabs since the restart, in milliseconds.
    double LargestGapMs() const;

    // Called by the devices on every grab.
    void Grabbed(Clock::time_point when);

private:
    std::shared_ptr<TCaptureBackend> Measured;
    std::optional<Clock::time_point> Last;
    Clock::duration Largest{};
    int FGrabs = 0;
};
