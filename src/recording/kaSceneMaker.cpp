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
#include <unistd.h>

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

// Writes Image aside, forces it to the disk and renames it over FileName, so a
// crash or a full disk never leaves a truncated picture under the real name.
void WritePictureFile(const TJPEGImage& image, const QString& directory, const QString& name) {
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
        RaiseWriteError(fileName, QString::fromLocal8Bit(std::strerror(errno)));
    temp.File.close();
    if (temp.File.error() != QFileDevice::NoError)
        RaiseWriteError(fileName, temp.File.errorString());
    // rename() replaces an existing picture of the same name in one step.
    if (std::rename(QFile::encodeName(temp.File.fileName()).constData(),
                    QFile::encodeName(fileName).constData()) != 0)
        RaiseWriteError(fileName, QString::fromLocal8Bit(std::strerror(errno)));
    temp.Committed = true;
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

QString TkaSceneMaker::BeginScene(double time) {
    const QDateTime local = DateTimeToQDateTime(time);
    FPictureCount = 0;
    FCurrentSceneDir = IncludeBackslash(FSceneDir) + DayName(local);
    QDir().mkdir(FCurrentSceneDir); // one level; failure ignored
    FCurrentSceneDir = IncludeBackslash(FCurrentSceneDir) + SceneName(local);
    QDir().mkdir(FCurrentSceneDir); // failure ignored
    return DayName(local) + QLatin1Char('/') + SceneName(local);
}

QString TkaSceneMaker::AddPicture(const TJPEGImage& image) {
    QString sPath;
    const double time = Now();
    bool announce = false;
    if (NewSceneBegins(time)) {
        if (FSceneDir.isEmpty()) {
            // No root to record below: joining would reach the file system's root.
            FCurrentSceneDir.clear();
            FLastPictureTime = time;
            return sPath;
        }
        sPath = BeginScene(time);
        announce = static_cast<bool>(OnNewScene);
    }
    FLastPictureTime = time;

    // A running scene whose directory was deleted goes on under the same name.
    QDir().mkdir(FCurrentSceneDir); // failure ignored
    if (QFileInfo(FCurrentSceneDir).isDir()) {
        WritePictureFile(image, FCurrentSceneDir, PictureName(DateTimeToQDateTime(time)));
        ++FPictureCount;
    }
    if (announce && OnNewScene)
        OnNewScene(this, sPath);
    return sPath;
}
