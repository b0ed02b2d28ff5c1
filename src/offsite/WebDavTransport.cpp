#include "WebDavTransport.h"

#include <QFileInfo>

namespace {

constexpr long Ok = 200;
constexpr long Created = 201;
constexpr long NoContent = 204;
constexpr long NotFound = 404;
constexpr long MethodNotAllowed = 405; // MKCOL on a collection that exists

bool Succeeded(long status) {
    return status >= 200 && status < 300;
}

} // namespace

TWebDavTransport::TWebDavTransport(TOffsiteTarget target, const std::atomic<bool>* cancel)
    : FTarget(std::move(target)), FTransfer(cancel) {}

QByteArray TWebDavTransport::UrlOf(const QString& relativePath) const {
    QUrl url = FTarget.Base;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + relativePath, QUrl::DecodedMode);
    return url.toEncoded();
}

void TWebDavTransport::Prepare(const QString& method, const QString& relativePath) {
    FTransfer.Reset();
    FTransfer.Set(CURLOPT_URL, UrlOf(relativePath));
    FTransfer.Set(CURLOPT_CUSTOMREQUEST, method.toLatin1());
    if (!FTarget.User.isEmpty()) {
        FTransfer.Set(CURLOPT_USERNAME, FTarget.User.toUtf8());
        FTransfer.Set(CURLOPT_PASSWORD, FTarget.Password.toUtf8());
        FTransfer.Set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC | CURLAUTH_DIGEST));
    }
    // Certificates are checked (libcurl's default); said here so it stays so.
    FTransfer.Set(CURLOPT_SSL_VERIFYPEER, 1L);
    FTransfer.Set(CURLOPT_SSL_VERIFYHOST, 2L);
}

long TWebDavTransport::Run(const QString& what, const QString& relativePath) {
    const CURLcode code = FTransfer.Perform();
    if (code != CURLE_OK)
        throw EOffsiteCopy(
            QStringLiteral("%1 %2 on %3: %4")
                .arg(what, relativePath, FTarget.Display(), FTransfer.ErrorText(code)));
    return FTransfer.ResponseCode();
}

void TWebDavTransport::Refused(const QString& what, const QString& relativePath, long status) {
    throw EOffsiteCopy(QStringLiteral("%1 %2 on %3: the server answers %4")
                           .arg(what, relativePath, FTarget.Display())
                           .arg(status));
}

std::optional<qint64> TWebDavTransport::RemoteSize(const QString& relativePath) {
    Prepare(QStringLiteral("HEAD"), relativePath);
    FTransfer.Set(CURLOPT_NOBODY, 1L);
    const long status = Run(QStringLiteral("Error reading"), relativePath);
    if (status == NotFound)
        return std::nullopt;
    if (status != Ok)
        Refused(QStringLiteral("Error reading"), relativePath, status);
    const curl_off_t length = FTransfer.ContentLength();
    return length < 0 ? std::nullopt : std::optional<qint64>(length);
}

void TWebDavTransport::MakeCollections(const QString& relativePath) {
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    QString collection;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        collection += parts[i] + QLatin1Char('/');
        if (FMadeCollections.contains(collection))
            continue;
        Prepare(QStringLiteral("MKCOL"), collection);
        const long status = Run(QStringLiteral("Error creating"), collection);
        if (status != Created && status != MethodNotAllowed)
            Refused(QStringLiteral("Error creating"), collection, status);
        FMadeCollections.insert(collection);
    }
}

void TWebDavTransport::Put(const QString& localFile, const QString& relativePath, bool mayExist) {
    const std::optional<qint64> present = mayExist ? RemoteSize(relativePath) : std::nullopt;
    if (present && *present == QFileInfo(localFile).size())
        return;
    QByteArray data = ReadLocalFile(localFile);
    MakeCollections(relativePath);
    const QString temporary = TemporaryPath(relativePath);
    Prepare(QStringLiteral("PUT"), temporary);
    FTransfer.SetUpload(std::move(data));
    long status = Run(QStringLiteral("Error writing"), temporary);
    if (!Succeeded(status)) {
        // A collection removed on the server meanwhile is made again next time.
        FMadeCollections.clear();
        Refused(QStringLiteral("Error writing"), temporary, status);
    }
    Prepare(QStringLiteral("MOVE"), temporary);
    FTransfer.SetList(CURLOPT_HTTPHEADER,
                      {"Destination: " + UrlOf(relativePath), QByteArray("Overwrite: T")});
    status = Run(QStringLiteral("Error renaming"), temporary);
    if (status != Created && status != NoContent)
        Refused(QStringLiteral("Error renaming"), temporary, status);
}

void TWebDavTransport::Remove(const QString& relativePath) {
    Prepare(QStringLiteral("DELETE"), relativePath);
    const long status = Run(QStringLiteral("Error deleting"), relativePath);
    if (!Succeeded(status) && status != NotFound)
        Refused(QStringLiteral("Error deleting"), relativePath, status);
}
