#pragma once

#include "kaComponent.h"

#include <QWidget>
#include <functional>

class TkaLabel;
class TkaPanel;
class TkaTrackBar;

// A captioned track bar that shows its current value. Owners set kaLabel1's
// caption and the bar's range and position, and may replace OnTrackBarChange
// with a handler of their own that first calls TrackBarChange.
class TkaTrackbarFrame : public QWidget, public TkaLoadable {
    Q_OBJECT
public:
    explicit TkaTrackbarFrame(QWidget* parent = nullptr);
    ~TkaTrackbarFrame() override;

    void Loaded() override;
    // Shows the track bar's position in kaLabel2, once loading is over.
    void TrackBarChange(QObject* sender);

    // Runs on every change notification of TrackBar, with TrackBar as sender.
    std::function<void(QObject* sender)> OnTrackBarChange;

    TkaTrackBar* TrackBar = nullptr;
    TkaPanel* kaPanel1 = nullptr;
    TkaLabel* kaLabel1 = nullptr;
    TkaLabel* kaLabel2 = nullptr;
    TkaPanel* kaPanel2 = nullptr;
    TkaPanel* kaPanel3 = nullptr;
};
