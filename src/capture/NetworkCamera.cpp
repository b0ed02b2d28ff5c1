#include "NetworkCamera.h"

#include "EkaError.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

// The JPEG ("J") formats are the plain ones at full range; swscale warns
// about the old names.
AVPixelFormat PlainFormat(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    default:
        return format;
    }
}

} // namespace

TNetworkCamera::TNetworkCamera(TNetworkCameraEntry camera, TNetworkTimings timings,
                               TNetworkSeams seams)
    : Camera(std::move(camera)), Timings(timings), Seams(std::move(seams)) {}

TNetworkCamera::~TNetworkCamera() {
    Close();
    sws_freeContext(Scaler);
}

QString TNetworkCamera::Named(const QString& text) const {
    return QStringLiteral("%1 (%2): %3")
        .arg(NetworkCameraDescription(Camera.Name), DisplayUrl(Camera.Url), text);
}

bool TNetworkCamera::Fail(const QString& text) {
    LastError = Named(text);
    return false;
}

bool TNetworkCamera::Open() {
    if (IsOpen())
        return true;
    Reader = std::make_unique<TNetworkStreamReader>(Camera.Url, Timings, Seams);
    return StartStreaming();
}

void TNetworkCamera::Close() {
    Reader.reset();
    Picture.reset();
    CurrentFormat = {};
    Starting = false;
}

bool TNetworkCamera::StartStreaming() {
    if (!Reader)
        return Fail(QStringLiteral("the camera is not connected"));
    if (Reader->IsRunning())
        return true;
    Reader->Start();
    Taken = 0;
    LossesReported = 0;
    Starting = true;
    StartedAt = std::chrono::steady_clock::now();
    return true;
}

bool TNetworkCamera::Connecting() {
    if (!Starting)
        return false;
    const TNetworkStreamReader::TReady ready = Reader->WaitReady(0);
    if (ready == TNetworkStreamReader::TReady::Picture ||
        ready == TNetworkStreamReader::TReady::Connected) {
        int width = 0;
        int height = 0;
        Reader->AnnouncedSize(width, height);
        CurrentFormat = {width, height, CapturePixelFormatBGR24};
        Starting = false;
        return false;
    }
    if (ready == TNetworkStreamReader::TReady::TimedOut &&
        std::chrono::steady_clock::now() - StartedAt <
            std::chrono::milliseconds(Timings.StartTimeoutMs))
        return true;
    const QString reason = Reader->LastError();
    Close();
    Fail(ready == TNetworkStreamReader::TReady::Failed && !reason.isEmpty()
             ? reason
             : QStringLiteral("no picture within %1 s")
                   .arg(Timings.StartTimeoutMs / 1000.0, 0, 'g', 3));
    return false;
}

void TNetworkCamera::StopStreaming() {
    if (Reader)
        Reader->Stop();
}

bool TNetworkCamera::SetFormat(const TCaptureFormat& format) {
    if (format.Width == CurrentFormat.Width && format.Height == CurrentFormat.Height &&
        format.PixelFormat == CapturePixelFormatBGR24)
        return true;
    return Fail(QStringLiteral("the picture size is chosen in the camera itself"));
}

QList<QSize> TNetworkCamera::FrameSizes() {
    if (CurrentFormat.Width <= 0)
        return {};
    return {QSize(CurrentFormat.Width, CurrentFormat.Height)};
}

bool TNetworkCamera::SetControl(std::uint32_t, int) {
    return Fail(QStringLiteral("the camera has no controls here"));
}

bool TNetworkCamera::GrabFrame(std::vector<std::uint8_t>& frame) {
    if (!IsOpen())
        return Fail(QStringLiteral("the camera is not connected"));
    if (!StartStreaming())
        return false;
    if (Connecting()) {
        frame.clear();
        return true;
    }
    if (!IsOpen())
        return false;
    // A loss is told even when the stream came back before this grab.
    const std::uint64_t losses = Reader->Losses();
    if (losses > LossesReported) {
        frame.clear();
        LossesReported = losses;
        LastError = Named(Reader->LastError() + QStringLiteral("; reconnecting"));
        throw EkaError(LastError);
    }
    if (!Reader->TakeNewest(Picture, Taken)) {
        frame.clear();
        return true;
    }
    if (Picture->width > MaxNetworkFrameSide || Picture->height > MaxNetworkFrameSide) {
        frame.clear();
        return Fail(TooLargeFrameText(Picture->width, Picture->height));
    }
    if (!Convert(*Picture, frame)) {
        frame.clear();
        return Fail(QStringLiteral("a picture in an unknown pixel format"));
    }
    return true;
}

bool TNetworkCamera::Convert(const AVFrame& picture, std::vector<std::uint8_t>& frame) {
    const int width = picture.width;
    const int height = picture.height;
    if (width <= 0 || height <= 0 || width > MaxNetworkFrameSide || height > MaxNetworkFrameSide)
        return false;
    bool fullRange = false;
    const AVPixelFormat source = PlainFormat(AVPixelFormat(picture.format), fullRange);
    fullRange = fullRange || picture.color_range == AVCOL_RANGE_JPEG;
    Scaler = sws_getCachedContext(Scaler, width, height, source, width, height, AV_PIX_FMT_BGR24,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (Scaler == nullptr)
        return false;
    const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(Scaler, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16,
                             1 << 16);
    frame.resize(std::size_t(width) * std::size_t(height) * 3);
    std::uint8_t* target[4] = {frame.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {width * 3, 0, 0, 0};
    if (sws_scale(Scaler, picture.data, picture.linesize, 0, height, target, targetStride) !=
        height)
        return false;
    CurrentFormat = {width, height, CapturePixelFormatBGR24};
    return true;
}
