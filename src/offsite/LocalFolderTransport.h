#pragma once

#include "OffsiteTransport.h"

// Copies into a folder of this machine, typically a mounted network share.
// The folder itself must exist: an unmounted share leaves an empty mount
// point, and filling that would copy onto the local disk.
class TLocalFolderTransport : public TOffsiteTransport {
public:
    explicit TLocalFolderTransport(QString folder) : FFolder(std::move(folder)) {}

    void Put(const QString& localFile, const QString& relativePath, bool mayExist) override;
    void Remove(const QString& relativePath) override;

private:
    void CheckFolder() const;
    // Creates the directories below the folder that lead to RelativePath.
    void MakeDirectories(const QString& relativePath) const;

    QString FFolder;
};
