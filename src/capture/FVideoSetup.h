#pragma once

#include "kaComponent.h"

#include <QMargins>
#include <QRect>
#include <QWidget>
#include <optional>

class TkaCheckBox;
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

    // Where the window's frame goes beside a main window framed at MainFrame
    // with its client area at MainClient: right of it with the same top;
    // when that sticks out of the screen's Available area, moved left to end
    // at its right edge and down to the main window's client top, so the main
    // window's title bar and its buttons stay free. The whole frame, title bar
    // first, always lies inside Available.
    static QPoint FrameTopLeft(const QRect& mainFrame, const QRect& mainClient,
                               const QSize& frameSize, const QRect& available);
    // Places the window beside Main by its frame geometry within the available
    // area of Main's screen. Until the window manager has framed it, the frame
    // is taken to be as thick as Main's; once framed it is placed again by its
    // real frame, should that stick out.
    void PlaceBeside(const QWidget& main);

    // Grows the window to what its texts need in the current language: the
    // title uncut, each caption apart from its widest value.
    void FitToContents();

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
    void LightChangekaCheckBoxClick();

    TkaPanel* kaPanel1 = nullptr;
    TkaPanel* kaPanel2 = nullptr;
    TkaTrackbarFrame* ThresholdTrackbarFrame = nullptr;
    TkaTrackbarFrame* XTrackbarFrame = nullptr;
    TkaTrackbarFrame* YTrackbarFrame = nullptr;
    TkaTrackbarFrame* MotionFrame = nullptr;
    TkaTrackbarFrame* mSecBetweenFrame = nullptr;
    TkaTrackbarFrame* QualityFrame = nullptr;
    // Remanent, off by default: compare pictures after taking out a change
    // of the light of the whole picture.
    TkaCheckBox* LightChangekaCheckBox = nullptr;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Moves the client area so that a frame with Margins starts at TopLeft.
    void MoveFrameTo(const QPoint& topLeft, const QMargins& margins);
    // The window's frame margins as the window manager reports them.
    QMargins FrameMargins() const;
    void KeepFrameOnScreen();

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
    // The screen area the placement keeps the frame in, until it was placed
    // by its real frame or the window is hidden.
    std::optional<QRect> PlacementArea;
};
