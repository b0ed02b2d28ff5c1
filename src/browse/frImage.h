#pragma once

#include "TreeNodeFrame.h"

#include <QImage>
#include <QString>
#include <memory>

class QFrame;
class QToolBar;
class TkaAction;
class TkaActionList;
class TkaLabel;
class TPaintBox;
class TUnreadablePictures;

// The page of one picture file: the picture, centred or stretched, with its
// capture time read from the file name.
class TImageFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    explicit TImageFrame(QObject* owner = nullptr, QWidget* parent = nullptr);
    ~TImageFrame() override;

    // Restores "Stretch" and sets the picture's stretching from it.
    void Loaded() override;

    // Shows the picture in Value, unless it is the one shown already.
    void LoadPicture(const QString& value);
    const QString& FileName() const { return FFileName; }
    // The picture on show; null when none is loaded or the file cannot be read.
    const QImage& Picture() const { return FPicture; }
    bool Stretch() const { return FStretch; }

    // Shares the registry of unreadable pictures with the other pages.
    void SetUnreadablePictures(std::shared_ptr<TUnreadablePictures> registry);

    // The time stamp of a picture name "yyyymmddhhnnsszzz.jpg" in the user's
    // short date and long time, the milliseconds after the seconds; the bare
    // name when it gives no valid date and time.
    static QString TimeStampText(const QString& fileName);
    // Only the time of day of such a name, with its milliseconds; empty when
    // the name gives none.
    static QString TimeOfDayText(const QString& fileName);

    void StretchActionExecute();
    void ImagePaint(QPainter& canvas);

    QToolBar* ToolBar1 = nullptr;
    TkaLabel* FileDatekaLabel = nullptr;
    QFrame* ImagePanel = nullptr;
    TPaintBox* Image = nullptr;
    TkaActionList* ActionList = nullptr;
    TkaAction* StretchAction = nullptr;

private:
    void CreateComponents();

    QString FFileName;
    QImage FPicture;
    bool FStretch = false;
    std::shared_ptr<TUnreadablePictures> FUnreadable;
};
