#include "DiskSpace.h"

#include "kaSceneFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/statvfs.h>

namespace {

TFreeSpaceReader& InstalledReader() {
    static TFreeSpaceReader reader;
    return reader;
}

// The directory itself, or the closest directory above it that exists: a scene
// directory not created yet still lies on a known file system.
std::optional<QString> NearestExistingDirectory(const QString& directory) {
    if (directory.isEmpty())
        return std::nullopt;
    QString path = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return std::nullopt;
        path = parent;
    }
    return path;
}

} // namespace

std::optional<qint64> FreeDiskSpace(const QString& directory) {
    const TFreeSpaceReader& reader = InstalledReader();
    return reader ? reader(directory) : FileSystemFreeSpace(directory);
}

void SetFreeSpaceReader(TFreeSpaceReader reader) {
    InstalledReader() = std::move(reader);
}

std::optional<qint64> FileSystemFreeSpace(const QString& directory) {
    const std::optional<QString> existing = NearestExistingDirectory(directory);
    if (!existing)
        return std::nullopt;
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(*existing).constData(), &info) != 0)
        return std::nullopt;
    // Without free inodes not even a scene folder can be made, however many
    // bytes are left: that is a full file system. (File systems that keep no
    // inode count report a total of 0.)
    if (info.f_files > 0 && info.f_favail < MinFreeInodes)
        return 0;
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

std::optional<qint64> TDiskSpaceVerdict::FreeMegabytes() const {
    if (!FreeBytes)
        return std::nullopt;
    return *FreeBytes / BytesPerMegabyte;
}

TDiskSpaceVerdict GuardDiskSpace(const QString& sceneDir, int minMegabytes, bool deleteOld,
                                 const std::function<void(const QString& deletedPath)>& onDeleted,
                                 TSceneFileMemory* memory, TDeletionControl* control) {
    if (sceneDir.isEmpty())
        return {};
    const qint64 minimum = static_cast<qint64>(minMegabytes) * BytesPerMegabyte;
    if (deleteOld) {
        // Each pass removes a directory, so the loop ends when none is left.
        while (control == nullptr || !control->Stopped()) {
            const std::optional<qint64> free = FreeDiskSpace(sceneDir);
            if (!free || *free >= minimum)
                break;
            QString deletedPath;
            if (!DeleteOldestScene(sceneDir, deletedPath, memory, control))
                break;
            if (onDeleted)
                onDeleted(deletedPath);
        }
    }
    TDiskSpaceVerdict verdict;
    verdict.FreeBytes = FreeDiskSpace(sceneDir);
    verdict.Low = verdict.FreeBytes && *verdict.FreeBytes < minimum;
    verdict.Store = !verdict.Low;
    return verdict;
}
