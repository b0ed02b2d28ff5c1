#pragma once

#include "CurlTransfer.h"
#include "OffsiteTransport.h"

#include <optional>

// Copies over SFTP with libcurl's SSH support. The server's host key must be
// in the known-hosts file, as OpenSSH would demand; an unknown or changed key
// is refused, never accepted on the way.
class TSftpTransport : public TOffsiteTransport {
public:
    TSftpTransport(TOffsiteTarget target, const std::atomic<bool>* cancel);

    void Put(const QString& localFile, const QString& relativePath, bool mayExist) override;
    void Remove(const QString& relativePath) override;

private:
    static int CheckHostKey(CURL*, const curl_khkey* known, const curl_khkey* found,
                            curl_khmatch match, void* self);
    QString RemotePath(const QString& relativePath) const;
    void Prepare(const QString& remotePath);
    // Size of RemotePath on the server; none when it is not there.
    std::optional<qint64> RemoteSize(const QString& remotePath);
    [[noreturn]] void Fail(CURLcode code, const QString& what);

    TOffsiteTarget FTarget;
    TCurlTransfer FTransfer;
    std::optional<curl_khmatch> FHostKeyMatch;
};
