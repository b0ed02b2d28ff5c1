#pragma once

#include "kaComponent.h"

#include <QWidget>

class TkaPanel;
class TkaTrackbarFrame;
class TVideoFrame;

// The motion setup dialog of one camera page: six remanent track bars for the
// segment threshold, the grid, the number of segments that makes motion, the
// pause between frames and the JPEG quality. The first three and the pause go
// to the page as they change; the page reads the other two when it needs them.
// Every page's dialog has the same name, so all pages share one stored set.
class TVideoSetupForm : public QWidget, public TkaLoadable {
    Q_OBJECT
public:
    // The dialog works on Page, which must outlive it.
    explicit TVideoSetupForm(TVideoFrame* page);

    void Loaded() override {}

    TVideoFrame* Page() const { return FPage; }
    // Motion needs more changed segments than this.
    int MotionSegments() const;
    // JPEG quality of motion pictures, 1 to 100.
    int Quality() const;

    void ThresholdTrackbarFrameTrackBarChange(QObject* sender);
    void XTrackbarFrameTrackBarChange(QObject* sender);
    void YTrackbarFrameTrackBarChange(QObject* sender);
    void MotionFrameTrackBarChange(QObject* sender);
    void mSecBetweenFrameTrackBarChange(QObject* sender);
    void CompressionFrameTrackBarChange(QObject* sender);

    TkaPanel* kaPanel1 = nullptr;
    TkaPanel* kaPanel2 = nullptr;
    TkaTrackbarFrame* ThresholdTrackbarFrame = nullptr;
    TkaTrackbarFrame* XTrackbarFrame = nullptr;
    TkaTrackbarFrame* YTrackbarFrame = nullptr;
    TkaTrackbarFrame* MotionFrame = nullptr;
    TkaTrackbarFrame* mSecBetweenFrame = nullptr;
    TkaTrackbarFrame* QualityFrame = nullptr;

private:
    struct TTrackbarDesign {
        const char* Name;
        const char* Caption;
        const char* Hint;
        int Min;
        int Max;
        int Position;
        int Frequency;
    };
    TkaTrackbarFrame* NewTrackbarFrame(const TTrackbarDesign& design);

    TVideoFrame* FPage;
};
