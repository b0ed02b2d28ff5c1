#include "FileTreeNodeObject.h"

#include <utility>

TFileTreeNodeObject::TFileTreeNodeObject(QString fileName) : FFileName(std::move(fileName)) {}
