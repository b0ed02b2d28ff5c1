#pragma once

#include "CaptureBackend.h"
#include "EkaError.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QTimer>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ENoDriverException : public EkaError {
public:
    using EkaError::EkaError;
};
class ENoCapWindowException : public EkaError {
public:
    using EkaError::EkaError;
};
class ENotConnectException : public EkaError {
public:
    using EkaError::EkaError;
};
class ENoOverlayException : public EkaError {
public:
    using EkaError::EkaError;
};
class ENotOpen : public EkaError {
public:
    using EkaError::EkaError;
};
class EBufferFileError : public EkaError {
public:
    using EkaError::EkaError;
};

// ---- Frame and format records, laid out as the frame pipeline knows them ----

// One delivered frame; the pipeline reads lpData and dwBytesUsed.
struct VIDEOHDR {
    std::uint8_t* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesUsed = 0;
    std::uint32_t dwTimeCaptured = 0; // milliseconds since the driver was connected
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
};
using PVIDEOHDR = VIDEOHDR*;
constexpr std::uint32_t VHDR_DONE = 0x1;
constexpr std::uint32_t VHDR_KEYFRAME = 0x8;

// An audio buffer; no back end records sound, so none is ever delivered.
struct WAVEHDR {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
};
using PWaveHdr = WAVEHDR*;

constexpr std::uint32_t BI_RGB = 0;

struct BITMAPINFOHEADER {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    // Positive; the rows of a delivered frame run from top to bottom.
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
struct RGBQUAD {
    std::uint8_t rgbBlue = 0;
    std::uint8_t rgbGreen = 0;
    std::uint8_t rgbRed = 0;
    std::uint8_t rgbReserved = 0;
};
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(BITMAPINFO) == 44);

enum class TChannel { Stereo, Mono };
enum class TFrequency { f8000Hz, f11025Hz, f22050Hz, f44100Hz };
enum class TResolution { r8Bit, r16Bit };

struct TAudioFormat {
    TChannel Channels = TChannel::Mono;
    TFrequency Frequency = TFrequency::f8000Hz;
    TResolution Resolution = TResolution::r8Bit;
};

// The driver's state as of the last refresh.
struct TCapStatus {
    std::uint32_t uiImageWidth = 0;
    std::uint32_t uiImageHeight = 0;
    bool fLiveWindow = false;
    bool fOverlayWindow = false;
    bool fScale = false;
    std::uint32_t dwCurrentVideoFrame = 0;
};

using TCapStatusProc = std::function<void(QObject* sender)>;
using TCapStatusCallback = std::function<void(QObject* sender, int nID, const QString& status)>;
using TVideoStream = std::function<void(QObject* sender, PVIDEOHDR lpVhdr)>;
using TAudioStream = std::function<void(QObject* sender, PWaveHdr lpWHdr)>;
using TError = std::function<void(QObject* sender, int nID, const QString& errorstr)>;
using TConnected = std::function<void(QObject* sender, std::exception_ptr failure)>;

// Error number passed to OnError when the device fails.
constexpr int CapErrorDevice = 1;

// Whether a driver exists at Index (0 to 9) and its description and version.
bool GetDriverDescription(int index, QString& name, QString& version);

// Sets Bitmap to the format's size and draws the frame into it at 1:1. A null
// or BGR888 bitmap receives the BGR24 rows as they are; any other bitmap keeps
// its pixel format and gets a converted picture. False, leaving Bitmap as it
// was, for a format that is not 24-bit BGR or when DataSize (when not -1) is
// smaller than the frame.
bool FrameToBitmap(QImage& bitmap, const void* data, const BITMAPINFO& info,
                   qsizetype dataSize = -1);

// One capture driver. It connects the driver chosen by index or name, grabs
// single frames on request, handing each one synchronously to OnFrameCallback,
// and offers the driver's configuration dialogs. No live picture is shown.
class TVideoCap : public QObject {
    Q_OBJECT

public:
    explicit TVideoCap(QObject* parent = nullptr);
    ~TVideoCap() override;

    // The component's own size; the picture is scaled to it when previewing with scaling.
    int Width() const { return ComponentSize.width(); }
    int Height() const { return ComponentSize.height(); }
    void SetSize(int width, int height);

    // True from the connection on, also while the driver still waits for its first answer.
    bool DriverOpen() const { return Device != nullptr; }
    // A connection the driver answers later (a network camera) is made while
    // the event loop runs: until then grabs deliver nothing.
    bool Connecting() const { return Device != nullptr && ConnectTimer.isActive(); }
    void SetDriverOpen(bool value);
    int DriverIndex() const { return Index; }
    void SetDriverIndex(int value);
    const QString& DriverName() const { return Name; }
    void SetDriverName(const QString& value);

