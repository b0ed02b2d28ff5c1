#pragma once

#include "EkaError.h"
#include "OwnSceneLog.h"
#include "kaSceneFiles.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class TJPEGImage;

// Raised when a picture file cannot be written completely.
class EPictureWrite : public EkaError {
public:
    using EkaError::EkaError;
};

// Announces a new scene: Sender and the scene's path relative to the scene
// directory, "yyyymmdd/hhnnsszzz".
using TNewSceneEvent = std::function<void(QObject* sender, const QString& sPath)>;

// Writes a camera's motion pictures into SceneDir/yyyymmdd/hhnnsszzz/
// yyyymmddhhnnsszzz.jpg, beginning a new scene after a pause longer than
// SecondsBeforeNewScene or after MaxPicturePerScene stored pictures. All names
// of one picture come from one reading of the clock. Main thread only.
class TkaSceneMaker : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultSecondsBeforeNewScene = 60;
    static constexpr int DefaultMaxPicturePerScene = 500;

    // SceneDir starts as the program's "Scenes" directory, created when missing;
    // raises "Error creating Directory ..." when it cannot be.
    explicit TkaSceneMaker(QObject* parent = nullptr);

    // None of the setters touches the disk or the running scene: the limits
    // apply from the next picture, the directory from the next scene.
    const QString& SceneDir() const { return FSceneDir; }
    void SetSceneDir(const QString& value) { FSceneDir = value; }
    int SecondsBeforeNewScene() const { return FSecondsBeforeNewScene; }
    void SetSecondsBeforeNewScene(int value) { FSecondsBeforeNewScene = value; }
    int MaxPicturePerScene() const { return FMaxPicturePerScene; }
    void SetMaxPicturePerScene(int value) { FMaxPicturePerScene = value; }

    TNewSceneEvent OnNewScene;
    // Every picture once it is in place under its name (full path).
    std::function<void(const QString& fileName)> OnPictureStored;

    // Full path of the scene being filled; empty while no scene is open.
    const QString& CurrentSceneDir() const { return FCurrentSceneDir; }
    double LastPictureTime() const { return FLastPictureTime; }
    // Pictures stored in the current scene (dropped ones do not count).
    int PictureCount() const { return FPictureCount; }

    // The scenes this maker created, with their day just before and after, so
    // the small-scene sweep knows these changes as its own. Shared with it.
    std::shared_ptr<const TOwnSceneLog> OwnScenes() const { return FOwnScenes; }

    // Whether the last picture handed in was stored, and if not, why.
    bool LastPictureStored() const { return FLastPictureStored; }
    const QString& StoreError() const { return FStoreError; }

    // Stores one compressed picture. Returns the relative path of the scene
    // whose first stored picture this is (the scene is announced then, not
    // before), or an empty string. The scene directory, its day and the
    // camera's SceneDir are created again (one level each) when missing. A
    // picture whose directory cannot be created is dropped (StoreError says
    // why); a failed write raises EPictureWrite. The file appears whole under
    // its name or not at all, and never replaces another picture: a taken name
    // moves on to the next free millisecond. With an empty SceneDir no scene
    // begins and the picture is dropped.
    QString AddPicture(const TJPEGImage& image);

private:
    bool NewSceneBegins(double time) const;
    void BeginScene(double time);
    bool MakeSceneDirectories();
    bool MakeSceneDirectory();
    void Dropped(const QString& reason);

    QString FSceneDir;
    int FSecondsBeforeNewScene = DefaultSecondsBeforeNewScene;
    int FMaxPicturePerScene = DefaultMaxPicturePerScene;
    // The scene's levels: the SceneDir it began in, its day, and the scene.
    QString FSceneRoot;
    QString FCurrentDayDir;
    QString FCurrentSceneDir;
    // The running scene's path, until its first picture is stored.
    QString FUnannouncedScene;
    double FLastPictureTime = 0;
    int FPictureCount = 0;
    bool FLastPictureStored = false;
    QString FStoreError;
    std::shared_ptr<TOwnSceneLog> FOwnScenes = std::make_shared<TOwnSceneLog>();
};
