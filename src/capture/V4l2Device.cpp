#include "V4l2Device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>

static_assert(CapturePixelFormatBGR24 == V4L2_PIX_FMT_BGR24);

namespace {

// Sizes offered within a continuous or stepwise range.
constexpr QSize CommonSizes[] = {{160, 120},  {320, 240},   {352, 288},  {640, 360},
                                 {640, 480},  {800, 600},   {1024, 768}, {1280, 720},
                                 {1280, 960}, {1600, 1200}, {1920, 1080}};

// A bound against drivers that never end an enumeration.
constexpr std::uint32_t MaxEnumeration = 256;

QString FourCC(std::uint32_t code) {
    QString text;
    for (int shift = 0; shift < 32; shift += 8)
        text += QChar(char((code >> shift) & 0xff));
    return text.trimmed();
}

bool DeviceIsGone(int error) {
    return error == ENODEV || error == EIO || error == ENXIO;
}

void AddRange(QList<QSize>& sizes, const v4l2_frmsize_stepwise& range) {
    sizes << QSize(int(range.min_width), int(range.min_height))
          << QSize(int(range.max_width), int(range.max_height));
    const std::uint32_t stepW = std::max<std::uint32_t>(range.step_width, 1);
    const std::uint32_t stepH = std::max<std::uint32_t>(range.step_height, 1);
    for (const QSize& size : CommonSizes) {
        const auto w = std::uint32_t(size.width());
        const auto h = std::uint32_t(size.height());
        if (w >= range.min_width && w <= range.max_width && h >= range.min_height &&
            h <= range.max_height && (w - range.min_width) % stepW == 0 &&
            (h - range.min_height) % stepH == 0)
            sizes << size;
    }
}

} // namespace

TV4l2Device::TV4l2Device(std::shared_ptr<TV4l2DeviceCalls> calls, QString path,
                         std::shared_ptr<QSize> chosenSize, int maxFrameWaitMs)
    : Calls(std::move(calls)), Path(std::move(path)), ChosenSize(std::move(chosenSize)),
      MaxFrameWaitMs(maxFrameWaitMs) {}

TV4l2Device::~TV4l2Device() {
    Close();
}

bool TV4l2Device::Fail(const QString& text) {
    LastError = text;
    return false;
}

bool TV4l2Device::FailErrno(const QString& what) {
    const int error = errno;
    if (DeviceIsGone(error))
        Lost = true;
    return Fail(
        QStringLiteral("%1: %2 (%3)").arg(what, QString::fromLocal8Bit(strerror(error)), Path));
}

int TV4l2Device::Xioctl(unsigned long request, void* arg) {
    int result;
    do
        result = Calls->Ioctl(Fd.Get(), request, arg);
    while (result < 0 && errno == EINTR);
    return result;
}

bool TV4l2Device::Open() {
    if (IsOpen())
        return true;
    Lost = false;
    Fd = TV4l2Fd(Calls, Calls->Open(Path, O_RDWR | O_NONBLOCK));
    if (!Fd.IsValid())
        return FailErrno(QStringLiteral("Cannot open the device"));
    v4l2_capability capability{};
    if (Xioctl(VIDIOC_QUERYCAP, &capability) < 0) {
        FailErrno(QStringLiteral("Cannot query the device"));
        Fd.Reset();
        return false;
    }
    const QSize wanted = ChosenSize->isEmpty() ? CurrentDeviceSize() : *ChosenSize;
    if (!ApplyFormat(wanted)) {
        Fd.Reset();
        return false;
    }
    return true;
}

void TV4l2Device::Close() {
    StopStreaming();
    Fd.Reset();
    CurrentFormat = {};
    BytesPerLine = 0;
}

QSize TV4l2Device::CurrentDeviceSize() {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(VIDIOC_G_FMT, &format) < 0 || format.fmt.pix.width == 0)
        return {640, 480};
    return {int(format.fmt.pix.width), int(format.fmt.pix.height)};
}

