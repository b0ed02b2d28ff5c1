#include "kaSceneFiles.h"

#include "TJPEGImage.h"
#include "kaGeneral.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString TempSuffix = QStringLiteral(".tmp");
const QString PictureSuffix = QStringLiteral(".jpg");
constexpr int DayNameLength = 8;
constexpr int SceneNameLength = 9;
constexpr int PictureStampLength = 17;
// A step of the clock cannot plausibly have left more pictures in one place.
constexpr int MaxNameAttempts = 1000;
// A leftover larger than this is no picture of ours.
constexpr qint64 MaxRecoveredBytes = 64 * 1024 * 1024;

QString Join(const QString& directory, const QString& name) {
    return IncludeBackslash(directory) + name;
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

bool IsDigits(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

bool IsDigitName(const QString& name, int length) {
    return name.size() == length && IsDigits(name);
}

bool HasPictureInName(const QString& name) {
    return name.toLower().contains(PictureSuffix);
}

// The entry itself, never what a link points at.
std::optional<struct stat> EntryStatus(const QString& path) {
    struct stat status {};
    if (::lstat(Native(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

// A real directory: a symbolic link to one is an entry like a file, so that
// deleting never reaches outside the scene tree.
bool IsRealDirectory(const QString& path) {
    const std::optional<struct stat> status = EntryStatus(path);
    return status && S_ISDIR(status->st_mode);
}

bool IsRegularFile(const QString& path) {
    const std::optional<struct stat> status = EntryStatus(path);
    return status && S_ISREG(status->st_mode);
}

bool IsLink(const QString& path) {
    const std::optional<struct stat> status = EntryStatus(path);
    return status && S_ISLNK(status->st_mode);
}

bool Exists(const QString& path) {
    return EntryStatus(path).has_value();
}

bool ModifiedBefore(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

// Puts a directory's modification time back after an entry was removed from it.
void RestoreModified(const QString& path, const timespec& modified) {
    const timespec times[2] = {{0, UTIME_OMIT}, modified};
    ::utimensat(AT_FDCWD, Native(path).constData(), times, AT_SYMLINK_NOFOLLOW); // failure ignored
}

// True when Path is Directory or lies below it, links resolved.
bool LiesIn(const QString& directory, const QString& path) {
    const QString root = QFileInfo(directory).canonicalFilePath();
    const QString target = QFileInfo(path).canonicalFilePath();
    if (root.isEmpty() || target.isEmpty())
        return false;
    return target == root || target.startsWith(IncludeBackslash(root));
}

struct TLayoutDirectory {
    QString Path;
    timespec Modified;
};

// The real subdirectories of Directory that carry a layout name, in name order.
QList<TLayoutDirectory> LayoutDirectories(const QString& directory,
                                          bool (*isLayoutName)(const QString&)) {
    QList<TLayoutDirectory> found;
    for (const QString& name : SortedDirectoryEntries(directory, QDir::Dirs | QDir::NoSymLinks)) {
        if (!isLayoutName(name))
            continue;
        const QString path = Join(directory, name);
        const std::optional<struct stat> status = EntryStatus(path);
        if (status && S_ISDIR(status->st_mode))
            found.append({path, status->st_mtim});
    }
    return found;
}

// Least recently modified first; of equal times, the first in name order.
QList<TLayoutDirectory> OldestFirst(QList<TLayoutDirectory> directories) {
    std::stable_sort(directories.begin(), directories.end(),
                     [](const TLayoutDirectory& a, const TLayoutDirectory& b) {
                         return ModifiedBefore(a.Modified, b.Modified);
                     });
    return directories;
}

// The last by name and the most recently modified (often the same one).
QStringList Newest(const QList<TLayoutDirectory>& directories) {
    if (directories.isEmpty())
        return {};
    const TLayoutDirectory* recent = &directories.first();
    for (const TLayoutDirectory& entry : directories) {
        if (!ModifiedBefore(entry.Modified, recent->Modified))
            recent = &entry;
    }
    QStringList newest{directories.last().Path};
    if (recent->Path != directories.last().Path)
        newest.append(recent->Path);
    return newest;
}

bool SamePath(const QString& a, const QString& b) {
    return QDir::cleanPath(a).compare(QDir::cleanPath(b), Qt::CaseInsensitive) == 0;
}

// Everything the user's Delete removes below Path, and Path when emptied.
void DeleteTreeBelow(const QString& path) {
    const QStringList names =
        SortedDirectoryEntries(path, QDir::AllEntries | QDir::System | QDir::Hidden);
    for (const QString& name : names) {
        const QString entry = Join(path, name);
        if (IsPictureTempName(name)) {
            QFile::remove(entry); // failure ignored
            continue;
        }
        if (IsHiddenName(name))
            continue;
        if (IsRealDirectory(entry))
            DeleteTreeBelow(entry); // removes the directory itself when emptied
        else if (HasPictureInName(name))
            QFile::remove(entry); // a link goes, never its target; failure ignored
    }
    QDir().rmdir(path); // fails, without a message, while anything remains
}

QString PictureNameOfTemp(const QString& tempName) {
    return tempName.mid(1, PictureStampLength) + PictureSuffix;
}

// A leftover that holds a complete JPEG stream which decodes to the end.
bool HoldsWholePicture(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxRecoveredBytes)
        return false;
    const QByteArray data = file.readAll();
    if (data.size() < 4 || !data.startsWith("\xFF\xD8") || !data.endsWith("\xFF\xD9"))
        return false;
    try {
        TJPEGImage image;
        image.LoadFromData(data);
        return !image.Decode().isNull();
    } catch (const EkaError&) {
        return false;
    }
}

int RecoverScene(const QString& scene) {
    int recovered = 0;
    for (const QString& name :
         SortedDirectoryEntries(scene, QDir::Files | QDir::System | QDir::NoSymLinks)) {
        if (!IsPictureTempName(name))
            continue;
        const QString path = Join(scene, name);
        if (!IsRegularFile(path))
            continue;
        if (HoldsWholePicture(path) && MovePictureIntoPlace(path, scene, PictureNameOfTemp(name)))
            ++recovered;
        else
            QFile::remove(path); // failure ignored
    }
    return recovered;
}

} // namespace

QString PictureTempName(const QString& pictureName) {
    QString base = pictureName;
    if (base.endsWith(PictureSuffix, Qt::CaseInsensitive))
        base.chop(4);
    return QLatin1Char('.') + base + TempSuffix;
}

bool IsPictureTempName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.\\d{17}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

bool IsDayName(const QString& name) {
    return IsDigitName(name, DayNameLength);
}

bool IsSceneName(const QString& name) {
    return IsDigitName(name, SceneNameLength);
}

bool IsPictureFileName(const QString& name) {
    return name.size() == PictureStampLength + PictureSuffix.size() &&
           name.endsWith(PictureSuffix) && IsDigits(name.left(PictureStampLength));
}

QString NextPictureName(const QString& pictureName) {
    const QString stamp = pictureName.left(PictureStampLength);
    // As a calendar stamp without zone, so no daylight-saving gap stands in the way.
    QDateTime time = QDateTime::fromString(stamp, QStringLiteral("yyyyMMddHHmmsszzz"));
    if (time.isValid()) {
        time.setTimeSpec(Qt::UTC);
        return time.addMSecs(1).toString(QStringLiteral("yyyyMMddHHmmsszzz")) + PictureSuffix;
    }
    return QStringLiteral("%1").arg(stamp.toULongLong() + 1, PictureStampLength, 10,
                                    QLatin1Char('0')) +
           PictureSuffix;
}

std::optional<QString> MovePictureIntoPlace(const QString& tempPath, const QString& directory,
                                            const QString& pictureName) {
    const QByteArray from = Native(tempPath);
    QString name = pictureName;
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt, name = NextPictureName(name)) {
        const QByteArray to = Native(Join(directory, name));
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) ==
            0)
            return name;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return std::nullopt;
        // A file system without the flag: this camera's pictures have one writer.
        if (Exists(Join(directory, name)))
            continue;
        if (std::rename(from.constData(), to.constData()) == 0)
            return name;
        return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

QStringList ListSceneFiles(const QString& sceneDir) {
    QStringList names;
    ListFileNames(sceneDir, names);
    names.removeIf([](const QString& name) { return IsPictureTempName(name); });
    return names;
}

int CountFiles(const QString& path) {
    return static_cast<int>(ListSceneFiles(path).size());
}

bool DeleteSceneTree(const QString& sceneDir, const QString& path) {
    if (!Exists(path))
        return true;
    if (IsLink(path) || !LiesIn(sceneDir, path))
        return false;
    DeleteTreeBelow(path);
    return true;
}

bool DeleteRecordedScene(const QString& sceneDir, const QString& scenePath) {
    const QFileInfo scene(QDir::cleanPath(scenePath));
    const QString dayPath = scene.path();
    if (!IsSceneName(scene.fileName()) || !IsDayName(QFileInfo(dayPath).fileName()))
        return false;
    if (!Exists(scene.filePath()))
        return true;
    const std::optional<struct stat> day = EntryStatus(dayPath);
    if (!day || !S_ISDIR(day->st_mode) || !IsRealDirectory(scene.filePath()) ||
        QFileInfo(QFileInfo(dayPath).path()).canonicalFilePath() !=
            QFileInfo(sceneDir).canonicalFilePath())
        return false;
    for (const QString& name : SortedDirectoryEntries(
             scene.filePath(), QDir::Files | QDir::System | QDir::Hidden | QDir::NoSymLinks)) {
        const QString entry = Join(scene.filePath(), name);
        if ((IsPictureFileName(name) || IsPictureTempName(name)) && IsRegularFile(entry))
            QFile::remove(entry); // failure ignored
    }
    QDir().rmdir(scene.filePath()); // fails while other files remain
    RestoreModified(dayPath, day->st_mtim);
    return !Exists(scene.filePath());
}

bool DeleteOldestScene(const QString& sceneDir, QString& deletedPath) {
    // A scene or day that cannot be removed (a file of the user's in it) is
    // passed over, so it never stops the guard for good.
    for (const TLayoutDirectory& day : OldestFirst(LayoutDirectories(sceneDir, IsDayName))) {
        const QList<TLayoutDirectory> scenes =
            OldestFirst(LayoutDirectories(day.Path, IsSceneName));
        for (const TLayoutDirectory& scene : scenes) {
            if (DeleteRecordedScene(sceneDir, scene.Path)) {
                deletedPath = scene.Path;
                return true;
            }
        }
        if (scenes.isEmpty() && QDir().rmdir(day.Path)) {
            deletedPath = day.Path;
            return true;
        }
    }
    return false;
}

void SweepSmallScenes(const QString& sceneDir, const QString& sPath, int minPictures) {
    const QString dayName = sPath.section(QLatin1Char('/'), 0, 0);
    if (!IsDayName(dayName))
        return;
    const QString dayDir = Join(sceneDir, dayName);
    const QString keep = Join(sceneDir, sPath);
    for (const TLayoutDirectory& scene : LayoutDirectories(dayDir, IsSceneName)) {
        if (!SamePath(scene.Path, keep) && CountFiles(scene.Path) < minPictures)
            DeleteRecordedScene(sceneDir, scene.Path);
    }
}

int RecoverPictureTemporaries(const QString& sceneDir) {
    int recovered = 0;
    for (const QString& day : Newest(LayoutDirectories(sceneDir, IsDayName))) {
        for (const QString& scene : Newest(LayoutDirectories(day, IsSceneName)))
            recovered += RecoverScene(scene);
    }
    return recovered;
}
