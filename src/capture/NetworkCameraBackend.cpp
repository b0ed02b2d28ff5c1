#include "NetworkCameraBackend.h"

#include "NetworkCamera.h"

extern "C" {
#include <libavutil/avutil.h>
}

TNetworkCameraBackend::TNetworkCameraBackend(QList<TNetworkCameraEntry> cameras,
                                             TNetworkTimings timings, TNetworkSeams seams)
    : Cameras(std::move(cameras)), Timings(timings), Seams(std::move(seams)) {
    if (Cameras.size() > MaxNetworkCameras)
        Cameras.resize(MaxNetworkCameras);
}

QString TNetworkCameraBackend::Description(int index) {
    if (index < 0 || index >= DeviceCount())
        return {};
    return NetworkCameraDescription(Cameras[index].Name);
}

QString TNetworkCameraBackend::Version(int index) {
    if (index < 0 || index >= DeviceCount())
        return {};
    return QStringLiteral("FFmpeg ") + QString::fromUtf8(av_version_info());
}

std::unique_ptr<TCaptureDevice> TNetworkCameraBackend::CreateDevice(int index) {
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return std::make_unique<TNetworkCamera>(Cameras[index], Timings, Seams);
}

std::optional<TCaptureCaps> TNetworkCameraBackend::KnownCaps(int index) {
    if (index < 0 || index >= DeviceCount())
        return std::nullopt;
    return TCaptureCaps{};
}

QString TNetworkCameraBackend::Identity(int index) {
    if (index < 0 || index >= DeviceCount())
        return {};
    return QStringLiteral("network:") + Cameras[index].Name;
}
