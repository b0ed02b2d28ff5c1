#pragma once

#include "CaptureBackend.h"

#include <QRect>
#include <array>
#include <memory>
#include <vector>

// A synthetic camera for trying the system without one: a textured room, a
// little sensor noise and a visitor in light clothes who walks across, stands
// a while, walks back and comes again, every ReturnFrames frames (about half
// a minute at the camera page's default pace). The visitor is large and bright
// enough to count as motion under the default detector settings. Time is the
// frame count, so the same frame number always gives the same picture.
class TDemoCamera final : public TCaptureDevice {
public:
    // What a demo camera keeps between connections (the back end holds it).
    struct TSettings {
        QSize Size{640, 480};
        int Brightness = 0;
        int Contrast = 100;
    };

    static constexpr int NominalFrameRate = 15;
    // The visitor walks for this many frames (over 1 s at the nominal rate,
    // longer at the camera page's pace).
    static constexpr int MoveFrames = 18;
    // At this frame of each visit the visitor walks back to the left edge.
    static constexpr int LeaveFrame = 150;
    // A visit starts every this many frames: with the page's 100 ms between
    // frames and its processing, about 30 s.
    static constexpr int ReturnFrames = 300;
    // Noise of each colour value lies within ± this.
    static constexpr int NoiseAmplitude = 3;

    // Number (from 1) tells cameras apart: it seeds the noise and tints the room.
    TDemoCamera(int number, std::shared_ptr<TSettings> settings);

    static QList<QSize> Sizes();

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return Opened; }

    TCaptureFormat Format() const override;
    bool SetFormat(const TCaptureFormat& format) override;
    QList<QSize> FrameSizes() override { return Sizes(); }
    QStringList PixelFormats() override;

    QList<TCaptureControl> Controls() override;
    bool SetControl(std::uint32_t id, int value) override;

    bool StartStreaming() override;
    void StopStreaming() override;
    bool IsStreaming() const override { return Streaming; }
    bool GrabFrame(std::vector<std::uint8_t>& frame) override;

    TCaptureCaps Caps() override;
    QString ErrorText() const override { return LastError; }

    // The picture the camera shows at FrameNumber (counted from the start of streaming).
    void Render(int frameNumber, std::vector<std::uint8_t>& frame);
    // Where the visitor stands at FrameNumber.
    QRect VisitorRect(int frameNumber) const;

private:
    void BuildBackground();
    void BuildTable();
    void DrawVisitor(int frameNumber, std::vector<std::uint8_t>& frame) const;
    void BuildNoise();
    void AddNoise(int frameNumber, std::vector<std::uint8_t>& frame) const;

    int Number;
    std::shared_ptr<TSettings> Settings;
    bool Opened = false;
    bool Streaming = false;
    int NextFrame = 0;
    QSize BackgroundSize;
    std::vector<std::uint8_t> Background;
    // Brightness and contrast for every colour value; skipped while it changes nothing.
    std::array<std::uint8_t, 256> Table{};
    bool TableIsIdentity = true;
    // Sensor noise drawn once: what each byte gains and loses (one of them is
    // zero). A frame reads it in slices whose start its number picks.
    std::vector<std::uint8_t> NoiseUp;
    std::vector<std::uint8_t> NoiseDown;
    QString LastError;
};
