#pragma once

#include "TreeNodeFrame.h"
#include "kaSceneFiles.h"
#include "kaSceneMaker.h"

#include <QString>
#include <functional>
#include <memory>

class QGroupBox;
class QToolButton;
class QTreeWidgetItem;
class TJPEGImage;
class TkaCheckBox;
class TkaLabel;
class TkaPanel;
class TkaTrackbarFrame;
class TSceneDeleter;

// What the error log and the error box are told when recording starts failing.
class ERecordingFailure : public EkaError {
public:
    using EkaError::EkaError;
};

// A camera's recording settings page, shown for the camera's "Scenes" node: it
// owns the camera's scene maker, keeps the scene directory (section of the
// frame's name, key "SceneDir"), the scene limits and the free-space minimum,
// and runs the disk-space guard for the camera page.
class TSceneFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    // Name is the component name, e.g. VideoFrame1Scene.
    explicit TSceneFrame(const QString& name, QWidget* parent = nullptr);
    ~TSceneFrame() override;

    void Loaded() override;

    const QString& SceneDir() const { return FSceneDir; }
    // Creates the directory with its parents, stores it in the settings at
    // once, hands it to the scene maker (from its next scene on) and points the
    // scenes node at it. The same text again changes nothing.
    void SetSceneDir(const QString& value);

    // The camera's "Scenes" node in the explorer; not owned.
    QTreeWidgetItem* SceneNode() const { return FSceneNode; }
    void SetSceneNode(QTreeWidgetItem* node) { FSceneNode = node; }

    // Forwarded announcement of the scene maker, with this frame as sender.
    TNewSceneEvent OnNewScene;

    // Hands the picture to the scene maker while recording is switched on.
    // Returns the path of the scene the picture began, or an empty string.
    // A picture that cannot be stored marks recording as failing (see
    // RecordingFailure) instead of raising.
    QString AddPicture(const TJPEGImage& image);

    // The disk-space guard for one motion picture: when the free space is
    // below the minimum and deleting is allowed, the oldest scenes are deleted
    // on the deleter's thread until it is back (each deletion removes its node
    // and repaints the tree from the event loop). The free space shown and
    // judged counts what the deletion under way frees; while it runs, half
    // the minimum suffices, unless its last pass found nothing more to
    // delete. Tells whether the picture may be stored; false when no scene
    // directory is set. A picture withheld for want of space while recording
    // is on marks recording as failing.
    bool GuardDiskSpace();

    // Why motion pictures are not being stored, or an empty text while they
    // are. Shown in red on this page; its start is reported once to the
    // application's error handling, and it clears with the next stored picture.
    const QString& RecordingFailure() const { return FRecordingFailure; }
    // "Recording fails: " + Failure in the user's language.
    static QString FailureText(const QString& failure);
    // The unit's messages, registered at start so each language covers them.
    static void RegisterMessages();

    // The off-site copy's line: target, waiting pictures, last copy; red while
    // the target fails. Hidden when Line is empty.
    void ShowOffsiteCopy(const QString& line, bool failing);

    // Removes the tree node of a scene or day the guard deleted.
    void RemoveSceneNode(const QString& path);

    // The retention rules at the start of a scene (sPath "yyyymmdd/hhnnsszzz"),
    // for the main window's new-scene handler, with this frame's limits. The
    // nodes go at once, the files on the deleter's thread.
    void SweepSmallScenes(const QString& sPath);
    void LimitScenesPerDay(QTreeWidgetItem* dayNode);
    void CheckPreviousScene(QTreeWidgetItem* newSceneNode);

    // Where this camera's recordings are deleted: the one given, or one of
    // its own, made when first needed.
    TSceneDeleter& SceneDeleter();
    void SetSceneDeleter(std::shared_ptr<TSceneDeleter> deleter);

    int MaxScenesPerDay() const;
    int MinPicturesPerScene() const;
    int MinDiskSpace() const;

    TkaPanel* kaPanel = nullptr;
    TkaCheckBox* ActivekaCheckBox = nullptr;
    QGroupBox* GroupBox = nullptr;
    QToolButton* SceneDirSpeedButton = nullptr;
    TkaLabel* SceneDirkaLabel = nullptr;
    TkaTrackbarFrame* MaxSceneskaTrackbarFrame = nullptr;
    TkaTrackbarFrame* MaxPickaTrackbarFrame = nullptr;
    TkaTrackbarFrame* MinPicsPerScenekaTrackbarFrame = nullptr;
    TkaTrackbarFrame* NewSceneTimeFrame = nullptr;
    TkaTrackbarFrame* MinDiskSpaceFrame = nullptr;
    TkaCheckBox* DeleteOldCheckBox = nullptr;
    TkaLabel* DiskLabel = nullptr;
    TkaLabel* CurrentFreeLabel = nullptr;
    TkaLabel* MBLabel = nullptr;
    TkaLabel* RecordingFailurekaLabel = nullptr;
    TkaLabel* OffsitekaLabel = nullptr;
    TkaSceneMaker* kaSceneMaker = nullptr;

signals:
    // Recording began or stopped failing; Failure is empty when it works again.
    void RecordingFailureChanged(const QString& failure);

private:
    void BuildControls();
    TkaTrackbarFrame* NewTrackbarFrame(const QString& name, const QString& caption,
                                       const QString& hint, int min, int max, int position,
                                       int frequency);
    void MaxPickaTrackbarFrameTrackBarChange(QObject* sender);
    void NewSceneTimeFrameTrackBarChange(QObject* sender);
    void SceneDirSpeedButtonClick();
    void kaSceneMakerNewScene(QObject* sender, const QString& sPath);
    void SetRecordingFailure(const QString& failure);
    void ReportRecordingFailure(const QString& failure);
    void StartFreeingSpace(const QString& sceneDir);
    void DeleteSceneLater(const QString& scenePath);

    QString FSceneDir;
    QString FRecordingFailure;
    QTreeWidgetItem* FSceneNode = nullptr;
    std::shared_ptr<TSceneDeleter> FSceneDeleter;
    // What the sweep and the guard know of this camera's scenes; used on the
    // deleter's thread only.
    std::shared_ptr<TSceneFileMemory> FSceneMemory = std::make_shared<TSceneFileMemory>();
    // The guard's last pass ended short of the minimum with nothing left.
    bool FGuardExhausted = false;
};
