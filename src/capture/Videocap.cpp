#include "Videocap.h"

#include "CaptureSettings.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryFile>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>

namespace {

const QString NoDriverMessage = QStringLiteral("No capture driver selected");
const QString NoCapWindowMessage = QStringLiteral("Can not create capture window");
const QString NotConnectMessage =
    QStringLiteral("Can not connect capture driver with capture window");
const QString NoOverlayMessage = QStringLiteral("Driver has no overlay mode");
const QString NotOpenMessage = QStringLiteral("Driver not Open");
const QString BufferFileMessage = QStringLiteral("Could not create tmp file");

constexpr std::uint32_t MinMicroSecPerFrame = 33333;
constexpr std::uint32_t MinCapIndexSize = 1800;
constexpr std::uint32_t MaxCapIndexSize = 324000;
constexpr std::uint16_t MaxPreviewRate = 30;
constexpr qint64 Megabyte = 1048576;
// How often a connecting driver is asked whether it answered.
constexpr int ConnectPollMs = 20;

// A file of exactly Bytes bytes with its blocks reserved.
bool Preallocate(const QString& fileName, qint64 bytes) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite) || !file.resize(bytes))
        return false;
    return posix_fallocate(file.handle(), 0, bytes) == 0;
}

// A network camera is not contacted just to learn that it has no dialogs.
std::optional<TCaptureCaps> KnownDriverCaps(int index) {
    const TCaptureDriver driver = FindCaptureDriver(index);
    return driver.Backend ? driver.Backend->KnownCaps(driver.Index) : std::nullopt;
}

bool HasDialog(const TCaptureCaps& caps, bool format, bool source) {
    return format ? caps.HasDlgVideoFormat
                  : (source ? caps.HasDlgVideoSource : caps.HasDlgVideoDisplay);
}

} // namespace

bool GetDriverDescription(int index, QString& name, QString& version) {
    const TCaptureDriver driver = FindCaptureDriver(index);
    name = driver.Backend ? driver.Backend->Description(driver.Index) : QString();
    version = driver.Backend ? driver.Backend->Version(driver.Index) : QString();
    return !name.isEmpty();
}