    bool VideoOverlay() const;
    void SetVideoOverlay(bool value);
    bool VideoPreview() const;
    void SetVideoPreview(bool value);
    bool PreviewScaleToWindow() const { return ScaleToWindow; }
    void SetPreviewScaleToWindow(bool value);
    bool PreviewScaleProportional() const { return ScaleProportional; }
    void SetPreviewScaleProportional(bool value);
    std::uint16_t PreviewRate() const { return Rate; }
    void SetPreviewRate(std::uint16_t value);
    // round(1000 / PreviewRate) milliseconds.
    int PreviewIntervalMs() const;

    std::uint32_t MicroSecPerFrame() const { return FramePeriod; }
    void SetMicroSecPerFrame(std::uint32_t value);
    std::uint16_t FrameRate() const;
    void SetFrameRate(std::uint16_t value);

    // Settings of streaming capture to a file, stored only.
    bool CapAudio() const { return Audio; }
    void SetCapAudio(bool value) { Audio = value; }
    const QString& VideoFileName() const { return VideoFile; }
    void SetVideoFileName(const QString& value) { VideoFile = value; }
    const QString& SingleImageFile() const { return ImageFile; }
    void SetSingleImageFile(const QString& value) { ImageFile = value; }
    std::uint16_t CapTimeLimit() const { return TimeLimit; }
    void SetCapTimeLimit(std::uint16_t value) { TimeLimit = value; }
    std::uint32_t CapIndexSize() const { return IndexSize; }
    void SetCapIndexSize(std::uint32_t value);
    bool CapToFile() const { return ToFile; }
    void SetCapToFile(bool value) { ToFile = value; }
    TAudioFormat& CapAudioFormat() { return AudioFormat; }

    // Megabytes of a preallocated temporary capture file; 0 means none.
    std::uint16_t BufferFileSize() const { return BufferMegabytes; }
    void SetBufferFileSize(std::uint16_t value);
    // The temporary capture file while one exists.
    const QString& BufferFileName() const { return TempFileName; }

    TCapStatusProc OnStatus;
    TCapStatusCallback OnStatusCallback;
    TVideoStream OnVideoStream;
    TVideoStream OnFrameCallback;
    TAudioStream OnAudioStream;
    TError OnError;
    // Once a connection that was still waiting for its driver is settled:
    // Failure says why it failed (the driver is then disconnected), or is null.
    TConnected OnConnected;

    // Grabs one frame and hands it to OnFrameCallback before returning. False
    // when disconnected or when the driver delivers nothing.
    bool GrabFrame();
    // The current video format; raises ENotOpen (Info zeroed) when disconnected.
    void GetBitmapInfo(BITMAPINFO& info);
    void GetBitmapInfoHeader(BITMAPINFOHEADER& header);
    // The picture size of the last status refresh; 0 before the first one.
    std::uint16_t ImageWidth() const;
    std::uint16_t ImageHeight() const;

    bool HasVideoOverlay();
    bool HasDlgVideoSource();
    bool HasDlgVideoFormat();
    bool HasDlgVideoDisplay();

    // Modal driver dialogs; true when the user confirmed. A disconnected
    // driver is connected for the dialog's duration only.
    bool DlgVideoFormat();
    bool DlgVideoSource();
    bool DlgVideoDisplay();

    // Where the driver's picture would be shown: the picture size, or scaled
    // to the component. Empty while disconnected.
    QSize CaptureWindowSize() const { return WindowSize; }

private:
    enum class TDialogKind { Format, Source, Display };
    class TTemporaryConnection;

    void Connect();
    // Raises the refusal of a device that did not connect.
    [[noreturn]] void Refuse(const TCaptureDevice& device);
    // The settings and status of a connected driver; disconnects when that fails.
    void Settle();
    void CheckConnecting();
    void Disconnect() noexcept;
    void RefreshStatus(bool notify);
    void SizeCaptureWindow();
    void ReportError(const QString& text);
    bool LoadDriverCaps();
    bool ShowDialog(TDialogKind kind);
    void SetupBufferFile(std::uint16_t megabytes);
    void ReleaseBufferFile() noexcept;

    QSize ComponentSize{100, 100};
    int Index = -1;
    QString Name;
    bool ScaleToWindow = false;
    bool ScaleProportional = false;
    std::uint16_t Rate = 30;
    std::uint32_t FramePeriod = 66667;
    bool Audio = false;
    QString VideoFile = QStringLiteral("Video.avi");
    QString ImageFile = QStringLiteral("Capture.bmp");
    std::uint16_t TimeLimit = 0;
    std::uint32_t IndexSize = 0;
    bool ToFile = true;
    TAudioFormat AudioFormat;
    std::uint16_t BufferMegabytes = 0;

    // Shared with a driver dialog while it is open.
    std::shared_ptr<TCaptureDevice> Device;
    std::optional<TCaptureCaps> DriverCaps;
    std::optional<TCapStatus> Status;
    QString TempFileName;
    bool PreviewOn = false;
    bool OverlayOn = false;
    QTimer PreviewTimer;
    QTimer ConnectTimer;
    QElapsedTimer ConnectedClock;
    std::uint32_t FramesGrabbed = 0;
    std::vector<std::uint8_t> FrameBuffer;
    QSize WindowSize;
};
