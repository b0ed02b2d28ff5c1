#pragma once

#include <QString>
#include <QtGlobal>

// What a file is on disk at the moment: a rewritten or replaced file gets a
// new stamp even within the same second (nanosecond time and inode).
struct TFileStamp {
    bool Exists = false;
    qint64 Size = 0;
    qint64 ModifiedNs = 0;
    quint64 Inode = 0;

    // The stamp of a regular file; a missing file or another kind of entry
    // does not exist.
    static TFileStamp Of(const QString& fileName);
    // The same for a directory: its time changes whenever an entry is added,
    // removed or renamed.
    static TFileStamp OfDirectory(const QString& path);

    bool operator==(const TFileStamp&) const = default;
};
