#pragma once

#include "EkaError.h"

#include <QString>
#include <set>

// Raised when the journal of waiting copies cannot be written.
class EOffsiteJournal : public EkaError {
public:
    using EkaError::EkaError;
};

// One picture waiting to be copied: where it lies here and where it goes on
// the target ("camera/yyyymmdd/hhnnsszzz/picture.jpg").
struct TOffsiteEntry {
    QString RelativePath;
    QString LocalPath;
    // Whether a copy may be on the target already (a journal entry of an
    // earlier run, or one whose copy failed); not part of the order.
    mutable bool MayExist = true;
};

// The newest scene first (by day and scene name, whatever the camera), the
// pictures of one scene in their order, so the last pictures before a theft
// leave first.
struct TOffsiteOrder {
    bool operator()(const TOffsiteEntry& left, const TOffsiteEntry& right) const;
};

using TOffsiteQueue = std::set<TOffsiteEntry, TOffsiteOrder>;

// The waiting copies on disk, so a kill, a power cut or a restart loses none.
// Every save replaces the whole file atomically.
class TOffsiteJournal {
public:
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

    explicit TOffsiteJournal(QString fileName) : FFileName(std::move(fileName)) {}

    const QString& FileName() const { return FFileName; }
    // The entries of the file; a missing file holds none. Lines that are no
    // entry are skipped and counted in SkippedLines; Problem tells why a file
    // could not be read at all.
    TOffsiteQueue Load();
    int SkippedLines() const { return FSkippedLines; }
    const QString& Problem() const { return FProblem; }
    // Raises EOffsiteJournal when the file cannot be replaced.
    void Save(const TOffsiteQueue& queue) const;

    static QByteArray Text(const TOffsiteQueue& queue);

private:
    QString FFileName;
    int FSkippedLines = 0;
    QString FProblem;
};
