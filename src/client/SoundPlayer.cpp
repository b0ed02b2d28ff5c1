#include "SoundPlayer.h"

#include <QApplication>
#include <QSoundEffect>
#include <QUrl>

TQtSoundPlayer::TQtSoundPlayer() = default;
TQtSoundPlayer::~TQtSoundPlayer() = default;

void TQtSoundPlayer::Play(const QString& fileName) {
    if (Effect == nullptr)
        Effect = std::make_unique<QSoundEffect>();
    const QUrl source = QUrl::fromLocalFile(fileName);
    Effect->stop();
    // Loading is asynchronous; play() waits for it.
    if (Effect->source() != source)
        Effect->setSource(source);
    Effect->play();
}

void TQtSoundPlayer::Beep() {
    QApplication::beep();
}
