#include "kaSceneFiles.h"

#include "OwnSceneLog.h"
#include "TJPEGImage.h"
#include "TkaBoundedRead.h"
#include "kaGeneral.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
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

using TLayoutDirectory = TSceneFileMemory::TDirectory;

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// An open directory stream, closed on every way out.
class TDirectoryStream {
public:
    explicit TDirectoryStream(const QString& path) : Stream(::opendir(Native(path).constData())) {}
    ~TDirectoryStream() {
        if (Stream != nullptr)
            ::closedir(Stream);
    }
    TDirectoryStream(const TDirectoryStream&) = delete;
    TDirectoryStream& operator=(const TDirectoryStream&) = delete;

    // The next entry other than "." and "..", or null at the end.
    const dirent* Next() {
        if (Stream == nullptr)
            return nullptr;
        while (const dirent* entry = ::readdir(Stream)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            return entry;
        }
        return nullptr;
    }

private:
    DIR* Stream;
};

QString NameOf(const dirent* entry) {
    return QFile::decodeName(entry->d_name);
}

// Whether the entry counts as a file for CountFiles: anything but a
// directory, a link followed as QFileInfo follows it. The listing's type
// spares the stat for all but links and file systems that give no type.
bool CountsAsFile(const QString& directory, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return false;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return true;
    struct stat status {};
    return ::stat(Native(Join(directory, NameOf(entry))).constData(), &status) != 0 ||
           !S_ISDIR(status.st_mode);
}

// A real directory entry of the listing: links are never scenes.
bool IsListedDirectory(const QString& directory, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return true;
    return entry->d_type == DT_UNKNOWN && IsRealDirectory(Join(directory, NameOf(entry)));
}

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
            found.append({path, status->st_mtim, status->st_ino});
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

// Removes one file; a failure is ignored, and noted for a worker's report.
void RemoveFile(const QString& path, TDeletionControl* control) {
    if (::unlink(Native(path).constData()) != 0 && control != nullptr)
        control->NoteFailure(path, errno);
}

// Removes a directory when nothing is left in it.
void RemoveEmptiedDirectory(const QString& path, TDeletionControl* control) {
    if (::rmdir(Native(path).constData()) != 0 && control != nullptr)
        control->NoteFailure(path, errno);
}

bool Stopped(const TDeletionControl* control) {
    return control != nullptr && control->Stopped();
}

// Everything the user's Delete removes below Path, and Path when emptied.
void DeleteTreeBelow(const QString& path, TDeletionControl* control) {
    const QStringList names =
        SortedDirectoryEntries(path, QDir::AllEntries | QDir::System | QDir::Hidden);
    for (const QString& name : names) {
        if (Stopped(control))
            return;
        const QString entry = Join(path, name);
        if (IsPictureTempName(name)) {
            RemoveFile(entry, control);
            continue;
        }
        if (IsHiddenName(name))
            continue;
        if (IsRealDirectory(entry))
            DeleteTreeBelow(entry, control); // removes the directory itself when emptied
        else if (HasPictureInName(name))
            RemoveFile(entry, control); // a link goes, never its target
    }
    if (!Stopped(control))
        RemoveEmptiedDirectory(path, control); // fails while anything remains
}

QString PictureNameOfTemp(const QString& tempName) {
    return tempName.mid(1, PictureStampLength) + PictureSuffix;
}

