#include "DemoCameraBackend.h"

#include <algorithm>

TDemoCameraBackend::TDemoCameraBackend(int count) {
    for (int i = 0; i < std::clamp(count, 0, MaxCaptureDrivers); ++i)
        Settings.push_back(std::make_shared<TDemoCamera::TSettings>());
}

QString TDemoCameraBackend::Description(int index) {
    if (index < 0 || index >= DeviceCount())
        return {};
    return QStringLiteral("Demo camera %1").arg(index + 1);
}

QString TDemoCameraBackend::Version(int index) {
    return index >= 0 && index < DeviceCount() ? QStringLiteral("1.0") : QString();
}

std::unique_ptr<TCaptureDevice> TDemoCameraBackend::CreateDevice(int index) {
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return std::make_unique<TDemoCamera>(index + 1, Settings[std::size_t(index)]);
}

QString TDemoCameraBackend::Identity(int index) {
    if (index < 0 || index >= DeviceCount())
        return {};
    return QStringLiteral("demo:%1").arg(index + 1);
}
