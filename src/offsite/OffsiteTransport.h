#pragma once

#include "OffsiteTarget.h"

#include <QString>
#include <atomic>
#include <memory>

// One way of putting files on the off-site target. Used by one thread at a
// time; may keep a connection open between calls.
class TOffsiteTransport {
public:
    // The largest picture that is copied; anything bigger is no picture of ours.
    static constexpr qint64 MaxFileSize = 256 * 1024 * 1024;

    virtual ~TOffsiteTransport() = default;

    // Copies LocalFile to RelativePath below the target, whole or not at all:
    // it goes to a temporary name first and is renamed when complete. A file
    // of the same size already there counts as copied and is not sent again.
    // MayExist false (a picture just stored, never tried) spares that look.
    // Raises EOffsiteCopy.
    virtual void Put(const QString& localFile, const QString& relativePath, bool mayExist) = 0;
    // Removes RelativePath from the target.
    virtual void Remove(const QString& relativePath) = 0;

    // The transport for Target. Cancel, when set, stops a transfer under way.
    static std::unique_ptr<TOffsiteTransport> Make(const TOffsiteTarget& target,
                                                   const std::atomic<bool>* cancel = nullptr);

protected:
    // The content of LocalFile, read whole and bounded; raises EOffsiteCopy.
    static QByteArray ReadLocalFile(const QString& localFile);
    // "Dir/.Name.part" for "Dir/Name": hidden, so nothing lists it as a picture.
    static QString TemporaryPath(const QString& relativePath);
};

// Copies a small test file to the target and removes it again. Returns an
// empty text when both worked, otherwise the reason.
QString TryOffsiteTarget(const TOffsiteTarget& target, const std::atomic<bool>* cancel = nullptr);
