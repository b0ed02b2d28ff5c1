#pragma once

#include "FileStamp.h"

#include <QHash>
#include <QString>
#include <exception>

// The picture files that could not be read, each with the state its file had
// then: the pages pass over them without decoding them again, and a file that
// has been rewritten since is tried once more. The first failure of each file
// goes to the error log, so a broken picture is reported once, not per tick.
// One registry serves all pages of the explorer.
class TUnreadablePictures {
public:
    // Bounds the memory of a long run with many broken files.
    static constexpr int MaxEntries = 10000;

    // True when FileName, as it is on disk now, failed before.
    bool Known(const QString& fileName) const;
    // Remembers FileName as unreadable and logs Error unless this state of the
    // file was reported already.
    void Report(const QString& fileName, const std::exception& error);

    int Count() const { return int(Items.size()); }

    // What the pages show for such a file: "The picture cannot be read".
    static QString Message();

private:
    QHash<QString, TFileStamp> Items;
};
