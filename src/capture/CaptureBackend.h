#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The platform layer under TVideoCap: a back end offers numbered devices, a
// device connects, negotiates its picture size and hands out its newest frame
// as BGR24. Every back end delivers the same frame layout, so the frame
// pipeline never knows which one it runs on.

// Capture drivers (devices and demo cameras) are at most ten across all back
// ends; network cameras take no driver number of their own and come beside
// them, up to MaxNetworkCameras. Global indexes run over both in back-end order.
constexpr int MaxCaptureDrivers = 10;
constexpr int MaxNetworkCameras = 32;
constexpr int MaxCaptureIndex = MaxCaptureDrivers + MaxNetworkCameras;

// Frames are packed BGR24 (3 bytes a pixel, no row padding), rows top to bottom.
constexpr std::uint32_t CapturePixelFormatBGR24 = 0x33524742; // V4L2 fourcc "BGR3"

struct TCaptureFormat {
    int Width = 0;
    int Height = 0;
    std::uint32_t PixelFormat = CapturePixelFormatBGR24;

    qsizetype FrameBytes() const { return qsizetype(Width) * Height * 3; }
    bool operator==(const TCaptureFormat&) const = default;
};

enum class TCaptureControlKind { Integer, Boolean };

// One adjustable setting of a device's source, such as brightness.
struct TCaptureControl {
    std::uint32_t Id = 0;
    QString Name;
    TCaptureControlKind Kind = TCaptureControlKind::Integer;
    int Minimum = 0;
    int Maximum = 0;
    int Step = 1;
    int Default = 0;
    int Value = 0;
};

// Which configuration dialogs and display modes a device has.
struct TCaptureCaps {
    bool HasOverlay = false;
    bool HasDlgVideoSource = false;
    bool HasDlgVideoFormat = false;
    bool HasDlgVideoDisplay = false;
};

// One connected device. Created disconnected; Open connects.
class TCaptureDevice {
public:
    virtual ~TCaptureDevice() = default;

    // False when the device refuses; ErrorText says why. A device that has
    // to wait for its first answer (a network camera) returns at once.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Looks, without waiting, whether the device still waits for its first
    // answer since it was opened or started. Once it answered, IsOpen tells
    // whether it is connected (ErrorText why not).
    virtual bool Connecting() { return false; }

    // The format frames are delivered in (BGR24); zero size while closed.
    virtual TCaptureFormat Format() const = 0;
    // Asks for another picture size; the device may settle on the nearest one
    // it has. Only BGR24 is delivered. Stays valid for later connections.
    virtual bool SetFormat(const TCaptureFormat& format) = 0;
    // Picture sizes the device offers, ascending.
    virtual QList<QSize> FrameSizes() = 0;
    // Descriptions of the device's own pixel formats (before conversion).
    virtual QStringList PixelFormats() = 0;

    virtual QList<TCaptureControl> Controls() = 0;
    virtual bool SetControl(std::uint32_t id, int value) = 0;

    virtual bool StartStreaming() = 0;
    virtual void StopStreaming() = 0;
    virtual bool IsStreaming() const = 0;
    // Copies the newest frame into Frame (resized to Format().FrameBytes()),
    // starting the stream when needed. Runs on the main thread, so it returns
    // within about one frame interval; false when the device failed. A device
    // leaves Frame empty when no new frame is ready since the last grab.
    virtual bool GrabFrame(std::vector<std::uint8_t>& frame) = 0;

    virtual TCaptureCaps Caps() = 0;
    // The reason of the last failure.
    virtual QString ErrorText() const = 0;
};

// A source of devices, such as the machine's V4L2 nodes.
class TCaptureBackend {
public:
    virtual ~TCaptureBackend() = default;

    virtual int DeviceCount() = 0;
    virtual QString Description(int index) = 0;
    virtual QString Version(int index) = 0;
    // A disconnected device object, or null when Index names no device.
    virtual std::unique_ptr<TCaptureDevice> CreateDevice(int index) = 0;
    // The device's capabilities when they are known without connecting it;
    // by default a device is connected to ask it.
    virtual std::optional<TCaptureCaps> KnownCaps(int /*index*/) { return std::nullopt; }
    // What tells this camera from every other one however the devices are
    // numbered today; by default its description.
    virtual QString Identity(int index) { return Description(index); }
    // Whether the devices are network cameras, counted apart from the drivers.
    virtual bool NetworkCameras() const { return false; }
};

using TCaptureBackendList = std::vector<std::shared_ptr<TCaptureBackend>>;

class TV4l2DeviceCalls;
// The devices reached through Calls, then the configured network cameras
// (section "NetworkCameras"), then the configured demo cameras.
TCaptureBackendList DefaultCaptureBackends(std::shared_ptr<TV4l2DeviceCalls> calls);

// The process-wide back ends in driver order. Built on first use: the V4L2
// devices, the network cameras, then as many demo cameras as the configuration file's
// [Capture] DemoCameras asks for (none without a configuration file).
const TCaptureBackendList& CaptureBackends();
// Test seam: replaces the list; an empty list makes the next use build the
// default one again (reading the configuration file anew).
void SetCaptureBackends(TCaptureBackendList backends);

// The driver with a global index: its back end and the index within it.
struct TCaptureDriver {
    TCaptureBackend* Backend = nullptr;
    int Index = -1;
};
// Backend null when no driver has that index (indexes 0 to 9 only).
TCaptureDriver FindCaptureDriver(int driverIndex);
// The identity of the driver with a global index, prefixed with its kind;
// empty when no driver has that index.
QString CaptureDriverIdentity(int driverIndex);

// The configuration dialogs of a device. The program installs the Qt ones at
// start-up; without an installation every dialog answers false.
class TCaptureDialogs {
public:
    virtual ~TCaptureDialogs() = default;
    // Each answers true when the user confirmed and the choice was applied.
    virtual bool FormatDialog(TCaptureDevice& device) = 0;
    virtual bool SourceDialog(TCaptureDevice& device) = 0;
    virtual bool DisplayDialog(TCaptureDevice& device) = 0;
};

TCaptureDialogs* CaptureDialogs();
// Installs Dialogs (not owned); returns the previous installation.
TCaptureDialogs* SetCaptureDialogs(TCaptureDialogs* dialogs);
