#include "kaSceneFiles.h"

#include "kaGeneral.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace {

const QString TempSuffix = QStringLiteral(".tmp");

QString Join(const QString& directory, const QString& name) {
    return IncludeBackslash(directory) + name;
}

bool IsPictureName(const QString& name) {
    return name.toLower().contains(QStringLiteral(".jpg"));
}

// A real directory: a symbolic link to one is an entry like a file, so that
// deleting never reaches outside the scene tree.
bool IsRealDirectory(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

// The first of the least recently modified real subdirectories, in name order.
std::optional<QString> OldestSubDirectory(const QString& directory) {
    std::optional<QString> oldest;
    QDateTime oldestTime;
    for (const QString& name :
         SortedDirectoryEntries(directory, QDir::Dirs | QDir::System | QDir::NoSymLinks)) {
        const QString path = Join(directory, name);
        if (!IsRealDirectory(path))
            continue;
        const QDateTime modified = QFileInfo(path).lastModified();
        if (!oldest || modified < oldestTime) {
            oldest = path;
            oldestTime = modified;
        }
    }
    return oldest;
}

} // namespace

QString PictureTempName(const QString& pictureName) {
    QString base = pictureName;
    if (base.endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive))
        base.chop(4);
    return QLatin1Char('.') + base + TempSuffix;
}

bool IsPictureTempName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.\\d{17}\\.tmp$"));
    return pattern.match(name).hasMatch();
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

void DeleteSceneTree(const QString& path) {
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
            DeleteSceneTree(entry); // removes the directory itself when emptied
        else if (IsPictureName(name))
            QFile::remove(entry); // failure ignored
    }
    QDir().rmdir(path); // fails, without a message, while anything remains
}

bool DeleteOldestScene(const QString& sceneDir, QString& deletedPath) {
    const std::optional<QString> day = OldestSubDirectory(sceneDir);
    if (!day)
        return false;
    if (const std::optional<QString> scene = OldestSubDirectory(*day)) {
        deletedPath = *scene;
        DeleteSceneTree(*scene);
        return !QFileInfo::exists(*scene);
    }
    if (!QDir().rmdir(*day))
        return false;
    deletedPath = *day;
    return true;
}

void SweepSmallScenes(const QString& dayDir, const QString& newSceneDir, int minPictures) {
    const QString keep = QDir::cleanPath(newSceneDir);
    for (const QString& name : SortedDirectoryEntries(dayDir, QDir::Dirs | QDir::NoSymLinks)) {
        if (IsHiddenName(name))
            continue;
        const QString scene = Join(dayDir, name);
        if (QDir::cleanPath(scene).compare(keep, Qt::CaseInsensitive) == 0)
            continue;
        if (CountFiles(scene) < minPictures)
            DeleteSceneTree(scene);
    }
}
