#pragma once

#include "kaComponent.h"

#include <QWidget>

class QToolButton;
class TkaCheckBox;
class TkaEdit;
class TkaLabel;
class TkaPanel;
class TkaTrackbarFrame;

// The client's whole configuration: the port to listen on, how new pictures
// are announced, the size of the per-camera cache and the display options.
// Every control keeps its value itself; the main window reads them when it
// needs them.
class TSetupFrame : public QWidget, public TkaLoadable {
    Q_OBJECT
public:
    static constexpr int DefaultWaitPopup = 10; // s
    static constexpr int DefaultCacheSize = 10;
    static inline const char* const DefaultPort = "4032";
    static inline const char* const SoundFilter = "Wave (*.wav);;All (*.*)";

    // Creates the folder "Sounds" of the read-only data when it is missing;
    // raises "Error creating Directory ..." when that fails.
    TSetupFrame(QObject* owner, QWidget* parent);

    void Loaded() override {}

    // Motion.wav in the folder Sounds of the read-only data.
    static QString DefaultSoundFile();

    void SceneDirSpeedButtonClick();

    TkaPanel* NotifykaPanel = nullptr;
    TkaCheckBox* PopupkaCheckBox = nullptr;
    TkaCheckBox* SoundkaCheckBox = nullptr;
    QToolButton* SceneDirSpeedButton = nullptr;
    TkaEdit* SoundkaEdit = nullptr;
    TkaTrackbarFrame* WaitPopupFrame = nullptr;
    TkaTrackbarFrame* CacheFrame = nullptr;
    TkaCheckBox* MinimizekaCheckBox = nullptr;
    TkaCheckBox* AutoSwitchCheckBox = nullptr;
    TkaCheckBox* StretchkaCheckBox = nullptr;
    TkaCheckBox* ShowToolbarCheckBox = nullptr;
    TkaLabel* UDPPortkaLabel = nullptr;
    TkaEdit* UDPPortkaEdit = nullptr;

private:
    TkaCheckBox* NewCheckBox(const char* name, const char* caption, bool checked, QWidget* parent);
    TkaTrackbarFrame* NewTrackbarFrame(const char* name, const char* caption, int max, int pageSize,
                                       int frequency, int position);
};
