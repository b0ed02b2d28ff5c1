#include "OffsiteTarget.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString SchemeProblem(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("file")) {
        if (!url.host().isEmpty())
            return QStringLiteral("A folder address has no host: file:///folder");
        return url.path().isEmpty() || url.path() == QLatin1String("/")
                   ? QStringLiteral("The address names no folder")
                   : QString();
    }
    if (scheme != QLatin1String("sftp") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("http"))
        return QStringLiteral("Unknown kind of address (sftp://, https:// or file:// expected)");
    if (url.host().isEmpty())
        return QStringLiteral("The address names no host");
    if (scheme == QLatin1String("sftp") && url.userName().isEmpty())
        return QStringLiteral("An SFTP address needs a user: sftp://user@host/folder");
    return {};
}

TOffsiteKind KindOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("sftp"))
        return TOffsiteKind::Sftp;
    if (scheme == QLatin1String("file"))
        return TOffsiteKind::LocalFolder;
    return TOffsiteKind::WebDav;
}

} // namespace

QString TOffsiteTarget::Parse(const QString& text) {
    const QString knownHosts = KnownHostsFile;
    *this = TOffsiteTarget();
    KnownHostsFile = knownHosts;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (text.trimmed().isEmpty())
        return QStringLiteral("No address");
    if (!url.isValid())
        return QStringLiteral("Not an address: %1").arg(MaskedOffsiteAddress(text));
    const QString problem = SchemeProblem(url);
    if (!problem.isEmpty())
        return problem;
    Kind = KindOf(url);
    User = url.userName();
    Password = url.password();
    Base = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment |
                        QUrl::StripTrailingSlash);
    Base.setScheme(Base.scheme().toLower());
    if (Base.path().isEmpty())
        Base.setPath(QStringLiteral("/"));
    if (KnownHostsFile.isEmpty())
        KnownHostsFile = DefaultKnownHostsFile();
    return {};
}

QString TOffsiteTarget::Display() const {
    if (!IsValid())
        return {};
    QUrl shown = Base;
    shown.setUserName(User);
    return shown.toString();
}

QString TOffsiteTarget::DefaultKnownHostsFile() {
    return QDir::homePath() + QStringLiteral("/.ssh/known_hosts");
}

QString MaskedOffsiteAddress(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        return url.adjusted(QUrl::RemovePassword | QUrl::RemoveQuery | QUrl::RemoveFragment)
            .toString();
    const qsizetype scheme = text.indexOf(QLatin1String("://"));
    return scheme > 0 ? text.left(scheme + 3) + QStringLiteral("...") : QStringLiteral("...");
}

QString OffsiteRelativePath(const QString& sceneDir, const QString& fileName) {
    const QString root = QDir::cleanPath(QDir(sceneDir).absolutePath());
    const QString file = QDir::cleanPath(QFileInfo(fileName).absoluteFilePath());
    if (!file.startsWith(root + QLatin1Char('/')))
        return {};
    const QStringList below = file.mid(root.size() + 1).split(QLatin1Char('/'));
    if (below.size() != 3)
        return {};
    const QString path =
        QFileInfo(root).fileName() + QLatin1Char('/') + below.join(QLatin1Char('/'));
    return IsSafeRelativePath(path) ? path : QString();
}

bool IsSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.contains(QLatin1Char('\\')) || path.contains(QChar(0)))
        return false;
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") ||
            part.contains(QLatin1Char('\n')) || part.contains(QLatin1Char('\t')))
            return false;
    }
    return true;
}
