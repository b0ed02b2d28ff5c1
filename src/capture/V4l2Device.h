#pragma once

#include "CaptureBackend.h"
#include "V4l2DeviceCalls.h"

#include <linux/videodev2.h>
#include <memory>
#include <vector>

// One V4L2 capture node: BGR24 (converted by libv4l2 where the camera has
// another format), streamed through memory-mapped buffers. A grab hands out
// the newest frame the driver has filled, or no frame (an empty one) when
// none is ready: it runs on the main thread and never waits longer than one
// frame interval, so a silent camera shows through the page's watchdog and an
// unplugged one as a failed grab.
class TV4l2Device final : public TCaptureDevice {
public:
    // ChosenSize is shared with the back end, so a size picked in the format
    // dialog holds for later connections; an empty size takes the device's own.
    // MaxFrameWaitMs bounds the wait for a fresh frame (one frame interval of
    // the device, or a frame at 30 per second when it names none).
    TV4l2Device(std::shared_ptr<TV4l2DeviceCalls> calls, QString path,
                std::shared_ptr<QSize> chosenSize, int maxFrameWaitMs);
    ~TV4l2Device() override;

    static constexpr int BufferCount = 4;
    static constexpr int UnknownFrameIntervalMs = 34;

    // How long a grab may wait for a fresh frame while streaming.
    int FrameWaitMs() const { return FreshFrameWaitMs; }

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return Fd.IsValid(); }

    TCaptureFormat Format() const override { return CurrentFormat; }
    bool SetFormat(const TCaptureFormat& format) override;
    QList<QSize> FrameSizes() override;
    QStringList PixelFormats() override;

    QList<TCaptureControl> Controls() override;
    bool SetControl(std::uint32_t id, int value) override;

    bool StartStreaming() override;
    void StopStreaming() override;
    bool IsStreaming() const override { return Streaming; }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override;

    TCaptureCaps Caps() override;
    QString ErrorText() const override { return LastError; }

private:
    enum class TDrain { Frame, Empty, Failed };
    enum class TWait { Ready, NotYet, Failed };

    bool Fail(const QString& text);
    bool FailErrno(const QString& what);
    int Xioctl(unsigned long request, void* arg);
    QSize CurrentDeviceSize();
    bool ApplyFormat(QSize size);
    bool MapBuffers();
    void ReleaseBuffers();
    TWait WaitReadable(int timeoutMs);
    int FrameIntervalMs();
    TDrain Drain(v4l2_buffer& newest, int& dequeued);
    bool Queue(std::uint32_t index);
    bool IsComplete(const v4l2_buffer& buffer) const;
    void CopyFrame(const v4l2_buffer& buffer, std::vector<std::uint8_t>& frame) const;
    QList<std::uint32_t> PixelFormatCodes(bool includeEmulated, QStringList* descriptions);

    std::shared_ptr<TV4l2DeviceCalls> Calls;
    QString Path;
    std::shared_ptr<QSize> ChosenSize;
    int MaxFrameWaitMs;
    int FreshFrameWaitMs = UnknownFrameIntervalMs;

    TV4l2Fd Fd;
    TCaptureFormat CurrentFormat;
    int BytesPerLine = 0;
    std::vector<std::unique_ptr<TV4l2Mapping>> Buffers;
    bool BuffersRequested = false;
    bool Streaming = false;
    // Set when the device reported that it is gone; every later grab fails.
    bool Lost = false;
    QString LastError;
};
