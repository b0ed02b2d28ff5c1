#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <functional>
#include <limits>
#include <optional>

// Directory listings that read at most a given number of entries, so that
// the main thread can list what is small and hand the rest to a worker.
// Budget counts every entry read, kept or not, and is reduced by them.

// Entries read on the main thread before a listing goes to a worker.
constexpr qint64 MainThreadListingBudget = 2000;
// What a worker may read.
constexpr qint64 UnboundedListing = std::numeric_limits<qint64>::max();

// The names of Directory's entries (hidden ones included) that Keep accepts,
// sorted as SortedDirectoryEntries sorts them; null when reading them would
// take more than Budget entries.
std::optional<QStringList> SortedEntriesWithin(const QString& directory,
                                               const std::function<bool(const QFileInfo&)>& keep,
                                               qint64& budget);

// The files of a scene directory as ListSceneFiles gives them, within Budget.
std::optional<QStringList> SceneFilesWithin(const QString& sceneDir, qint64& budget);

// Whether Directory directly holds a visible "*.jpg" file that is no link,
// within Budget; the reading stops at the first one.
std::optional<bool> HasPicturesWithin(const QString& directory, qint64& budget);
