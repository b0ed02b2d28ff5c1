#include "LightSequence.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

constexpr double CloudDepth = 0.4;
constexpr int CloudFrames = 40;
constexpr double LampLevel = 0.7;
constexpr double FlickerDepth = 0.05;
constexpr double MainsHz = 50.0;
constexpr double JitterSeconds = 0.004;
constexpr double InfraredGain = 1.3;
constexpr std::array<double, 3> Clothes{215, 205, 190};

// A well-mixed 32-bit hash: the same arguments, the same value.
std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// Half a cosine from 0 to 1 over Frames frames.
double Ease(int k, int frames) {
    return (1 - std::cos(std::numbers::pi * std::clamp(k, 0, frames) / frames)) / 2;
}

} // namespace

TLightSequence::TLightSequence(TLight light, bool walk, QSize size)
    : FLight(light), FWalk(walk), FSize(size) {
    switch (light) {
    case TLight::Cloud:
        FFrames = 100;
        FWalkStart = 50; // as the light comes back, brightening everything
        break;
    case TLight::Lamp:
        FFrames = 80;
        FWalkStart = 50; // in the very frame the lamp comes back
        break;
    case TLight::Flicker:
        FFrames = 60;
        FWalkStart = 30;
        break;
    case TLight::Infrared:
        FFrames = 50;
        FWalkStart = 20; // in the very frame the camera switches
        break;
    }
    const int width = size.width();
    Room.resize(std::size_t(width) * std::size_t(size.height()) * 3);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                Room[(std::size_t(y) * width + x) * 3 + c] = static_cast<float>(
                    55 + 45 * (1 + std::sin(0.23 * x * (1 + 0.3 * c) + 0.17 * y + 2.1 * c)) +
                    12 * ((x / 20 + (y / 15) * (c + 1)) % 4));
}

const char* TLightSequence::Name(TLight light) {
    switch (light) {
    case TLight::Cloud:
        return "cloud";
    case TLight::Lamp:
        return "lamp";
    case TLight::Flicker:
        return "flicker";
    case TLight::Infrared:
        return "infrared";
    }
    return "";
}

int TLightSequence::WalkEnd() const {
    if (!FWalk)
        return -1;
    const int speed = FSize.width() / 20;
    const int personWidth = FSize.width() / 8;
    return FWalkStart + (FSize.width() + personWidth + speed - 1) / speed;
}

int TLightSequence::PersonLeft(int k) const {
    return (k - FWalkStart + 1) * (FSize.width() / 20) - FSize.width() / 8;
}

bool TLightSequence::Grey(int k) const {
    return FLight == TLight::Infrared && k >= FWalkStart;
}

double TLightSequence::Light(int k) const {
    switch (FLight) {
    case TLight::Cloud:
        return k < 50 ? 1 - CloudDepth * Ease(k - 10, CloudFrames)
                      : 1 - CloudDepth + CloudDepth * Ease(k - 50, CloudFrames);
    case TLight::Lamp:
        return k >= 20 && k < 50 ? LampLevel : 1.0;
    case TLight::Flicker: {
        const double jitter = (Hash(std::uint32_t(k), 7, 11) % 1001 / 500.0 - 1) * JitterSeconds;
        const double t = double(k) / FramesPerSecond + jitter;
        return 1 + FlickerDepth * std::sin(2 * std::numbers::pi * MainsHz * t);
    }
    case TLight::Infrared:
        return Grey(k) ? InfraredGain : 1.0;
    }
    return 1.0;
}

QImage TLightSequence::Frame(int k) const {
    const int width = FSize.width();
    const int height = FSize.height();
    QImage image(FSize, QImage::Format_BGR888);
    const double light = Light(k);
    const bool grey = Grey(k);
    const int left = PersonLeft(k);
    const int personWidth = width / 8;
    const int top = height * 3 / 10;
    const int bottom = top + height * 6 / 10;
    const bool walking = FWalk && k >= FWalkStart;
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const bool person =
                walking && y >= top && y < bottom && x >= left && x < left + personWidth;
            std::array<double, 3> rgb;
            for (int c = 0; c < 3; ++c)
                rgb[c] = person ? Clothes[c] + 10 * std::sin(0.4 * y + c)
                                : Room[(std::size_t(y) * width + x) * 3 + c];
            if (grey)
                rgb.fill(0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]);
            // Sensor noise of ±2.
            const double noise =
                double(Hash(std::uint32_t(x), std::uint32_t(y), std::uint32_t(k)) % 5) - 2;
            for (int c = 0; c < 3; ++c)
                row[3 * x + 2 - c] =
                    static_cast<uchar>(std::clamp(std::lround(rgb[c] * light + noise), 0L, 255L));
        }
    }
    return image;
}
