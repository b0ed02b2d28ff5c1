#pragma once

#include <QString>
#include <QStringList>

// The directory helpers of the recording layout
// SceneDir/yyyymmdd/hhnnsszzz/yyyymmddhhnnsszzz.jpg: counting, deleting and
// finding the oldest scene. Deletion failures of single entries are ignored.

// Name of the temporary file a picture is written to before it is renamed into
// place: hidden and without ".jpg", so no listing ever takes it for a picture.
QString PictureTempName(const QString& pictureName);
// True for a name of that pattern (a leftover of an interrupted write).
bool IsPictureTempName(const QString& name);

// The file names of a scene directory as ListFileNames gives them, without the
// scene maker's picture temporaries. Every page that lists pictures uses it.
QStringList ListSceneFiles(const QString& sceneDir);

// Number of entries of Path that are not directories, hidden ones included,
// except leftover picture temporaries. A missing directory counts 0.
int CountFiles(const QString& path);

// Deletes every picture (a name containing ".jpg", any letter case) and every
// leftover picture temporary below Path, removes the emptied subdirectories and
// finally Path itself. Hidden entries and other files stay, and so does every
// directory that still holds them. Symbolic links are never followed.
void DeleteSceneTree(const QString& path);

// Deletes the least recently modified scene of the least recently modified day
// below SceneDir (ties go to the first in name order), or removes that day when
// it holds no scene. True when something was removed; DeletedPath then names it.
bool DeleteOldestScene(const QString& sceneDir, QString& deletedPath);

// Deletes every scene directory of DayDir except NewSceneDir (full paths
// compared ignoring letter case) that holds fewer than MinPictures files.
void SweepSmallScenes(const QString& dayDir, const QString& newSceneDir, int minPictures);
