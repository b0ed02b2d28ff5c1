#include "SftpTransport.h"

#include <QFileInfo>

namespace {

// A path for libcurl's SFTP commands, quoted so blanks and quotes survive.
QByteArray QuotedPath(const QString& path) {
    QByteArray quoted = path.toUtf8();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + '"';
}

} // namespace

TSftpTransport::TSftpTransport(TOffsiteTarget target, const std::atomic<bool>* cancel)
    : FTarget(std::move(target)), FTransfer(cancel) {}

int TSftpTransport::CheckHostKey(CURL*, const curl_khkey*, const curl_khkey*, curl_khmatch match,
                                 void* self) {
    static_cast<TSftpTransport*>(self)->FHostKeyMatch = match;
    return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
}

QString TSftpTransport::RemotePath(const QString& relativePath) const {
    QString base = FTarget.Base.path();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + relativePath;
}

void TSftpTransport::Prepare(const QString& remotePath) {
    FTransfer.Reset();
    QUrl url = FTarget.Base;
    url.setPath(remotePath, QUrl::DecodedMode);
    FTransfer.Set(CURLOPT_URL, url.toEncoded());
    FTransfer.Set(CURLOPT_USERNAME, FTarget.User.toUtf8());
    long methods = CURLSSH_AUTH_PUBLICKEY | CURLSSH_AUTH_AGENT;
    if (!FTarget.IdentityFile.isEmpty()) {
        FTransfer.Set(CURLOPT_SSH_PRIVATE_KEYFILE, QFile::encodeName(FTarget.IdentityFile));
        const QString publicKey = FTarget.IdentityFile + QStringLiteral(".pub");
        if (QFileInfo::exists(publicKey))
            FTransfer.Set(CURLOPT_SSH_PUBLIC_KEYFILE, QFile::encodeName(publicKey));
        if (!FTarget.Password.isEmpty())
            FTransfer.Set(CURLOPT_KEYPASSWD, FTarget.Password.toUtf8());
    } else if (!FTarget.Password.isEmpty()) {
        FTransfer.Set(CURLOPT_PASSWORD, FTarget.Password.toUtf8());
        methods = CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
    }
    FTransfer.Set(CURLOPT_SSH_AUTH_TYPES, methods);
    FTransfer.Set(CURLOPT_SSH_KNOWNHOSTS, QFile::encodeName(FTarget.KnownHostsFile));
    curl_easy_setopt(FTransfer.Handle(), CURLOPT_SSH_KEYFUNCTION, &TSftpTransport::CheckHostKey);
    FTransfer.SetPointer(CURLOPT_SSH_KEYDATA, this);
    FHostKeyMatch.reset();
}

void TSftpTransport::Fail(CURLcode code, const QString& what) {
    const QString server = FTarget.Display();
    if (FHostKeyMatch == CURLKHMATCH_MISMATCH)
        throw EOffsiteCopy(QStringLiteral("The host key of %1 differs from the one in %2: refused "
                                          "(the server was replaced, or someone is in between)")
                               .arg(server, FTarget.KnownHostsFile));
    if (FHostKeyMatch == CURLKHMATCH_MISSING)
        throw EOffsiteCopy(
            QStringLiteral("The host key of %1 is not in %2: refused. Log in once with ssh and "
                           "check the key's fingerprint to add it")
                .arg(server, FTarget.KnownHostsFile));
    throw EOffsiteCopy(QStringLiteral("%1 on %2: %3").arg(what, server, FTransfer.ErrorText(code)));
}

std::optional<qint64> TSftpTransport::RemoteSize(const QString& remotePath) {
    Prepare(remotePath);
    FTransfer.Set(CURLOPT_NOBODY, 1L);
    const CURLcode code = FTransfer.Perform();
    if (code == CURLE_REMOTE_FILE_NOT_FOUND)
        return std::nullopt;
    if (code != CURLE_OK)
        Fail(code, QStringLiteral("Error reading %1").arg(remotePath));
    const curl_off_t length = FTransfer.ContentLength();
    return length < 0 ? std::nullopt : std::optional<qint64>(length);
}

void TSftpTransport::Put(const QString& localFile, const QString& relativePath, bool mayExist) {
    const QString remote = RemotePath(relativePath);
    const std::optional<qint64> present = mayExist ? RemoteSize(remote) : std::nullopt;
    if (present && *present == QFileInfo(localFile).size())
        return;
    QByteArray data = ReadLocalFile(localFile);
    const QString temporary = RemotePath(TemporaryPath(relativePath));
    Prepare(temporary);
    FTransfer.SetUpload(std::move(data));
    FTransfer.Set(CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR));
    // SFTP (version 3) does not rename over a file: an older copy of another
    // size goes first.
    QList<QByteArray> commands{"rename " + QuotedPath(temporary) + ' ' + QuotedPath(remote)};
    if (present)
        commands.prepend("rm " + QuotedPath(remote));
    FTransfer.SetList(CURLOPT_POSTQUOTE, commands);
    const CURLcode code = FTransfer.Perform();
    if (code != CURLE_OK)
        Fail(code, QStringLiteral("Error writing %1").arg(remote));
}

void TSftpTransport::Remove(const QString& relativePath) {
    const QString remote = RemotePath(relativePath);
    Prepare(RemotePath(QString()));
    FTransfer.Set(CURLOPT_NOBODY, 1L);
    FTransfer.SetList(CURLOPT_QUOTE, {"rm " + QuotedPath(remote)});
    const CURLcode code = FTransfer.Perform();
    if (code != CURLE_OK)
        Fail(code, QStringLiteral("Error deleting %1").arg(remote));
}
