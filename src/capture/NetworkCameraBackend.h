#pragma once

#include "CaptureBackend.h"
#include "NetworkCameraConfig.h"
#include "NetworkStreamReader.h"

// The configured network cameras, one driver each, described as
// "Network camera: " + name.
class TNetworkCameraBackend final : public TCaptureBackend {
public:
    explicit TNetworkCameraBackend(QList<TNetworkCameraEntry> cameras, TNetworkTimings timings = {},
                                   TNetworkSeams seams = {});

    int DeviceCount() override { return int(Cameras.size()); }
    QString Description(int index) override;
    QString Version(int index) override;
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override;
    // A network camera has no driver dialogs: the camera itself is set up.
    std::optional<TCaptureCaps> KnownCaps(int index) override;
    // A network camera is known by the name the user gave it.
    QString Identity(int index) override;
    bool NetworkCameras() const override { return true; }

private:
    QList<TNetworkCameraEntry> Cameras;
    TNetworkTimings Timings;
    TNetworkSeams Seams;
};