bool TV4l2Device::ApplyFormat(QSize size) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = std::uint32_t(size.width());
    format.fmt.pix.height = std::uint32_t(size.height());
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(VIDIOC_S_FMT, &format) < 0)
        return FailErrno(QStringLiteral("Cannot set the video format"));
    const v4l2_pix_format& pix = format.fmt.pix;
    if (pix.pixelformat != V4L2_PIX_FMT_BGR24)
        return Fail(QStringLiteral("The device cannot deliver BGR24 pictures (%1)").arg(Path));
    if (pix.width == 0 || pix.height == 0 || pix.width > 16384 || pix.height > 16384)
        return Fail(QStringLiteral("The device reported an invalid picture size (%1)").arg(Path));
    CurrentFormat = {int(pix.width), int(pix.height), V4L2_PIX_FMT_BGR24};
    BytesPerLine = std::max(int(pix.bytesperline), CurrentFormat.Width * 3);
    return true;
}

bool TV4l2Device::SetFormat(const TCaptureFormat& format) {
    if (format.PixelFormat != CapturePixelFormatBGR24 || format.Width <= 0 || format.Height <= 0)
        return Fail(QStringLiteral("Only BGR24 pictures of a positive size can be delivered"));
    if (!IsOpen()) {
        *ChosenSize = QSize(format.Width, format.Height);
        return true;
    }
    const bool wasStreaming = Streaming;
    StopStreaming();
    if (!ApplyFormat(QSize(format.Width, format.Height)))
        return false;
    *ChosenSize = QSize(CurrentFormat.Width, CurrentFormat.Height);
    return !wasStreaming || StartStreaming();
}

QList<std::uint32_t> TV4l2Device::PixelFormatCodes(bool includeEmulated,
                                                   QStringList* descriptions) {
    QList<std::uint32_t> codes;
    for (std::uint32_t i = 0; i < MaxEnumeration; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Xioctl(VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        if (!includeEmulated && (desc.flags & V4L2_FMT_FLAG_EMULATED) != 0)
            continue;
        codes << desc.pixelformat;
        if (descriptions) {
            const char* text = reinterpret_cast<const char*>(desc.description);
            *descriptions << QStringLiteral("%1 (%2)").arg(
                QString::fromUtf8(text, qsizetype(strnlen(text, sizeof desc.description))),
                FourCC(desc.pixelformat));
        }
    }
    return codes;
}

QList<QSize> TV4l2Device::FrameSizes() {
    QList<QSize> sizes;
    if (!IsOpen())
        return sizes;
    for (std::uint32_t code : PixelFormatCodes(true, nullptr)) {
        for (std::uint32_t i = 0; i < MaxEnumeration; ++i) {
            v4l2_frmsizeenum size{};
            size.index = i;
            size.pixel_format = code;
            if (Xioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0)
                break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes << QSize(int(size.discrete.width), int(size.discrete.height));
            } else {
                AddRange(sizes, size.stepwise);
                break;
            }
        }
    }
    if (sizes.isEmpty() && CurrentFormat.Width > 0)
        sizes << QSize(CurrentFormat.Width, CurrentFormat.Height);
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        return a.width() != b.width() ? a.width() < b.width() : a.height() < b.height();
    });
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

QStringList TV4l2Device::PixelFormats() {
    QStringList descriptions;
    if (IsOpen())
        PixelFormatCodes(false, &descriptions);
    return descriptions;
}

