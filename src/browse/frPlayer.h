#pragma once

#include "TreeNodeFrame.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>

class QFrame;
class QLabel;
class QSlider;
class QTimer;
class QToolBar;
class TkaAction;
class TkaActionList;
class TkaTrackBar;
class TPaintBox;
class TUnreadablePictures;

// The page of a scene: plays its pictures like a film, forward or backward,
// once or repeatedly, at a chosen pause, with a track bar to step to any
// picture. The end of a pass reads the scene again, so a scene that is still
// being recorded grows while it plays.
class TkaPlayerFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    static constexpr int MinWidth = 280;
    static constexpr int MinHeight = 200;

    explicit TkaPlayerFrame(QObject* owner = nullptr, QWidget* parent = nullptr);
    ~TkaPlayerFrame() override;

    // The scene directory shown; a different one starts at its first picture
    // (its last while playing backward).
    const QString& Path() const { return FPath; }
    void SetPath(const QString& value);
    // Moves to picture NewIndex; 0 and anything outside the pictures is an end.
    void GoTo(int newIndex);
    // Loads and paints FileName unless it is the picture shown.
    void ShowFile(const QString& fileName);

    // Shares the registry of unreadable pictures with the other pages.
    void SetUnreadablePictures(std::shared_ptr<TUnreadablePictures> registry);

    const QStringList& Files() const { return FFiles; }
    int Index() const { return FIndex; }
    const QString& CurrentFile() const { return FCurrentFile; }
    // The picture on show (null before the first one).
    const QImage& Picture() const { return FPicture; }
    // True while the file shown could not be read as a picture.
    bool CurrentUnreadable() const { return FCurrentUnreadable; }

    void PlayForwardActionExecute();
    void PlayBackwardActionExecute();
    void StopActionExecute();
    void StretchActionExecute();
    void PlayTimerTimer();
    void TrackBarChange();
    void SpeedTrackBarChange();
    void PaintBoxPaint(QPainter& canvas);

    QFrame* PaintPanel = nullptr;
    TPaintBox* PaintBox = nullptr;
    QSlider* TrackBar = nullptr;
    QToolBar* ToolBar = nullptr;
    TkaTrackBar* SpeedTrackBar = nullptr;
    QLabel* SpeedLabel = nullptr;
    QLabel* CountLabel = nullptr;
    // The time of day of the picture shown, from its name.
    QLabel* TimeLabel = nullptr;
    QTimer* PlayTimer = nullptr;
    TkaActionList* ActionList = nullptr;
    TkaAction* PlayForwardAction = nullptr;
    TkaAction* StopAction = nullptr;
    TkaAction* RepeatAction = nullptr;
    TkaAction* StretchAction = nullptr;
    TkaAction* PlayBackwardAction = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateComponents();
    void CreateActions();
    void CreateToolBar();
    void ReadFiles();
    bool Playing() const;
    void SetTrackBar(int maximum, int position);
    void FormResize();

    QString FPath;
    QStringList FFiles;
    int FIndex = 0;
    QString FCurrentFile;
    QImage FPicture;
    bool FCurrentUnreadable = false;
    std::shared_ptr<TUnreadablePictures> FUnreadable;
};
