#include "OffsiteTransport.h"

#include "LocalFolderTransport.h"
#include "SftpTransport.h"
#include "TkaAtomicFile.h"
#include "TkaBoundedRead.h"
#include "WebDavTransport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

std::unique_ptr<TOffsiteTransport> TOffsiteTransport::Make(const TOffsiteTarget& target,
                                                           const std::atomic<bool>* cancel) {
    switch (target.Kind) {
    case TOffsiteKind::Sftp:
        return std::make_unique<TSftpTransport>(target, cancel);
    case TOffsiteKind::WebDav:
        return std::make_unique<TWebDavTransport>(target, cancel);
    case TOffsiteKind::LocalFolder:
        return std::make_unique<TLocalFolderTransport>(target.LocalFolder());
    case TOffsiteKind::None:
        break;
    }
    throw EOffsiteCopy(QStringLiteral("No off-site target is set"));
}

QByteArray TOffsiteTransport::ReadLocalFile(const QString& localFile) {
    QFile file(localFile);
    if (!file.open(QIODevice::ReadOnly))
        throw EOffsiteCopy(
            QStringLiteral("Error reading File %1: %2").arg(localFile, file.errorString()));
    // Read in chunks: QIODevice::read(MaxFileSize) would reserve the whole bound
    // for every picture.
    QByteArray data;
    QString error;
    if (!TkaBoundedRead::ReadAll(file, MaxFileSize, data, error))
        throw EOffsiteCopy(QStringLiteral("Error reading File %1: %2").arg(localFile, error));
    return data;
}

QString TOffsiteTransport::TemporaryPath(const QString& relativePath) {
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    return relativePath.left(slash + 1) + QLatin1Char('.') + relativePath.mid(slash + 1) +
           QStringLiteral(".part");
}

QString TryOffsiteTarget(const TOffsiteTarget& target, const std::atomic<bool>* cancel) {
    QTemporaryDir folder;
    const QString name =
        QStringLiteral(".tarvik-try-%1.txt").arg(QDateTime::currentMSecsSinceEpoch());
    const QString localFile = folder.filePath(name);
    try {
        if (!folder.isValid())
            throw EOffsiteCopy(QStringLiteral("No temporary folder: %1").arg(folder.errorString()));
        TkaAtomicFile::Replace<EOffsiteCopy>(
            localFile, QByteArrayLiteral("Tarvik off-site copy test\n"),
            [&localFile](const QString& reason) {
                return QStringLiteral("Error writing File %1: %2").arg(localFile, reason);
            });
        const std::unique_ptr<TOffsiteTransport> transport =
            TOffsiteTransport::Make(target, cancel);
        transport->Put(localFile, name, false);
        transport->Remove(name);
    } catch (const EOffsiteCopy& error) {
        return error.message();
    }
    return {};
}
