#pragma once

#include <QString>
#include <functional>

class QTreeWidgetItem;

// The rules that trim a camera's recordings in the explorer tree when a scene
// begins, and the removal of a node whose scene the disk-space guard deleted.
// Day and scene nodes carry path node objects; nodes without one are skipped.

// Both delete on disk only what the recording layout below SceneDir names
// (DeleteRecordedScene); a node over anything else just leaves the tree.
// Remove, when given, deletes a scene directory in the node's place (later,
// on another thread); by default it is deleted at once.
using TSceneRemoval = std::function<void(const QString& scenePath)>;

// Per-day limit: while the expanded DayNode shows more than MaxScenes scenes,
// its last (oldest shown) scene is collapsed, deleted on disk and removed.
// Runs under the busy cursor. A collapsed day has no scene nodes to trim.
void LimitScenesPerDay(QTreeWidgetItem* dayNode, const QString& sceneDir, int maxScenes,
                       const TSceneRemoval& remove = {});

// Previous-scene check: when NewSceneNode is the first scene of an expanded
// day, the scene after it is deleted (on disk and in the tree) if it holds
// fewer than MinPictures files (counted no further). The new scene itself is
// never touched.
void CheckPreviousScene(QTreeWidgetItem* newSceneNode, const QString& sceneDir, int minPictures,
                        const TSceneRemoval& remove = {});

// Removes the node that shows Path (compared ignoring letter case) after a
// deletion by the guard: the shown days and their scenes are looked at from
// the last (oldest) backwards, since the guard passes over a scene it cannot
// remove and may take one of a later day.
void RemoveDeletedSceneNode(QTreeWidgetItem* sceneNode, const QString& path);
