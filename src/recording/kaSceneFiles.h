#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <ctime>
#include <optional>
#include <sys/types.h>

// The directory helpers of the recording layout
// SceneDir/yyyymmdd/hhnnsszzz/yyyymmddhhnnsszzz.jpg: counting, deleting and
// finding the oldest scene. Deletion failures of single entries are ignored.

// What a deletion running on a worker thread shares: a request to stop (the
// program ends), the bytes of the pictures it is about to remove, which the
// free-space reading does not show yet, and the first failure it met. A
// deletion that stops leaves whole pictures and each scene as old as it was.
struct TDeletionControl {
    std::atomic<bool> Stop{false};
    std::atomic<qint64> PendingBytes{0};
    // Set by the deleting thread only; read once it is done.
    QString Failure;

    bool Stopped() const { return Stop.load(std::memory_order_relaxed); }
    // Keeps the first failure: an entry that should have gone and did not,
    // for another reason than other files left in it or its being gone.
    void NoteFailure(const QString& path, int error);
};

// Name of the temporary file a picture is written to before it is renamed into
// place: hidden and without ".jpg", so no listing ever takes it for a picture.
QString PictureTempName(const QString& pictureName);
// True for a name of that pattern (a leftover of an interrupted write).
bool IsPictureTempName(const QString& name);

// The names the recording layout gives: a day of 8 digits, a scene of 9
// digits, a picture of 17 digits and ".jpg". Automatic deletions touch nothing
// else, so a scene directory shared with other files loses none of them.
bool IsDayName(const QString& name);
bool IsSceneName(const QString& name);
bool IsPictureFileName(const QString& name);

// The picture name one millisecond after PictureName (17 digits and ".jpg"):
// where a picture of that name exists, the next free one is taken.
QString NextPictureName(const QString& pictureName);

// Renames TempPath to PictureName in Directory without ever replacing a file:
// an existing name moves the picture on to the next free millisecond. Returns
// the name used, or nothing (errno set) when the rename failed.
std::optional<QString> MovePictureIntoPlace(const QString& tempPath, const QString& directory,
                                            const QString& pictureName);

// The file names of a scene directory as ListFileNames gives them, without the
// scene maker's picture temporaries. Every page that lists pictures uses it.
QStringList ListSceneFiles(const QString& sceneDir);

// Number of entries of Path that are not directories, hidden ones included,
// except leftover picture temporaries. A missing directory counts 0.
int CountFiles(const QString& path);

// The explorer's Delete, which the user confirms: deletes every picture (a
// name containing ".jpg", any letter case) and every leftover picture
// temporary below Path, removes the emptied subdirectories and finally Path
// itself. Hidden entries and other files stay, and so does every directory
// that still holds them. Symbolic links are never followed. Refuses (false,
// nothing touched) a Path that is a link or that does not lie in SceneDir
// (SceneDir itself included).
bool DeleteSceneTree(const QString& sceneDir, const QString& path,
                     TDeletionControl* control = nullptr);

// An automatic deletion of one scene (guard and retention rules): only a real
// directory SceneDir/<day>/<scene> with layout names qualifies, and only its
// pictures and the scene maker's temporaries are removed, then the directory.
// The day keeps its modification time, so it does not look recent. True when
// the scene directory is gone. With Control, the pictures' bytes count as
// pending until each one is removed.
bool DeleteRecordedScene(const QString& sceneDir, const QString& scenePath,
                         TDeletionControl* control = nullptr);

// What a directory looks like from outside: which one it is, how many
// subdirectories it links and when its entries last changed. Every added or
// removed entry gives it another change time (also when the modification time
// is put back afterwards).
struct TDirectoryState {
    dev_t Device = 0;
    ino_t Inode = 0;
    nlink_t Links = 0;
    timespec Changed{};
    timespec Modified{};

    // Nothing for a path that is no real directory.
    static std::optional<TDirectoryState> Of(const QString& path);
    bool operator==(const TDirectoryState& other) const;
};

class TOwnSceneLog;

// What the automatic rules learnt about the scenes of one scene directory, so
// that the work per new scene and per guard deletion does not grow with the
// recordings of the day. A camera's scene settings keep one; without it the
// rules list and count everything each time. It forgets what it knows when
// the scene directory or the minimum changes, and trusts nothing that changed
// on disk: a scene is known by its inode, the oldest day's order by the day's
// inode and modification time (which deletions restore) and each candidate's
// own modification time, checked before it is deleted.
class TSceneFileMemory {
public:
    struct TDirectory {
        QString Path;
        timespec Modified{};
        ino_t Inode = 0;
    };

    void Forget();

private:
    friend void SweepSmallScenes(const QString&, const QString&, int, TSceneFileMemory*,
                                 const TOwnSceneLog*, TDeletionControl*);
    friend bool DeleteOldestScene(const QString&, QString&, TSceneFileMemory*, TDeletionControl*);

    // Each part forgets what it knows of another scene directory; the two
    // callers may spell the same one differently.
    void UseForSweep(const QString& sceneDir, const QString& day, int minimum);
    void UseForGuard(const QString& sceneDir);

    // Sweep: the scenes of LargeDay (name to inode) that held at least
    // LargeMinimum files when they were counted. Scenes only grow while the
    // camera records, so they stay large.
    QString SweepSceneDir;
    QString LargeDay;
    int LargeMinimum = -1;
    QHash<QString, ino_t> LargeScenes;
    // The day as the last sweep left it, the last of the maker's scenes it
    // knew of, the scenes it spared (the new one of then and any the maker
    // began after it, none counted yet) and the small scenes it could not
    // remove. While no one but the scene maker changed the day since, these
    // and the maker's newer scenes are the only ones that need a look.
    std::optional<TDirectoryState> SweptDay;
    quint64 SweptThrough = 0;
    QStringList Spared;
    QStringList Undeleted;
    // Guard: the scenes of the oldest day, oldest first, as last listed.
    QString GuardSceneDir;
    TDirectory OldestDay;
    QList<TDirectory> OldestScenes;
};

// Deletes the least recently modified scene of the least recently modified day
// below SceneDir (ties go to the first in name order), or removes that day when
// it holds no scene. Only layout names count as days and scenes. A scene or day
// that cannot be removed is emptied of its pictures and passed over for the
// next oldest. True when something was removed; DeletedPath then names it.
bool DeleteOldestScene(const QString& sceneDir, QString& deletedPath,
                       TSceneFileMemory* memory = nullptr, TDeletionControl* control = nullptr);

// Deletes every scene of the new scene's day (sPath "yyyymmdd/hhnnsszzz" below
// SceneDir) except the new scene itself (compared ignoring letter case) that
// holds fewer than MinPictures files (counted as CountFiles does, but only up
// to MinPictures). Scenes the maker of OwnScenes began after the new one are
// spared too, since the sweep may run late. With Memory and OwnScenes the day
// is read again only when something other than that maker changed it.
void SweepSmallScenes(const QString& sceneDir, const QString& sPath, int minPictures,
                      TSceneFileMemory* memory = nullptr, const TOwnSceneLog* ownScenes = nullptr,
                      TDeletionControl* control = nullptr);

// CountFiles, stopping once Limit is reached: a scene is small or it is not.
int CountFilesUpTo(const QString& path, int limit);

// Start-up recovery after a kill: a picture temporary that holds a whole JPEG
// gets its picture name, any other is removed. Only the newest day and scene
// (by name and by modification time) are looked at, since only the scene being
// written at the moment of the kill can hold one. Returns the pictures saved.
int RecoverPictureTemporaries(const QString& sceneDir);
