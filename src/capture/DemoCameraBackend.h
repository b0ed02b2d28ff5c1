#pragma once

#include "CaptureBackend.h"
#include "DemoCamera.h"

#include <memory>
#include <vector>

// A number of demo cameras, named "Demo camera 1", "Demo camera 2", ...
class TDemoCameraBackend final : public TCaptureBackend {
public:
    explicit TDemoCameraBackend(int count);

    int DeviceCount() override { return int(Settings.size()); }
    QString Description(int index) override;
    QString Version(int index) override;
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override;
    // A demo camera is known by its number.
    QString Identity(int index) override;

private:
    std::vector<std::shared_ptr<TDemoCamera::TSettings>> Settings;
};
