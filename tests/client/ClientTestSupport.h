#pragma once

#include "FTarvikClient.h"
#include "ScriptedDialogs.h"
#include "SoundPlayer.h"
#include "TempProgramDir.h"

#include <QByteArray>
#include <QImage>
#include <QLocale>
#include <QStringList>
#include <memory>

// What the client played, as "play:<file>" or "beep".
class RecordingSoundPlayer final : public TSoundPlayer {
public:
    explicit RecordingSoundPlayer(QStringList& played) : Played(played) {}
    void Play(const QString& fileName) override {
        Played.append(QStringLiteral("play:") + fileName);
    }
    void Beep() override { Played.append(QStringLiteral("beep")); }

private:
    QStringList& Played;
};

// A datagram as Tarvik sends it: one TStmJPG of Source.
QByteArray PictureDatagram(const QString& source, const QByteArray& jpeg, double time = 46000.5);
// The JPEG data of a Width x Height picture whose colour follows Shade.
QByteArray TestJpeg(int width, int height, int shade);
// A UDP port that nothing on this machine listens on right now.
int FreeUdpPort();

// The client's window in a fresh program folder, with scripted dialogs, a
// recording sound player and a port of its own, so suites can run side by side.
class ClientFormTest : public TempProgramDir {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window; Show runs its first show.
    TTarvikClientForm& CreateForm(bool show = true);
    // Hands one datagram to the receive handler.
    void Receive(const QString& source, const QByteArray& jpeg, double time = 46000.5);
    void ReceiveBytes(const QByteArray& datagram);
    // Renders the picture area as the screen would, through its paint handler.
    QImage Paint();
    TSetupFrame& Frame();
    QStringList CameraNames() const;

    ScriptedDialogs Dialogs;
    QStringList Played;
    std::unique_ptr<TTarvikClientForm> Form;
    int Port = 0;
    QLocale SavedLocale;
};
