#pragma once

#include "TreeNodeObject.h"

#include <QString>
#include <QStringList>

// The object of a directory node (a camera's scene directory, a day, a scene).
class TPathTreeNodeObject : public TTreeNodeObject {
public:
    TPathTreeNodeObject(QTreeWidgetItem* node, QString path, TTreeNodeFrame* page);

    const QString& Path() const { return FPath; }
    // Another directory (compared exactly) makes the remembered unread names stale.
    void SetPath(const QString& value);

    // Marking read also forgets the unread descendants.
    void SetUnread(bool value) override;

    // Unread descendants that have no node at the moment, each the captions on
    // the way down joined by backslashes (day captions contain "/").
    QStringList& UnreadNames() { return FUnreadNames; }
    const QStringList& UnreadNames() const { return FUnreadNames; }

private:
    QString FPath;
    QStringList FUnreadNames;
};

// The node's object when it is a path node object, otherwise (no node, no
// object, another kind of object) null.
TPathTreeNodeObject* PathNodeObject(const QTreeWidgetItem* node);
