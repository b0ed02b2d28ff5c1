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
