#pragma once

#include <QString>
#include <functional>
#include <optional>

class TSceneFileMemory;
struct TDeletionControl;

// Free space of the file system that holds a directory, in bytes available to
// the user; nothing when it cannot be read. A failed reading is not a low one.
using TFreeSpaceReader = std::function<std::optional<qint64>(const QString& directory)>;

// Reads through the installed reader (the file system by default).
std::optional<qint64> FreeDiskSpace(const QString& directory);
// Test seam: replaces the reader for the process; an empty one restores the default.
void SetFreeSpaceReader(TFreeSpaceReader reader);
// The file system's own reading, taken at the nearest existing ancestor of
// Directory. A file system with fewer free inodes than a new scene needs (its
// day, its scene, a picture and the picture's temporary) reads as 0 bytes.
std::optional<qint64> FileSystemFreeSpace(const QString& directory);
constexpr unsigned long MinFreeInodes = 4;

constexpr qint64 BytesPerMegabyte = 1024 * 1024;

// What the disk-space guard found for one picture.
struct TDiskSpaceVerdict {
    // The free space after any deletions; nothing when it could not be read.
    std::optional<qint64> FreeBytes;
    // Whether the picture may be stored.
    bool Store = false;
    // The free space is known and below the minimum.
    bool Low = false;

    // Whole megabytes of FreeBytes, truncated.
    std::optional<qint64> FreeMegabytes() const;
};

// The disk-space guard, run before each motion picture is stored. With
// DeleteOld it deletes the oldest scenes below SceneDir while the free space
// is known and below MinMegabytes, calling OnDeleted with each deleted path;
// it stops when nothing more can be deleted. An empty SceneDir stores nothing.
// Memory, when given, spares listing the oldest day again per deletion;
// Control, when given, can stop the deletions (see TDeletionControl).
TDiskSpaceVerdict GuardDiskSpace(const QString& sceneDir, int minMegabytes, bool deleteOld,
                                 const std::function<void(const QString& deletedPath)>& onDeleted,
                                 TSceneFileMemory* memory = nullptr,
                                 TDeletionControl* control = nullptr);
