#include "NetworkCameraConfig.h"

#include "CaptureBackend.h"
#include "TIniFile.h"
#include "kaGeneral.h"

#include <QFile>
#include <algorithm>
#include <optional>

namespace {

const QString Section = QStringLiteral("NetworkCameras");
const QString MaskText = QStringLiteral("***");
// Entries looked at, so a mistyped Count cannot keep the start-up busy.
constexpr int MaxEntries = 100;

// Where the password of Url lies: after the first ":" of the user part, which
// ends at the last "@" of the authority.
struct TPasswordSpan {
    qsizetype Start = 0;
    qsizetype Length = 0;
};

std::optional<TPasswordSpan> PasswordSpan(const QString& url) {
    const qsizetype scheme = url.indexOf(QStringLiteral("://"));
    if (scheme < 0)
        return std::nullopt;
    const qsizetype authority = scheme + 3;
    qsizetype end = url.size();
    for (const QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = url.indexOf(stop, authority);
        if (at >= 0 && at < end)
            end = at;
    }
    const qsizetype at = url.lastIndexOf(QLatin1Char('@'), end - 1);
    if (at < authority)
        return std::nullopt;
    const qsizetype colon = url.indexOf(QLatin1Char(':'), authority);
    if (colon < 0 || colon > at)
        return std::nullopt;
    return TPasswordSpan{colon + 1, at - colon - 1};
}

} // namespace

void ProtectNetworkCameraFile(const QString& fileName) {
    // A file that does not exist yet gets the mode when the store creates it
    // (QSaveFile keeps the mode of the file it replaces).
    if (QFile::exists(fileName))
        QFile::setPermissions(fileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QList<TNetworkCameraEntry> ReadNetworkCameras(const TIniFile& ini) {
    QList<TNetworkCameraEntry> cameras;
    const int count = std::min(ini.ReadInteger(Section, QStringLiteral("Count"), 0), MaxEntries);
    for (int i = 1; i <= count && cameras.size() < MaxNetworkCameras; ++i) {
        TNetworkCameraEntry entry;
        entry.Url = ini.ReadString(Section, QStringLiteral("Url%1").arg(i), QString()).trimmed();
        if (entry.Url.isEmpty())
            continue;
        entry.Name = ini.ReadString(Section, QStringLiteral("Name%1").arg(i), QString()).trimmed();
        if (entry.Name.isEmpty())
            entry.Name = QString::number(i);
        cameras << entry;
    }
    return cameras;
}

void WriteNetworkCameras(TIniFile& ini, const QList<TNetworkCameraEntry>& cameras) {
    QList<QPair<QString, QString>> values;
    values << qMakePair(QStringLiteral("Count"), QString::number(cameras.size()));
    for (qsizetype i = 0; i < cameras.size(); ++i) {
        values << qMakePair(QStringLiteral("Name%1").arg(i + 1), cameras[i].Name)
               << qMakePair(QStringLiteral("Url%1").arg(i + 1), cameras[i].Url);
    }
    if (!QFile::exists(ini.FileName()))
        ini.WriteString(Section, QStringLiteral("Count"), QStringLiteral("0"));
    ProtectNetworkCameraFile(ini.FileName());
    ini.ReplaceSection(Section, values);
    ProtectNetworkCameraFile(ini.FileName());
}

namespace {
TkaMessage& DescriptionMessage() {
    static TkaMessage message(QStringLiteral("NETWORKCAMERACONFIG_MSG_NETWORKCAMERA"),
                              QStringLiteral("Network camera"));
    return message;
}
} // namespace

QString NetworkCameraDescription(const QString& name) {
    return DescriptionMessage().Text() + QStringLiteral(": ") + name;
}

void RegisterNetworkCameraMessages() {
    DescriptionMessage().Handle();
}

QString MaskUrlPassword(const QString& url) {
    const std::optional<TPasswordSpan> span = PasswordSpan(url);
    if (!span || span->Length == 0)
        return url;
    QString masked = url;
    masked.replace(span->Start, span->Length, MaskText);
    return masked;
}

QString UnmaskUrlPassword(const QString& url, const QString& previous) {
    const std::optional<TPasswordSpan> span = PasswordSpan(url);
    const std::optional<TPasswordSpan> old = PasswordSpan(previous);
    if (!span || !old || url.mid(span->Start, span->Length) != MaskText)
        return url;
    QString full = url;
    full.replace(span->Start, span->Length, previous.mid(old->Start, old->Length));
    return full;
}

namespace {

// Where the parts of a URL lie: the host (with its port) and the path.
struct TUrlParts {
    qsizetype HostStart = 0;
    qsizetype PortStart = 0; // at the ":", or HostEnd when there is no port
    qsizetype HostEnd = 0;
    qsizetype PathEnd = 0;
};

bool EndsAuthority(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#');
}

bool IsHostChar(QChar c) {
    return c.unicode() < 128 &&
           (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
            c == QLatin1Char('_') || c == QLatin1Char('%'));
}

// The end of a host and port starting at From, or -1 when none starts there.
qsizetype HostEndAt(const QString& url, qsizetype from, qsizetype& portStart) {
    qsizetype i = from;
    if (i < url.size() && url[i] == QLatin1Char('[')) {
        i = url.indexOf(QLatin1Char(']'), i);
        if (i < 0)
            return -1;
        ++i;
    } else {
        while (i < url.size() && IsHostChar(url[i]))
            ++i;
        if (i == from)
            return -1;
    }
    portStart = i;
    if (i < url.size() && url[i] == QLatin1Char(':')) {
        ++i;
        while (i < url.size() && url[i].isDigit())
            ++i;
    }
    return i == url.size() || EndsAuthority(url[i]) ? i : -1;
}

std::optional<TUrlParts> SplitUrl(const QString& url) {
    const qsizetype scheme = url.indexOf(QStringLiteral("://"));
    if (scheme <= 0)
        return std::nullopt;
    const qsizetype authority = scheme + 3;
    TUrlParts parts;
    // The user information ends at the first "@" that a host follows: a
    // password may hold "/", "?", "#" and ":" as users type them.
    qsizetype end = -1;
    for (qsizetype at = url.indexOf(QLatin1Char('@'), authority); at >= 0 && end < 0;
         at = url.indexOf(QLatin1Char('@'), at + 1)) {
        end = HostEndAt(url, at + 1, parts.PortStart);
        parts.HostStart = at + 1;
    }
    if (end < 0) {
        parts.HostStart = authority;
        end = HostEndAt(url, authority, parts.PortStart);
    }
    if (end < 0)
        return std::nullopt;
    parts.HostEnd = end;
    parts.PathEnd = end;
    while (parts.PathEnd < url.size() && url[parts.PathEnd] != QLatin1Char('?') &&
           url[parts.PathEnd] != QLatin1Char('#'))
        ++parts.PathEnd;
    return parts;
}

} // namespace

QString DisplayUrl(const QString& url) {
    if (!url.contains(QStringLiteral("://")))
        return url;
    const std::optional<TUrlParts> parts = SplitUrl(url);
    const QString scheme = url.left(url.indexOf(QStringLiteral("://")) + 3);
    // Nothing recognisable as a host: nothing of the rest is shown.
    if (!parts)
        return scheme + QStringLiteral("...");
    return scheme + url.mid(parts->HostStart, parts->PathEnd - parts->HostStart);
}

QString UrlHost(const QString& url) {
    const std::optional<TUrlParts> parts = SplitUrl(url);
    if (!parts)
        return QString();
    QString host = url.mid(parts->HostStart, parts->PortStart - parts->HostStart);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    return host;
}