// A leftover that holds a complete JPEG stream which decodes to the end.
bool HoldsWholePicture(const QString& path) {
    QFile file(path);
    QByteArray data;
    QString error;
    if (!file.open(QIODevice::ReadOnly) ||
        !TkaBoundedRead::ReadAll(file, MaxRecoveredBytes, data, error))
        return false;
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

int CountFilesUpTo(const QString& path, int limit) {
    TDirectoryStream stream(path);
    int count = 0;
    while (count < limit) {
        const dirent* entry = stream.Next();
        if (entry == nullptr)
            break;
        if (!IsPictureTempName(NameOf(entry)) && CountsAsFile(path, entry))
            ++count;
    }
    return count;
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

bool DeleteSceneTree(const QString& sceneDir, const QString& path, TDeletionControl* control) {
    if (!Exists(path))
        return true;
    if (IsLink(path) || !LiesIn(sceneDir, path))
        return false;
    DeleteTreeBelow(path, control);
    return true;
}

bool DeleteRecordedScene(const QString& sceneDir, const QString& scenePath,
                         TDeletionControl* control) {
    const QFileInfo scene(QDir::cleanPath(scenePath));
    const QString dayPath = scene.path();
    if (!IsSceneName(scene.fileName()) || !IsDayName(QFileInfo(dayPath).fileName()))
        return false;
    if (!Exists(scene.filePath()))
        return true;
    const std::optional<struct stat> day = EntryStatus(dayPath);
    const std::optional<struct stat> sceneStatus = EntryStatus(scene.filePath());
    if (!day || !S_ISDIR(day->st_mode) || !sceneStatus || !S_ISDIR(sceneStatus->st_mode) ||
        QFileInfo(QFileInfo(dayPath).path()).canonicalFilePath() !=
            QFileInfo(sceneDir).canonicalFilePath())
        return false;
    struct TPicture {
        QString Path;
        qint64 Bytes = 0;
    };
    // Measured first, so the space that is about to be freed counts at once.
    QList<TPicture> pictures;
    qint64 pending = 0;
    for (const QString& name : SortedDirectoryEntries(
             scene.filePath(), QDir::Files | QDir::System | QDir::Hidden | QDir::NoSymLinks)) {
        if (!IsPictureFileName(name) && !IsPictureTempName(name))
            continue;
        const QString entry = Join(scene.filePath(), name);
        const std::optional<struct stat> status = EntryStatus(entry);
        if (!status || !S_ISREG(status->st_mode))
            continue;
        pictures.append({entry, qint64(status->st_blocks) * 512});
        pending += pictures.last().Bytes;
    }
    if (control != nullptr)
        control->PendingBytes += pending;
    for (const TPicture& picture : pictures) {
        if (Stopped(control))
            break;
        RemoveFile(picture.Path, control);
        pending -= picture.Bytes;
        if (control != nullptr)
            control->PendingBytes -= picture.Bytes;
    }
    if (control != nullptr)
        control->PendingBytes -= pending;
    if (Stopped(control)) {
        // Abandoned: what is left is a scene of whole pictures, as old as before.
        RestoreModified(scene.filePath(), sceneStatus->st_mtim);
        return false;
    }
    RemoveEmptiedDirectory(scene.filePath(), control); // fails while other files remain
    RestoreModified(dayPath, day->st_mtim);
    return !Exists(scene.filePath());
}

void TDeletionControl::NoteFailure(const QString& path, int error) {
    // Gone already, or holding other files (a directory that stays on purpose).
    if (error == ENOENT || error == ENOTEMPTY || error == EEXIST || !Failure.isEmpty())
        return;
    Failure = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

std::optional<TDirectoryState> TDirectoryState::Of(const QString& path) {
    const std::optional<struct stat> status = EntryStatus(path);
    if (!status || !S_ISDIR(status->st_mode))
        return std::nullopt;
    return TDirectoryState{status->st_dev, status->st_ino, status->st_nlink, status->st_ctim,
                           status->st_mtim};
}

bool TDirectoryState::operator==(const TDirectoryState& other) const {
    return Device == other.Device && Inode == other.Inode && Links == other.Links &&
           SameTime(Changed, other.Changed) && SameTime(Modified, other.Modified);
}

void TSceneFileMemory::Forget() {
    *this = TSceneFileMemory();
}

void TSceneFileMemory::UseForSweep(const QString& sceneDir, const QString& day, int minimum) {
    if (sceneDir != SweepSceneDir || day != LargeDay || minimum != LargeMinimum) {
        SweepSceneDir = sceneDir;
        LargeDay = day;
        LargeMinimum = minimum;
        LargeScenes.clear();
        SweptDay.reset();
        SweptThrough = 0;
        Spared.clear();
        Undeleted.clear();
    }
}

void TSceneFileMemory::UseForGuard(const QString& sceneDir) {
    if (sceneDir != GuardSceneDir) {
        GuardSceneDir = sceneDir;
        OldestDay = {};
        OldestScenes.clear();
    }
}

namespace {

// The scenes of Day, oldest first: from Memory while the day is the one it
// listed, unchanged, otherwise listed (and remembered) anew.
QList<TLayoutDirectory>& OldestScenesOf(const TLayoutDirectory& day,
                                        QList<TLayoutDirectory>& listed,
                                        TLayoutDirectory* rememberedDay,
                                        QList<TLayoutDirectory>* remembered) {
    if (remembered == nullptr) {
        listed = OldestFirst(LayoutDirectories(day.Path, IsSceneName));
        return listed;
    }
    if (rememberedDay->Path != day.Path || rememberedDay->Inode != day.Inode ||
        !SameTime(rememberedDay->Modified, day.Modified)) {
        *rememberedDay = day;
        *remembered = OldestFirst(LayoutDirectories(day.Path, IsSceneName));
    }
    return *remembered;
}

// Whether Scene still is the directory, with the time, it was listed with.
bool Unchanged(const TLayoutDirectory& scene) {
    const std::optional<struct stat> status = EntryStatus(scene.Path);
    return status && S_ISDIR(status->st_mode) && status->st_ino == scene.Inode &&
           SameTime(status->st_mtim, scene.Modified);
}

} // namespace

bool DeleteOldestScene(const QString& sceneDir, QString& deletedPath, TSceneFileMemory* memory,
                       TDeletionControl* control) {
    if (memory != nullptr)
        memory->UseForGuard(sceneDir);
    TLayoutDirectory* rememberedDay = memory != nullptr ? &memory->OldestDay : nullptr;
    QList<TLayoutDirectory>* remembered = memory != nullptr ? &memory->OldestScenes : nullptr;
    // A scene or day that cannot be removed (a file of the user's in it) is
    // passed over, so it never stops the guard for good.
    for (const TLayoutDirectory& day : OldestFirst(LayoutDirectories(sceneDir, IsDayName))) {
        QList<TLayoutDirectory> listed;
        QList<TLayoutDirectory>* scenes = &OldestScenesOf(day, listed, rememberedDay, remembered);
        // Once per call at most, so a scene being written to cannot keep it busy.
        bool listedNow = scenes != remembered;
        for (qsizetype i = 0; i < scenes->size(); ++i) {
            if (Stopped(control))
                return false;
            // A remembered scene that changed since (written to, replaced or
            // gone) may no longer be in its place: the day is listed anew.
            if (!listedNow && !Unchanged(scenes->at(i))) {
                *remembered = OldestFirst(LayoutDirectories(day.Path, IsSceneName));
                listedNow = true;
                i = -1;
                continue;
            }
            const QString path = scenes->at(i).Path;
            if (DeleteRecordedScene(sceneDir, path, control)) {
                // The day keeps its time, so what is remembered stays true.
                scenes->removeAt(i);
                if (memory != nullptr)
                    memory->LargeScenes.remove(QFileInfo(path).fileName());
                deletedPath = path;
                return true;
            }
        }
        if (!Stopped(control) && scenes->isEmpty() && QDir().rmdir(day.Path)) {
            if (memory != nullptr)
                memory->OldestDay = {};
            deletedPath = day.Path;
            return true;
        }
    }
    return false;
}

namespace {

using TOwnScenes = std::vector<TOwnSceneLog::TEntry>;

bool InDay(const TOwnSceneLog::TEntry& entry, const QString& dayDir) {
    return SamePath(entry.DayDir, dayDir);
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The maker's scenes of the day the sweep for Keep leaves alone: Keep and every
// scene begun after it. When Keep is no longer held, every scene of the day.
QStringList ScenesToSpare(const TOwnScenes& own, const QString& dayDir, const QString& keep) {
    const auto last = std::find_if(own.rbegin(), own.rend(), [&](const auto& entry) {
        return InDay(entry, dayDir) && SameName(entry.SceneName, keep);
    });
    QStringList spare{keep};
    for (auto entry = last == own.rend() ? own.begin() : last.base(); entry != own.end(); ++entry)
        if (InDay(*entry, dayDir))
            spare.append(entry->SceneName);
    return spare;
}

// Whether the day is now as the last sweep left it but for the maker's scenes
// begun since, each having changed it from where the one before left it.
bool OnlyOwnChanges(const std::optional<TDirectoryState>& swept, quint64 sweptThrough,
                    const TOwnScenes& own, const QString& dayDir,
                    const std::optional<TDirectoryState>& now) {
    if (!swept || !now || (!own.empty() && own.front().Number > sweptThrough + 1))
        return false;
    TDirectoryState state = *swept;
    for (const TOwnSceneLog::TEntry& entry : own) {
        if (entry.Number <= sweptThrough || !InDay(entry, dayDir))
            continue;
        if (!entry.Before || !entry.After)
            return false;
        if (*entry.Before == state)
            state = *entry.After;
        else if (!(*entry.After == state)) // else begun just before the day was looked at
            return false;
    }
    return state == *now;
}

} // namespace

void SweepSmallScenes(const QString& sceneDir, const QString& sPath, int minPictures,
                      TSceneFileMemory* memory, const TOwnSceneLog* ownScenes,
                      TDeletionControl* control) {
    const QString dayName = sPath.section(QLatin1Char('/'), 0, 0);
    if (!IsDayName(dayName))
        return;
    const QString dayDir = Join(sceneDir, dayName);
    const QString keep = QFileInfo(Join(sceneDir, sPath)).fileName();
    if (memory != nullptr)
        memory->UseForSweep(sceneDir, dayDir, minPictures);
    const auto ownNow = [ownScenes] {
        return ownScenes != nullptr ? ownScenes->Entries() : TOwnScenes();
    };
    // The day first, then the log: every scene of the maker's in what was
    // looked at is in the log.
    const std::optional<TDirectoryState> now = TDirectoryState::Of(dayDir);
    TOwnScenes own = ownNow();
    QStringList names;
    QList<ino_t> inodes;
    if (memory != nullptr && ownScenes != nullptr &&
        OnlyOwnChanges(memory->SweptDay, memory->SweptThrough, own, dayDir, now)) {
        // Every other scene was counted large before: only those spared or
        // left last time and the maker's since need a look.
        QStringList candidates = memory->Undeleted + memory->Spared;
        for (const TOwnSceneLog::TEntry& entry : own)
            if (entry.Number > memory->SweptThrough && InDay(entry, dayDir))
                candidates.append(entry.SceneName);
        candidates.removeDuplicates();
        for (const QString& name : candidates) {
            const std::optional<struct stat> status = EntryStatus(Join(dayDir, name));
            if (status && S_ISDIR(status->st_mode)) {
                names.append(name);
                inodes.append(status->st_ino);
            }
        }
    } else {
        // Listed in directory order, without a stat per scene: the sweep's
        // result does not depend on the order.
        TDirectoryStream stream(dayDir);
        while (const dirent* entry = stream.Next()) {
            const QString name = NameOf(entry);
            if (IsSceneName(name) && IsListedDirectory(dayDir, entry)) {
                names.append(name);
                inodes.append(entry->d_ino);
            }
        }
        // Scenes begun while the day was read are spared as well.
        own = ownNow();
    }
    const QStringList spare = ScenesToSpare(own, dayDir, keep);
    QList<QString> small;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        if (memory != nullptr) {
            const auto known = memory->LargeScenes.constFind(name);
            if (known != memory->LargeScenes.cend() && *known == inodes[i])
                continue;
        }
        if (std::any_of(spare.begin(), spare.end(),
                        [&](const QString& spared) { return SameName(spared, name); }))
            continue;
        const QString path = Join(dayDir, name);
        if (CountFilesUpTo(path, minPictures) < minPictures)
            small.append(path);
        else if (memory != nullptr)
            memory->LargeScenes.insert(name, inodes[i]);
    }
    QStringList undeleted;
    for (const QString& path : small)
        if (!DeleteRecordedScene(sceneDir, path, control))
            undeleted.append(QFileInfo(path).fileName());
    if (memory != nullptr) {
        memory->Undeleted = undeleted;
        memory->Spared = spare;
        memory->SweptThrough = own.empty() ? memory->SweptThrough : own.back().Number;
        memory->SweptDay = TDirectoryState::Of(dayDir);
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
