#pragma once

#include "CaptureBackend.h"

#include <QSize>
#include <atomic>
#include <memory>
#include <vector>

// Cameras for measuring the program, not for use: each replays a few frames of
// a still demo scene rendered once (noise only), and a grab just copies the
// next one, as a camera's driver hands over its newest buffer. They count as
// network cameras, so more than the ten drivers fit. Grabs are counted per
// camera.
class TReplayCameraBackend final : public TCaptureBackend {
public:
    TReplayCameraBackend(int count, QSize size);

    int DeviceCount() override { return int(Grabs.size()); }
    QString Description(int index) override;
    QString Version(int index) override;
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override;
    std::optional<TCaptureCaps> KnownCaps(int index) override;
    bool NetworkCameras() const override { return true; }

    // Frames delivered by camera Index so far.
    long GrabCount(int index) const;

private:
    QSize Size;
    std::shared_ptr<const std::vector<std::vector<std::uint8_t>>> Frames;
    std::vector<std::shared_ptr<std::atomic<long>>> Grabs;
};
