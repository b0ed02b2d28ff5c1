#pragma once

#include "CaptureBackend.h"
#include "NetworkCameraConfig.h"
#include "NetworkStreamReader.h"

#include <chrono>
#include <memory>

struct SwsContext;

// A network camera as a capture device. Connecting starts its reader thread
// and returns at once: Connecting() tells when the stream answered or the
// start bound passed without an answer (the camera is then closed); a grab converts the
// newest decoded picture to BGR24 and returns at once. When no new picture
// arrived since the last grab, the grab succeeds with an empty frame, which the
// frame pipeline skips. A lost stream is reopened by the reader while grabs go
// on; the loss is reported once by an EkaError from the next grab.
class TNetworkCamera final : public TCaptureDevice {
public:
    TNetworkCamera(TNetworkCameraEntry camera, TNetworkTimings timings, TNetworkSeams seams = {});
    ~TNetworkCamera() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return Reader != nullptr; }
    bool Connecting() override;

    // The size of the last picture handed out (or announced by the stream).
    TCaptureFormat Format() const override { return CurrentFormat; }
    // The camera chooses its picture size; only that size is accepted.
    bool SetFormat(const TCaptureFormat& format) override;
    QList<QSize> FrameSizes() override;
    QStringList PixelFormats() override { return {}; }

    QList<TCaptureControl> Controls() override { return {}; }
    bool SetControl(std::uint32_t id, int value) override;

    bool StartStreaming() override;
    void StopStreaming() override;
    bool IsStreaming() const override { return Reader && Reader->IsRunning(); }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override;

    TCaptureCaps Caps() override { return {}; }
    QString ErrorText() const override { return LastError; }

    // The reader while connected (for tests and benchmarks).
    const TNetworkStreamReader* StreamReader() const { return Reader.get(); }

private:
    bool Fail(const QString& text);
    QString Named(const QString& text) const;
    bool Convert(const AVFrame& picture, std::vector<std::uint8_t>& frame);

    TNetworkCameraEntry Camera;
    TNetworkTimings Timings;
    TNetworkSeams Seams;
    std::unique_ptr<TNetworkStreamReader> Reader;
    TAVFramePtr Picture;
    std::uint64_t Taken = 0;
    std::uint64_t LossesReported = 0;
    // A start waits for its first answer since StartedAt.
    bool Starting = false;
    std::chrono::steady_clock::time_point StartedAt;
    SwsContext* Scaler = nullptr;
    TCaptureFormat CurrentFormat;
    QString LastError;
};
