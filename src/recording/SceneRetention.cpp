#include "SceneRetention.h"

#include "PathTreeNodeObject.h"
#include "THourGlass.h"
#include "kaSceneFiles.h"
#include "kaTreeView.h"

#include <QDir>
#include <QTreeWidgetItem>

namespace {

bool IsExpanded(const QTreeWidgetItem* node) {
    return node != nullptr && node->treeWidget() != nullptr && node->isExpanded();
}

// Collapses the scene node, deletes its directory and the node itself.
void DeleteSceneNode(QTreeWidgetItem* node, const QString& sceneDir, const TSceneRemoval& remove) {
    node->setExpanded(false);
    if (const TPathTreeNodeObject* object = PathNodeObject(node)) {
        if (remove)
            remove(object->Path());
        else
            DeleteRecordedScene(sceneDir, object->Path());
    }
    delete node;
}

bool SamePath(const QString& a, const QString& b) {
    return QDir::cleanPath(a).compare(QDir::cleanPath(b), Qt::CaseInsensitive) == 0;
}

} // namespace

void LimitScenesPerDay(QTreeWidgetItem* dayNode, const QString& sceneDir, int maxScenes,
                       const TSceneRemoval& remove) {
    if (!IsExpanded(dayNode) || dayNode->childCount() <= maxScenes)
        return;
    THourGlassScope busy;
    while (dayNode->childCount() > maxScenes && dayNode->childCount() > 0)
        DeleteSceneNode(dayNode->child(dayNode->childCount() - 1), sceneDir, remove);
}

void CheckPreviousScene(QTreeWidgetItem* newSceneNode, const QString& sceneDir, int minPictures,
                        const TSceneRemoval& remove) {
    if (newSceneNode == nullptr)
        return;
    QTreeWidgetItem* day = newSceneNode->parent();
    if (!IsExpanded(day) || day->indexOfChild(newSceneNode) != 0 || day->childCount() < 2)
        return;
    QTreeWidgetItem* previous = day->child(1);
    const TPathTreeNodeObject* object = PathNodeObject(previous);
    if (object != nullptr && CountFilesUpTo(object->Path(), minPictures) < minPictures)
        DeleteSceneNode(previous, sceneDir, remove);
}

void RemoveDeletedSceneNode(QTreeWidgetItem* sceneNode, const QString& path) {
    if (sceneNode == nullptr)
        return;
    // Oldest shown day first, its oldest scene first: where the guard deletes.
    for (int d = sceneNode->childCount() - 1; d >= 0; --d) {
        QTreeWidgetItem* day = sceneNode->child(d);
        for (int s = day->childCount() - 1; s >= 0; --s) {
            const TPathTreeNodeObject* object = PathNodeObject(day->child(s));
            if (object != nullptr && SamePath(object->Path(), path)) {
                delete day->child(s);
                return;
            }
        }
        const TPathTreeNodeObject* object = PathNodeObject(day);
        if (object != nullptr && SamePath(object->Path(), path)) {
            delete day;
            return;
        }
    }
}
