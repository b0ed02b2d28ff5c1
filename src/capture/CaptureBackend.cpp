#include "CaptureBackend.h"

#include "DemoCameraBackend.h"
#include "NetworkCameraBackend.h"
#include "V4l2Backend.h"
#include "kaGeneral.h"

#include <algorithm>
#include <utility>

namespace {

struct TCaptureRegistry {
    TCaptureBackendList Backends;
    TCaptureDialogs* Dialogs = nullptr;
};

TCaptureRegistry& Registry() {
    static TCaptureRegistry registry;
    return registry;
}

int ConfiguredDemoCameras() {
    const TIniFile* ini = CfgIniFile();
    if (!ini)
        return 0;
    return ini->ReadInteger(QStringLiteral("Capture"), QStringLiteral("DemoCameras"), 0);
}

QList<TNetworkCameraEntry> ConfiguredNetworkCameras() {
    const TIniFile* ini = CfgIniFile();
    if (!ini)
        return {};
    QList<TNetworkCameraEntry> cameras = ReadNetworkCameras(*ini);
    // A file edited by hand may hold passwords readable by everyone.
    if (!cameras.isEmpty())
        ProtectNetworkCameraFile(ini->FileName());
    return cameras;
}

} // namespace

TCaptureBackendList DefaultCaptureBackends(std::shared_ptr<TV4l2DeviceCalls> calls) {
    return {std::make_shared<TV4l2Backend>(std::move(calls)),
            std::make_shared<TNetworkCameraBackend>(ConfiguredNetworkCameras()),
            std::make_shared<TDemoCameraBackend>(ConfiguredDemoCameras())};
}

const TCaptureBackendList& CaptureBackends() {
    TCaptureBackendList& backends = Registry().Backends;
    if (backends.empty())
        backends = DefaultCaptureBackends(std::make_shared<TV4l2SystemCalls>());
    return backends;
}

void SetCaptureBackends(TCaptureBackendList backends) {
    Registry().Backends = std::move(backends);
}

TCaptureDriver FindCaptureDriver(int driverIndex) {
    if (driverIndex < 0 || driverIndex >= MaxCaptureIndex)
        return {};
    int first = 0;
    int drivers = 0;
    int networkCameras = 0;
    for (const std::shared_ptr<TCaptureBackend>& backend : CaptureBackends()) {
        const bool network = backend->NetworkCameras();
        int& taken = network ? networkCameras : drivers;
        const int count = std::clamp(backend->DeviceCount(), 0,
                                     (network ? MaxNetworkCameras : MaxCaptureDrivers) - taken);
        if (driverIndex < first + count)
            return {backend.get(), driverIndex - first};
        first += count;
        taken += count;
    }
    return {};
}

QString CaptureDriverIdentity(int driverIndex) {
    const TCaptureDriver driver = FindCaptureDriver(driverIndex);
    return driver.Backend != nullptr ? driver.Backend->Identity(driver.Index) : QString();
}

TCaptureDialogs* CaptureDialogs() {
    return Registry().Dialogs;
}

TCaptureDialogs* SetCaptureDialogs(TCaptureDialogs* dialogs) {
    return std::exchange(Registry().Dialogs, dialogs);
}
