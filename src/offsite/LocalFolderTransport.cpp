#include "LocalFolderTransport.h"

#include "TkaAtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void TLocalFolderTransport::CheckFolder() const {
    if (!QFileInfo(FFolder).isDir())
        throw EOffsiteCopy(
            QStringLiteral("The folder %1 does not exist (is the share mounted?)").arg(FFolder));
}

void TLocalFolderTransport::MakeDirectories(const QString& relativePath) const {
    const QString directory = QFileInfo(FFolder + QLatin1Char('/') + relativePath).path();
    if (!QDir().mkpath(directory))
        throw EOffsiteCopy(QStringLiteral("Error creating Directory %1").arg(directory));
}

void TLocalFolderTransport::Put(const QString& localFile, const QString& relativePath,
                                bool /*mayExist*/) {
    CheckFolder();
    const QString target = FFolder + QLatin1Char('/') + relativePath;
    const QFileInfo existing(target);
    const QFileInfo local(localFile);
    if (existing.isFile() && local.isFile() && existing.size() == local.size())
        return;
    const QByteArray data = ReadLocalFile(localFile);
    MakeDirectories(relativePath);
    // Written aside, synced and renamed: a share that drops out mid-way
    // leaves no half picture under the picture's name.
    TkaAtomicFile::Replace<EOffsiteCopy>(target, data, [&target](const QString& reason) {
        return QStringLiteral("Error writing File %1: %2").arg(target, reason);
    });
}

void TLocalFolderTransport::Remove(const QString& relativePath) {
    CheckFolder();
    const QString target = FFolder + QLatin1Char('/') + relativePath;
    QFile file(target);
    if (file.exists() && !file.remove())
        throw EOffsiteCopy(
            QStringLiteral("Error deleting File %1: %2").arg(target, file.errorString()));
}
