#include "SoundPlayer.h"

#include <QApplication>
#include <QSoundEffect>
#include <QUrl>

TQtSoundPlayer::TQtSoundPlayer() = default;
TQtSoundPlayer::~TQtSoundPlayer() = default;

void TQtSoundPlayer::Play(const QString& fileName) {
    if (Effect == nullptr) {
        Effect = std::make_unique<QSoundEffect>();
        // A file that is no playable wave still gets the user's attention.
        QObject::connect(Effect.get(), &QSoundEffect::statusChanged, Effect.get(), [this] {
            if (Effect->status() == QSoundEffect::Error)
                Beep();
        });
    }
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