QList<TCaptureControl> TV4l2Device::Controls() {
    QList<TCaptureControl> controls;
    if (!IsOpen())
        return controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (std::uint32_t n = 0; n < MaxEnumeration && Xioctl(VIDIOC_QUERYCTRL, &query) == 0; ++n) {
        const bool usable =
            (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) == 0;
        const bool integer = query.type == V4L2_CTRL_TYPE_INTEGER;
        if (usable && (integer || query.type == V4L2_CTRL_TYPE_BOOLEAN)) {
            TCaptureControl control;
            control.Id = query.id;
            const char* name = reinterpret_cast<const char*>(query.name);
            control.Name = QString::fromUtf8(name, qsizetype(strnlen(name, sizeof query.name)));
            control.Kind = integer ? TCaptureControlKind::Integer : TCaptureControlKind::Boolean;
            control.Minimum = query.minimum;
            control.Maximum = query.maximum;
            control.Step = std::max(query.step, 1);
            control.Default = query.default_value;
            v4l2_control value{query.id, 0};
            control.Value = Xioctl(VIDIOC_G_CTRL, &value) == 0 ? value.value : query.default_value;
            controls << control;
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

bool TV4l2Device::SetControl(std::uint32_t id, int value) {
    if (!IsOpen())
        return Fail(QStringLiteral("The device is not open"));
    v4l2_control control{id, value};
    if (Xioctl(VIDIOC_S_CTRL, &control) < 0)
        return FailErrno(QStringLiteral("Cannot set a control"));
    return true;
}

bool TV4l2Device::StartStreaming() {
    if (Streaming)
        return true;
    if (!IsOpen())
        return Fail(QStringLiteral("The device is not open"));
    if (!MapBuffers()) {
        ReleaseBuffers();
        return false;
    }
    for (std::size_t i = 0; i < Buffers.size(); ++i)
        if (!Queue(std::uint32_t(i))) {
            ReleaseBuffers();
            return false;
        }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(VIDIOC_STREAMON, &type) < 0) {
        FailErrno(QStringLiteral("Cannot start streaming"));
        ReleaseBuffers();
        return false;
    }
    FreshFrameWaitMs = std::clamp(FrameIntervalMs(), 1, std::max(MaxFrameWaitMs, 1));
    Streaming = true;
    return true;
}

int TV4l2Device::FrameIntervalMs() {
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(VIDIOC_G_PARM, &parameters) < 0)
        return UnknownFrameIntervalMs;
    const v4l2_fract& interval = parameters.parm.capture.timeperframe;
    if (interval.numerator == 0 || interval.denominator == 0)
        return UnknownFrameIntervalMs;
    // Rounded up, so a wait of one interval sees the next frame.
    return int((std::uint64_t(interval.numerator) * 1000 + interval.denominator - 1) /
               interval.denominator);
}

bool TV4l2Device::MapBuffers() {
    v4l2_requestbuffers request{};
    request.count = BufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(VIDIOC_REQBUFS, &request) < 0)
        return FailErrno(QStringLiteral("Cannot allocate streaming buffers"));
    BuffersRequested = true;
    if (request.count == 0)
        return Fail(QStringLiteral("The device gave no streaming buffers (%1)").arg(Path));
    const std::size_t needed =
        std::size_t(BytesPerLine) * std::size_t(CurrentFormat.Height - 1) + CurrentFormat.Width * 3;
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(VIDIOC_QUERYBUF, &buffer) < 0)
            return FailErrno(QStringLiteral("Cannot query a streaming buffer"));
        if (buffer.length < needed)
            return Fail(QStringLiteral("The streaming buffers are too small (%1)").arg(Path));
        void* start = Calls->Mmap(Fd.Get(), buffer.length, off_t(buffer.m.offset));
        if (start == MAP_FAILED)
            return FailErrno(QStringLiteral("Cannot map a streaming buffer"));
        Buffers.push_back(std::make_unique<TV4l2Mapping>(Calls, start, buffer.length));
    }
    return true;
}

void TV4l2Device::ReleaseBuffers() {
    // Unmapped before the driver frees them, or it refuses with EBUSY.
    Buffers.clear();
    if (BuffersRequested && Fd.IsValid()) {
        v4l2_requestbuffers request{};
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        Xioctl(VIDIOC_REQBUFS, &request); // fails on an unplugged camera: nothing left to free
    }
    BuffersRequested = false;
}

void TV4l2Device::StopStreaming() {
    if (Streaming) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        Xioctl(VIDIOC_STREAMOFF, &type); // fails on an unplugged camera: it stopped anyway
        Streaming = false;
    }
    ReleaseBuffers();
}

