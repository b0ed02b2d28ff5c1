#include "BoundedListing.h"

#include "kaGeneral.h"
#include "kaSceneFiles.h"

#include <QDirIterator>
#include <algorithm>

namespace {

QDirIterator EveryEntry(const QString& directory) {
    return QDirIterator(directory,
                        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

std::optional<QStringList> SortedEntriesWithin(const QString& directory,
                                               const std::function<bool(const QFileInfo&)>& keep,
                                               qint64& budget) {
    QStringList names;
    for (QDirIterator entries = EveryEntry(directory); entries.hasNext();) {
        const QFileInfo entry = entries.nextFileInfo();
        if (--budget < 0)
            return std::nullopt;
        if (keep(entry))
            names.append(entry.fileName());
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

std::optional<QStringList> SceneFilesWithin(const QString& sceneDir, qint64& budget) {
    std::optional<QStringList> names = SortedEntriesWithin(
        sceneDir,
        [](const QFileInfo& entry) {
            return !entry.isDir() && !IsPictureTempName(entry.fileName());
        },
        budget);
    return names;
}

std::optional<bool> HasPicturesWithin(const QString& directory, qint64& budget) {
    for (QDirIterator entries = EveryEntry(directory); entries.hasNext();) {
        const QFileInfo entry = entries.nextFileInfo();
        if (--budget < 0)
            return std::nullopt;
        if (entry.fileName().endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive) &&
            !IsHiddenName(entry.fileName()) && entry.isFile() && !entry.isSymLink())
            return true;
    }
    return false;
}
