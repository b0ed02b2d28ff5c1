#pragma once

#include <QString>
#include <memory>

class QSoundEffect;

// Plays the notification sound. Playing is asynchronous and a new sound cuts
// off one still playing. Tests install a player that records what was played.
class TSoundPlayer {
public:
    virtual ~TSoundPlayer() = default;
    virtual void Play(const QString& fileName) = 0;
    // The desktop's default beep.
    virtual void Beep() = 0;
};

// The player of the product, over Qt Multimedia.
class TQtSoundPlayer final : public TSoundPlayer {
public:
    TQtSoundPlayer();
    ~TQtSoundPlayer() override;

    void Play(const QString& fileName) override;
    void Beep() override;

private:
    // Created at the first sound, so a client that never plays needs no audio.
    std::unique_ptr<QSoundEffect> Effect;
};