bool TV4l2Device::Queue(std::uint32_t index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (Xioctl(VIDIOC_QBUF, &buffer) < 0)
        return FailErrno(QStringLiteral("Cannot queue a streaming buffer"));
    return true;
}

TV4l2Device::TWait TV4l2Device::WaitReadable(int timeoutMs) {
    short revents = 0;
    int result;
    do
        result = Calls->Poll(Fd.Get(), POLLIN, revents, timeoutMs);
    while (result < 0 && errno == EINTR);
    if (result < 0) {
        FailErrno(QStringLiteral("Cannot wait for a frame"));
        return TWait::Failed;
    }
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        Lost = true;
        Fail(QStringLiteral("The device stopped delivering frames (%1)").arg(Path));
        return TWait::Failed;
    }
    return result == 0 ? TWait::NotYet : TWait::Ready;
}

bool TV4l2Device::IsComplete(const v4l2_buffer& buffer) const {
    if ((buffer.flags & V4L2_BUF_FLAG_ERROR) != 0 || buffer.index >= Buffers.size())
        return false;
    const std::size_t needed =
        std::size_t(BytesPerLine) * std::size_t(CurrentFormat.Height - 1) + CurrentFormat.Width * 3;
    // Some drivers leave bytesused at 0 for fixed-size formats.
    return buffer.bytesused == 0 || buffer.bytesused >= needed;
}

TV4l2Device::TDrain TV4l2Device::Drain(v4l2_buffer& newest, int& dequeued) {
    bool have = false;
    for (;;) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(VIDIOC_DQBUF, &buffer) < 0) {
            if (errno == EAGAIN)
                return have ? TDrain::Frame : TDrain::Empty;
            FailErrno(QStringLiteral("Cannot take a frame"));
            return TDrain::Failed;
        }
        ++dequeued;
        if (!IsComplete(buffer)) {
            if (buffer.index < Buffers.size() && !Queue(buffer.index))
                return TDrain::Failed;
            continue;
        }
        if (have && !Queue(newest.index))
            return TDrain::Failed;
        newest = buffer;
        have = true;
    }
}

void TV4l2Device::CopyFrame(const v4l2_buffer& buffer, std::vector<std::uint8_t>& frame) const {
    const std::size_t row = std::size_t(CurrentFormat.Width) * 3;
    frame.resize(row * std::size_t(CurrentFormat.Height));
    const unsigned char* source = Buffers[buffer.index]->Data();
    for (int y = 0; y < CurrentFormat.Height; ++y)
        std::memcpy(frame.data() + row * std::size_t(y), source + std::size_t(BytesPerLine) * y,
                    row);
}

bool TV4l2Device::GrabFrame(std::vector<std::uint8_t>& frame) {
    frame.clear(); // no new frame unless one is ready
    if (!IsOpen())
        return Fail(QStringLiteral("The device is not open"));
    if (Lost)
        return false;
    if (!StartStreaming())
        return false;
    // Whatever the driver has filled by now, without waiting for more.
    TWait wait = WaitReadable(0);
    if (wait != TWait::Ready)
        return wait == TWait::NotYet;
    v4l2_buffer newest{};
    int dequeued = 0;
    TDrain drained = Drain(newest, dequeued);
    if (drained != TDrain::Frame)
        return drained == TDrain::Empty;
    // With every buffer filled the driver had nowhere to put newer frames, so
    // the newest one may be long past: give it back and take the next one,
    // which comes within a frame interval of a working camera.
    if (dequeued >= int(Buffers.size())) {
        if (!Queue(newest.index))
            return false;
        wait = WaitReadable(FreshFrameWaitMs);
        if (wait != TWait::Ready)
            return wait == TWait::NotYet;
        drained = Drain(newest, dequeued);
        if (drained != TDrain::Frame)
            return drained == TDrain::Empty;
    }
    CopyFrame(newest, frame);
    return Queue(newest.index);
}

TCaptureCaps TV4l2Device::Caps() {
    TCaptureCaps caps;
    caps.HasDlgVideoFormat = IsOpen();
    caps.HasDlgVideoSource = !Controls().isEmpty();
    return caps;
}
