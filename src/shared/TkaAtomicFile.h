#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Replaces a file as a whole. The new content goes to a temporary beside the
// file; only when every write, the flush and the sync to the disk have
// succeeded is it renamed over the file. On any failure the temporary is
// removed and the file keeps its old content, byte for byte.
//
// QSaveFile is not enough: with Qt 6.4 its commit() can report success after
// a buffered write failed on a full disk, which replaced a settings file by
// one holding only its last key.
//
// A symbolic link is followed: its target is replaced and the link stays.
class TkaAtomicFile {
public:
    explicit TkaAtomicFile(QString fileName);
    // Removes the temporary unless it was committed.
    ~TkaAtomicFile();
    TkaAtomicFile(const TkaAtomicFile&) = delete;
    TkaAtomicFile& operator=(const TkaAtomicFile&) = delete;

    // Creates the temporary. False (with ErrorString) when it cannot be made.
    [[nodiscard]] bool Open();
    // Appends Data to the temporary; a short or failed write is a failure.
    [[nodiscard]] bool Write(const QByteArray& data);
    // Flushes, syncs and closes the temporary and renames it over the file.
    // False after any earlier failure: a file with a failed write is never
    // put in place.
    [[nodiscard]] bool Commit();
    // Drops the temporary; the file stays as it was.
    void Discard();

    const QString& FileName() const { return Name; }
    // Why the last step failed, with the system's reason.
    const QString& ErrorString() const { return Error; }

    // Replaces FileName by Data in one step. On failure raises E with the
    // text Message(reason), so each caller keeps its own named error.
    template <class E, class MessageFunction>
    static void Replace(const QString& fileName, const QByteArray& data, MessageFunction message,
                        TCodeLocation where = TCodeLocation::Current()) {
        TkaAtomicFile file(fileName);
        if (!file.Open() || !file.Write(data) || !file.Commit())
            throw E(message(file.ErrorString()), where);
    }

    // Removes the temporaries that writers of FileName left when they were
    // killed; they never hold anything the file lacks.
    static void RemoveLeftovers(const QString& fileName);

private:
    bool Fail(const QString& what, const QString& reason);

    QString Name;
    // The file that is replaced: Name, or the end of its chain of links.
    QString Target;
    QFile Temporary;
    // Whether the temporary is ours to remove.
    bool Created = false;
    bool Failed = false;
    bool Committed = false;
    QString Error;
};