bool FrameToBitmap(QImage& bitmap, const void* data, const BITMAPINFO& info, qsizetype dataSize) {
    const BITMAPINFOHEADER& header = info.bmiHeader;
    const int width = header.biWidth;
    const int height = header.biHeight;
    if (header.biBitCount != 24 || header.biCompression != BI_RGB || width <= 0 || height <= 0 ||
        data == nullptr)
        return false;
    const qsizetype row = qsizetype(width) * 3;
    if (dataSize >= 0 && dataSize < row * height)
        return false;
    const auto* source = static_cast<const uchar*>(data);
    const QImage::Format target = bitmap.format();
    if (target != QImage::Format_Invalid && target != QImage::Format_BGR888) {
        const QImage frame(source, width, height, row, QImage::Format_BGR888);
        bitmap = frame.convertToFormat(target);
        return true;
    }
    if (bitmap.format() != QImage::Format_BGR888 || bitmap.width() != width ||
        bitmap.height() != height)
        bitmap = QImage(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        std::memcpy(bitmap.scanLine(y), source + row * y, std::size_t(row));
    return true;
}

// Connects for the lifetime of the object when the driver was not connected.
// Connects for the duration of a scope when not connected yet. A dialog's
// event loop may end the component or its connection meanwhile: only the
// connection made here, if it is still there, is closed again.
class TVideoCap::TTemporaryConnection {
public:
    explicit TTemporaryConnection(TVideoCap& cap) : Cap(&cap) {
        if (cap.DriverOpen())
            return;
        cap.Connect();
        Made = cap.Device;
    }
    ~TTemporaryConnection() {
        if (Cap != nullptr && Cap->Device != nullptr && Cap->Device == Made.lock())
            Cap->Disconnect();
    }
    TTemporaryConnection(const TTemporaryConnection&) = delete;
    TTemporaryConnection& operator=(const TTemporaryConnection&) = delete;

private:
    QPointer<TVideoCap> Cap;
    std::weak_ptr<TCaptureDevice> Made;
};

TVideoCap::TVideoCap(QObject* parent) : QObject(parent) {
    connect(&PreviewTimer, &QTimer::timeout, this, [this] { GrabFrame(); });
    ConnectTimer.setInterval(ConnectPollMs);
    connect(&ConnectTimer, &QTimer::timeout, this, &TVideoCap::CheckConnecting);
}

TVideoCap::~TVideoCap() {
    Disconnect();
}

void TVideoCap::SetSize(int width, int height) {
    ComponentSize = QSize(std::max(width, 0), std::max(height, 0));
    if (ScaleToWindow)
        SizeCaptureWindow();
}

void TVideoCap::SetDriverOpen(bool value) {
    if (value)
        Connect();
    else
        Disconnect();
}

void TVideoCap::SetDriverIndex(int value) {
    if (value == Index)
        return;
    Disconnect();
    DriverCaps.reset();
    Status.reset();
    QString version;
    if (value < 0 || !GetDriverDescription(value, Name, version)) {
        value = -1;
        Name.clear();
    }
    Index = value;
}

void TVideoCap::SetDriverName(const QString& value) {
    if (value == Name)
        return;
    for (int i = 0; i < MaxCaptureIndex; ++i) {
        QString name;
        QString version;
        if (GetDriverDescription(i, name, version) && name == value) {
            SetDriverIndex(i);
            Name = value;
            return;
        }
    }
    Name.clear();
    SetDriverIndex(-1);
}

void TVideoCap::Connect() {
    if (Device)
        return;
    if (Index == -1) {
        RefreshStatus(true);
        throw ENoDriverException(NoDriverMessage);
    }
    const TCaptureDriver driver = FindCaptureDriver(Index);
    std::unique_ptr<TCaptureDevice> device =
        driver.Backend ? driver.Backend->CreateDevice(driver.Index) : nullptr;
    if (!device) {
        RefreshStatus(true);
        throw ENoCapWindowException(NoCapWindowMessage);
    }
    if (!device->Open())
        Refuse(*device);
    Device = std::move(device);
    FramesGrabbed = 0;
    ConnectedClock.start();
    if (Device->Connecting()) {
        ConnectTimer.start();
        RefreshStatus(true);
        return;
    }
    Settle();
}

void TVideoCap::Refuse(const TCaptureDevice& device) {
    // The device's reason (a refused password, a camera that does not
    // answer) is what the user needs to mend it.
    const QString reason = device.ErrorText();
    ReportError(reason);
    Disconnect();
    RefreshStatus(true);
    throw ENotConnectException(
        reason.isEmpty() ? NotConnectMessage : NotConnectMessage + QStringLiteral(": ") + reason);
}

void TVideoCap::Settle() {
    try {
        // A camera comes back with the size and controls chosen in its dialogs.
        RestoreCaptureSettings(*Device, Name);
        SetupBufferFile(BufferMegabytes);
    } catch (const EkaError&) {
        Disconnect();
        RefreshStatus(true);
        throw;
    }
    RefreshStatus(true);
    SizeCaptureWindow();
}

void TVideoCap::CheckConnecting() {
    if (!Device || Device->Connecting())
        return;
    ConnectTimer.stop();
    std::exception_ptr failure;
    try {
        if (!Device->IsOpen())
            Refuse(*Device);
        Settle();
    } catch (const std::exception&) {
        failure = std::current_exception();
    }
    // Last: the handler may run a dialog that ends this component.
    if (OnConnected)
        OnConnected(this, failure);
}

void TVideoCap::Disconnect() noexcept {
    if (!Device)
        return;
    PreviewTimer.stop();
    ConnectTimer.stop();
    PreviewOn = false;
    OverlayOn = false;
    ReleaseBufferFile();
    Device->Close();
    Device.reset();
    WindowSize = QSize();
}

void TVideoCap::RefreshStatus(bool notify) {
    if (Device) {
        TCapStatus& status = Status ? *Status : Status.emplace();
        const TCaptureFormat format = Device->Format();
        status.uiImageWidth = std::uint32_t(format.Width);
        status.uiImageHeight = std::uint32_t(format.Height);
        status.fLiveWindow = PreviewOn;
        status.fOverlayWindow = OverlayOn;
        status.fScale = ScaleToWindow;
        status.dwCurrentVideoFrame = FramesGrabbed;
    }
    if (notify && OnStatus)
        OnStatus(this);
}

void TVideoCap::SizeCaptureWindow() {
    if (!Device)
        return;
    const int imageWidth = ImageWidth();
    const int imageHeight = ImageHeight();
    if (!ScaleToWindow) {
        WindowSize = QSize(imageWidth, imageHeight);
    } else if (ScaleProportional && imageWidth > 0 && imageHeight > 0 && Height() > 0) {
        const float aspect = float(imageWidth) / float(imageHeight);
        if (float(Width()) / float(Height()) > aspect)
            WindowSize = QSize(int(std::lround(aspect * float(Height()))), Height());
        else
            WindowSize = QSize(Width(), int(std::lround(float(Width()) / aspect)));
    } else {
        WindowSize = ComponentSize;
    }
}

void TVideoCap::ReportError(const QString& text) {
    if (OnError)
        OnError(this, CapErrorDevice, text);
}

bool TVideoCap::VideoOverlay() const {
    return Device && Status && Status->fOverlayWindow;
}

void TVideoCap::SetVideoOverlay(bool value) {
    if (value == VideoOverlay())
        return;
    if (!HasVideoOverlay())
        throw ENoOverlayException(NoOverlayMessage);
    if (value) {
        Connect();
        GrabFrame();
    }
    OverlayOn = value;
    RefreshStatus(true);
}

bool TVideoCap::VideoPreview() const {
    return Device && Status && Status->fLiveWindow;
}

// Preview hands frames to OnFrameCallback at the preview rate; nothing is displayed.
void TVideoCap::SetVideoPreview(bool value) {
    if (value == VideoPreview())
        return;
    if (value)
        Connect();
    PreviewOn = value;
    if (value)
        PreviewTimer.start(PreviewIntervalMs());
    else
        PreviewTimer.stop();
    RefreshStatus(true);
}

void TVideoCap::SetPreviewScaleToWindow(bool value) {
    if (value == ScaleToWindow)
        return;
    ScaleToWindow = value;
    if (Device) {
        RefreshStatus(false);
        SizeCaptureWindow();
    }
}

void TVideoCap::SetPreviewScaleProportional(bool value) {
    if (value == ScaleProportional)
        return;
    ScaleProportional = value;
    SizeCaptureWindow();
}

void TVideoCap::SetPreviewRate(std::uint16_t value) {
    if (value == Rate)
        return;
    Rate = std::clamp<std::uint16_t>(value, 1, MaxPreviewRate);
    if (Device && PreviewOn)
        PreviewTimer.setInterval(PreviewIntervalMs());
}

int TVideoCap::PreviewIntervalMs() const {
    return int(std::lround(1000.0 / Rate));
}

void TVideoCap::SetMicroSecPerFrame(std::uint32_t value) {
    FramePeriod = std::max(value, MinMicroSecPerFrame);
}

std::uint16_t TVideoCap::FrameRate() const {
    if (FramePeriod == 0)
        return 0;
    // A period set through a high frame rate can exceed what 16 bits hold.
    return std::uint16_t(std::min<long>(std::lround(1000000.0 / FramePeriod), 65535));
}

void TVideoCap::SetFrameRate(std::uint16_t value) {
    if (value != 0)
        FramePeriod = std::uint32_t(std::lround(1000000.0 / value));
}

void TVideoCap::SetCapIndexSize(std::uint32_t value) {
    IndexSize = value == 0 ? 0 : std::clamp(value, MinCapIndexSize, MaxCapIndexSize);
}

void TVideoCap::SetBufferFileSize(std::uint16_t value) {
    BufferMegabytes = value;
    if (Device)
        SetupBufferFile(value);
}

void TVideoCap::SetupBufferFile(std::uint16_t megabytes) {
    if (megabytes == 0) {
        ReleaseBufferFile();
        return;
    }
    if (TempFileName.isEmpty()) {
        const QString directory = QDir::tempPath(); // empty when TMPDIR names no directory
        if (directory.isEmpty())
            throw EBufferFileError(BufferFileMessage);
        QTemporaryFile file(directory + QStringLiteral("/capXXXXXX"));
        file.setAutoRemove(false);
        if (!file.open())
            throw EBufferFileError(BufferFileMessage);
        TempFileName = file.fileName();
    }
    if (!Preallocate(TempFileName, megabytes * Megabyte)) {
        ReleaseBufferFile();
        throw EBufferFileError(BufferFileMessage);
    }
}

void TVideoCap::ReleaseBufferFile() noexcept {
    if (TempFileName.isEmpty())
        return;
    QFile::remove(TempFileName); // housekeeping: a file that will not go is left behind
    TempFileName.clear();
}

bool TVideoCap::GrabFrame() {
    if (!Device)
        return false;
    if (Connecting())
        return true;
    if (!Device->GrabFrame(FrameBuffer)) {
        ReportError(Device->ErrorText());
        return false;
    }
    ++FramesGrabbed;
    VIDEOHDR header;
    header.lpData = FrameBuffer.data();
    header.dwBufferLength = std::uint32_t(FrameBuffer.size());
    header.dwBytesUsed = std::uint32_t(FrameBuffer.size());
    header.dwTimeCaptured = std::uint32_t(ConnectedClock.elapsed());
    header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    if (OnFrameCallback)
        OnFrameCallback(this, &header);
    RefreshStatus(true);
    return true;
}

void TVideoCap::GetBitmapInfo(BITMAPINFO& info) {
    info = BITMAPINFO{};
    if (!Device)
        throw ENotOpen(NotOpenMessage);
    const TCaptureFormat format = Device->Format();
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = format.Width;
    header.biHeight = format.Height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = std::uint32_t(format.FrameBytes());
}

void TVideoCap::GetBitmapInfoHeader(BITMAPINFOHEADER& header) {
    BITMAPINFO info;
    try {
        GetBitmapInfo(info);
    } catch (const ENotOpen&) {
        header = BITMAPINFOHEADER{};
        throw;
    }
    header = info.bmiHeader;
}

std::uint16_t TVideoCap::ImageWidth() const {
    return Status ? std::uint16_t(std::min<std::uint32_t>(Status->uiImageWidth, 65535)) : 0;
}

std::uint16_t TVideoCap::ImageHeight() const {
    return Status ? std::uint16_t(std::min<std::uint32_t>(Status->uiImageHeight, 65535)) : 0;
}

bool TVideoCap::LoadDriverCaps() {
    if (DriverCaps)
        return true;
    if (Index == -1)
        return false;
    if (std::optional<TCaptureCaps> known = KnownDriverCaps(Index)) {
        DriverCaps = *known;
        return true;
    }
    TTemporaryConnection connection(*this);
    if (!Device)
        return false;
    DriverCaps = Device->Caps();
    return true;
}

bool TVideoCap::HasVideoOverlay() {
    return LoadDriverCaps() && DriverCaps->HasOverlay;
}
bool TVideoCap::HasDlgVideoSource() {
    return LoadDriverCaps() && DriverCaps->HasDlgVideoSource;
}
bool TVideoCap::HasDlgVideoFormat() {
    return LoadDriverCaps() && DriverCaps->HasDlgVideoFormat;
}
bool TVideoCap::HasDlgVideoDisplay() {
    return LoadDriverCaps() && DriverCaps->HasDlgVideoDisplay;
}

bool TVideoCap::DlgVideoFormat() {
    return ShowDialog(TDialogKind::Format);
}
bool TVideoCap::DlgVideoSource() {
    return ShowDialog(TDialogKind::Source);
}
bool TVideoCap::DlgVideoDisplay() {
    return ShowDialog(TDialogKind::Display);
}

bool TVideoCap::ShowDialog(TDialogKind kind) {
    if (Index == -1)
        return false;
    if (const std::optional<TCaptureCaps> known = KnownDriverCaps(Index))
        if (!HasDialog(*known, kind == TDialogKind::Format, kind == TDialogKind::Source))
            return false;
    const QPointer<TVideoCap> self(this);
    bool confirmed = false;
    {
        TTemporaryConnection connection(*this);
        TCaptureDialogs* dialogs = CaptureDialogs();
        if (!Device || !dialogs)
            return false;
        // The dialog's event loop may stop the camera or end this component
        // (tray exit, end of session): the dialog keeps its device alive, and
        // afterwards the camera is looked up again.
        const std::shared_ptr<TCaptureDevice> device = Device;
        const TCaptureCaps caps = device->Caps();
        switch (kind) {
        case TDialogKind::Format:
            confirmed = caps.HasDlgVideoFormat && dialogs->FormatDialog(*device);
            break;
        case TDialogKind::Source:
            confirmed = caps.HasDlgVideoSource && dialogs->SourceDialog(*device);
            break;
        case TDialogKind::Display:
            confirmed = caps.HasDlgVideoDisplay && dialogs->DisplayDialog(*device);
            break;
        }
        if (self == nullptr || Device != device)
            return false;
        if (confirmed) {
            StoreCaptureSettings(*Device, Name);
            RefreshStatus(true);
        }
    }
    if (confirmed)
        SizeCaptureWindow();
    return confirmed;
}
