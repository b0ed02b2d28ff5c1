#pragma once

#include <QImage>
#include <QSize>
#include <vector>

// Synthetic camera pictures at 10 frames a second of a textured, colourful
// room whose light changes, optionally with a person in light clothes walking
// through from the left: what the light-change correction is measured and
// tried with. The same frame number always gives the same picture.
class TLightSequence {
public:
    enum class TLight {
        // Down to 60 % over 4 s and back over 4 s.
        Cloud,
        // A lamp drops to 70 % at once and comes back at once.
        Lamp,
        // ±5 % at 50 Hz, sampled with the jitter of a real camera's clock.
        Flicker,
        // Colour turns grey with a gain step, as a camera switching to
        // infrared.
        Infrared,
    };
    static constexpr int FramesPerSecond = 10;

    TLightSequence(TLight light, bool walk, QSize size = {320, 240});

    static const char* Name(TLight light);
    int Frames() const { return FFrames; }
    // The first frame that shows the person, and the first one after it has
    // left; -1 without a walk.
    int WalkStart() const { return FWalk ? FWalkStart : -1; }
    int WalkEnd() const;
    // The light of frame K relative to the start.
    double Light(int k) const;
    // Frame K as a 24-bit picture (QImage::Format_BGR888).
    QImage Frame(int k) const;

private:
    bool Grey(int k) const;
    // The person's left edge in frame K (it may stand left of the picture).
    int PersonLeft(int k) const;

    TLight FLight;
    bool FWalk;
    QSize FSize;
    int FFrames = 0;
    int FWalkStart = 0;
    // Red, green, blue per pixel, row by row.
    std::vector<float> Room;
};
