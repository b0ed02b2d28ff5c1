#pragma once

#include "CurlTransfer.h"
#include "OffsiteTransport.h"

#include <QSet>
#include <optional>

// Copies to a WebDAV folder (Nextcloud, Apache's mod_dav) with HTTP PUT,
// MKCOL and MOVE. TLS certificates are checked against the system's store.
class TWebDavTransport : public TOffsiteTransport {
public:
    TWebDavTransport(TOffsiteTarget target, const std::atomic<bool>* cancel);

    void Put(const QString& localFile, const QString& relativePath, bool mayExist) override;
    void Remove(const QString& relativePath) override;

private:
    QByteArray UrlOf(const QString& relativePath) const;
    void Prepare(const QString& method, const QString& relativePath);
    long Run(const QString& what, const QString& relativePath);
    std::optional<qint64> RemoteSize(const QString& relativePath);
    // The collections above RelativePath, each made once per connection.
    void MakeCollections(const QString& relativePath);
    [[noreturn]] void Refused(const QString& what, const QString& relativePath, long status);

    TOffsiteTarget FTarget;
    TCurlTransfer FTransfer;
    QSet<QString> FMadeCollections;
};
