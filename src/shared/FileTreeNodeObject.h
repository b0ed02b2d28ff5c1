#pragma once

#include "TreeNodeObject.h"

#include <QString>

// The object of a picture file node: the file's full path.
class TFileTreeNodeObject : public TTreeNodeObject {
public:
    explicit TFileTreeNodeObject(QString fileName);

    const QString& FileName() const { return FFileName; }
    void SetFileName(const QString& value) { FFileName = value; }

private:
    QString FFileName;
};
