#include "kaSceneMaker.h"

#include "TJPEGImage.h"
#include "kaGeneral.h"
#include "kaSceneFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr double SecondsPerDay = 24.0 * 3600.0;

QString DayName(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyyMMdd"));
}

QString SceneName(const QDateTime& time) {
    return time.toString(QStringLiteral("HHmmsszzz"));
}

QString PictureName(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyyMMddHHmmsszzz")) + QStringLiteral(".jpg");
}

// The pause in whole seconds, halves rounded to even, held in 64 bits.
qint64 PauseSeconds(double days) {
    const double seconds = std::nearbyint(days * SecondsPerDay);
    constexpr double limit = 9.0e18;
    if (std::isnan(seconds))
        return 0;
    if (seconds >= limit)
        return std::numeric_limits<qint64>::max();
    if (seconds <= -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(seconds);
}

// The temporary file of one picture: removed again unless it was renamed into place.
class TempPictureFile {
public:
    explicit TempPictureFile(const QString& fileName) : File(fileName) {}
    ~TempPictureFile() {
        if (!Committed) {
            File.close();
            QFile::remove(File.fileName()); // failure ignored: it stays hidden
        }
    }
    TempPictureFile(const TempPictureFile&) = delete;
    TempPictureFile& operator=(const TempPictureFile&) = delete;

    QFile File;
    bool Committed = false;
};

[[noreturn]] void RaiseWriteError(const QString& fileName, const QString& reason) {
    throw EPictureWrite(QStringLiteral("Error writing File %1: %2").arg(fileName, reason));
}

QString ErrnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes Image aside, forces it to the disk and renames it to a free picture
// name, so a crash or a full disk never leaves a truncated picture under a
// picture name and no picture ever replaces another. Returns the name used.
QString WritePictureFile(const TJPEGImage& image, const QString& directory, const QString& name) {
    const QString fileName = IncludeBackslash(directory) + name;
    TempPictureFile temp(IncludeBackslash(directory) + PictureTempName(name));
    if (!temp.File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        RaiseWriteError(fileName, temp.File.errorString());
    try {
        image.SaveToStream(temp.File);
    } catch (const EkaError& error) {
        RaiseWriteError(fileName, error.message());
    }
    if (!temp.File.flush())
        RaiseWriteError(fileName, temp.File.errorString());
    if (::fdatasync(temp.File.handle()) != 0)
        RaiseWriteError(fileName, ErrnoText(errno));
    temp.File.close();
    if (temp.File.error() != QFileDevice::NoError)
        RaiseWriteError(fileName, temp.File.errorString());
    const std::optional<QString> placed =
        MovePictureIntoPlace(temp.File.fileName(), directory, name);
    if (!placed)
        RaiseWriteError(fileName, ErrnoText(errno));
    temp.Committed = true;
    return *placed;
}

// Creates one directory level; an existing directory is fine. Returns why it
// cannot be had, or an empty text.
QString MakeDirectory(const QString& path, bool* created = nullptr) {
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) {
        if (created != nullptr)
            *created = true;
        return {};
    }
    int error = errno;
    if (error == EEXIST) {
        if (QFileInfo(path).isDir())
            return {};
        error = ENOTDIR; // a file stands where the directory belongs
    }
    return QStringLiteral("Error creating Directory %1: %2").arg(path, ErrnoText(error));
}

} // namespace

TkaSceneMaker::TkaSceneMaker(QObject* parent)
    : QObject(parent), FSceneDir(ProgramSubDir(QStringLiteral("Scenes"))),
      FLastPictureTime(Now() - 1.0) {}

bool TkaSceneMaker::NewSceneBegins(double time) const {
    if (FPictureCount >= FMaxPicturePerScene)
        return true;
    if (PauseSeconds(time - FLastPictureTime) > static_cast<qint64>(FSecondsBeforeNewScene))
        return true;
    return FCurrentSceneDir.isEmpty();
}

void TkaSceneMaker::BeginScene(double time) {
    // A scene that never stored a picture leaves no empty folders behind.
    if (!FUnannouncedScene.isEmpty()) {
        QDir().rmdir(FCurrentSceneDir); // failure ignored: it holds something
        QDir().rmdir(FCurrentDayDir);
    }
    const QDateTime local = DateTimeToQDateTime(time);
    FPictureCount = 0;
    FSceneRoot = FSceneDir;
    FCurrentDayDir = IncludeBackslash(FSceneDir) + DayName(local);
    FCurrentSceneDir = IncludeBackslash(FCurrentDayDir) + SceneName(local);
    FUnannouncedScene = DayName(local) + QLatin1Char('/') + SceneName(local);
}

bool TkaSceneMaker::MakeSceneDirectories() {
    // One level each, so a scene directory removed while recording (even the
    // camera's SceneDir) comes back, but no folder above it is ever invented.
    for (const QString& level : {FSceneRoot, FCurrentDayDir}) {
        const QString error = MakeDirectory(level);
        if (!error.isEmpty()) {
            Dropped(error);
            return false;
        }
    }
    return MakeSceneDirectory();
}

bool TkaSceneMaker::MakeSceneDirectory() {
    const std::optional<TDirectoryState> before = TDirectoryState::Of(FCurrentDayDir);
    bool created = false;
    const QString error = MakeDirectory(FCurrentSceneDir, &created);
    if (!error.isEmpty()) {
        Dropped(error);
        return false;
    }
    if (created)
        FOwnScenes->Note(FCurrentDayDir, QFileInfo(FCurrentSceneDir).fileName(), before,
                         TDirectoryState::Of(FCurrentDayDir));
    return true;
}

void TkaSceneMaker::Dropped(const QString& reason) {
    FLastPictureStored = false;
    FStoreError = reason;
}

QString TkaSceneMaker::AddPicture(const TJPEGImage& image) {
    const double time = Now();
    if (NewSceneBegins(time)) {
        if (FSceneDir.isEmpty()) {
            // No root to record below: joining would reach the file system's root.
            FCurrentSceneDir.clear();
            FUnannouncedScene.clear();
            FLastPictureTime = time;
            Dropped(QStringLiteral("No scene directory"));
            return {};
        }
        BeginScene(time);
    }
    FLastPictureTime = time;
    if (!MakeSceneDirectories())
        return {};
    QString stored;
    try {
        stored = WritePictureFile(image, FCurrentSceneDir, PictureName(DateTimeToQDateTime(time)));
    } catch (const EPictureWrite& error) {
        Dropped(error.message());
        throw;
    }
    ++FPictureCount;
    FLastPictureStored = true;
    FStoreError.clear();
    if (OnPictureStored)
        OnPictureStored(IncludeBackslash(FCurrentSceneDir) + stored);
    // A scene is announced with its first stored picture, never before.
    const QString sPath = std::exchange(FUnannouncedScene, QString());
    if (!sPath.isEmpty() && OnNewScene)
        OnNewScene(this, sPath);
    return sPath;
}
