#pragma once

#include "CaptureBackend.h"

#include <QImage>
#include <QStringList>
#include <cstring>
#include <memory>

// A camera for page tests that delivers whatever picture the test put into
// its script, and can be told to fail.
struct TTestCameraScript {
    QImage Picture = Grey(QSize(100, 100), 100);
    bool OpenFails = false;
    bool GrabFails = false;
    // Grabs succeed but bring nothing new, as a stream that hangs.
    bool NoNewFrames = false;
    QStringList Log;

    static QImage Grey(QSize size, int value) {
        QImage picture(size, QImage::Format_BGR888);
        picture.fill(QColor(value, value, value));
        return picture;
    }
};

class TTestCamera final : public TCaptureDevice {
public:
    explicit TTestCamera(std::shared_ptr<TTestCameraScript> script) : S(std::move(script)) {}

    bool Open() override {
        S->Log << QStringLiteral("open");
        Opened = !S->OpenFails;
        return Opened;
    }
    void Close() override {
        if (Opened)
            S->Log << QStringLiteral("close");
        Opened = false;
    }
    bool IsOpen() const override { return Opened; }
    TCaptureFormat Format() const override {
        return Opened ? TCaptureFormat{S->Picture.width(), S->Picture.height()} : TCaptureFormat{};
    }
    bool SetFormat(const TCaptureFormat&) override { return false; }
    QList<QSize> FrameSizes() override { return {S->Picture.size()}; }
    QStringList PixelFormats() override { return {}; }
    QList<TCaptureControl> Controls() override { return {}; }
    bool SetControl(std::uint32_t, int) override { return false; }
    bool StartStreaming() override { return Opened; }
    void StopStreaming() override {}
    bool IsStreaming() const override { return Opened; }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override {
        S->Log << QStringLiteral("grab");
        if (S->GrabFails)
            return false;
        if (S->NoNewFrames) {
            frame.clear();
            return true;
        }
        const QImage& picture = S->Picture;
        const std::size_t row = std::size_t(picture.width()) * 3;
        frame.resize(row * std::size_t(picture.height()));
        for (int y = 0; y < picture.height(); ++y)
            std::memcpy(frame.data() + row * std::size_t(y), picture.constScanLine(y), row);
        return true;
    }
    TCaptureCaps Caps() override { return {}; }
    QString ErrorText() const override { return QStringLiteral("test camera failure"); }

private:
    std::shared_ptr<TTestCameraScript> S;
    bool Opened = false;
};

class TTestCameraBackend final : public TCaptureBackend {
public:
    explicit TTestCameraBackend(std::shared_ptr<TTestCameraScript> script) : S(std::move(script)) {}
    int DeviceCount() override { return 1; }
    QString Description(int index) override {
        return index == 0 ? QStringLiteral("Test camera") : QString();
    }
    QString Version(int) override { return QStringLiteral("1"); }
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override {
        return index == 0 ? std::make_unique<TTestCamera>(S) : nullptr;
    }

private:
    std::shared_ptr<TTestCameraScript> S;
};
