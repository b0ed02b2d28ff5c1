#include "OffsiteSettings.h"

#include "TIniFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Offsite");
const QString UrlKey = QStringLiteral("Url");
const QString IdentityKey = QStringLiteral("IdentityFile");
const QString PasswordKey = QStringLiteral("Password");

} // namespace

TOffsiteSettings TOffsiteSettings::Read(const TIniFile& ini) {
    TOffsiteSettings settings;
    settings.Url = ini.ReadString(Section, UrlKey, QString()).trimmed();
    settings.IdentityFile = ini.ReadString(Section, IdentityKey, QString()).trimmed();
    settings.FilePassword = ini.ReadString(Section, PasswordKey, QString());
    return settings;
}

void TOffsiteSettings::Write(TIniFile& ini) const {
    ini.WriteString(Section, UrlKey, Url);
    ini.WriteString(Section, IdentityKey, IdentityFile);
}

void TOffsiteSettings::WriteFilePassword(TIniFile& ini, const QString& password) {
    if (password.isEmpty()) {
        ini.DeleteKey(Section, PasswordKey);
        return;
    }
    // Closed first, so the password is never in a file others can read.
    if (QFile::exists(ini.FileName()) &&
        !QFile::setPermissions(ini.FileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw EkaError(QStringLiteral("Error protecting File %1").arg(ini.FileName()));
    ini.WriteString(Section, PasswordKey, password);
    QFile::setPermissions(ini.FileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TOffsiteTarget TOffsiteSettings::Target(const QString& password, QString* problem) const {
    TOffsiteTarget target;
    const QString why = Url.isEmpty() ? QString() : target.Parse(Url);
    if (problem != nullptr)
        *problem = why;
    if (!why.isEmpty() || Url.isEmpty())
        return {};
    target.IdentityFile = IdentityFile;
    if (!password.isEmpty())
        target.Password = password;
    return target;
}

QString OffsiteJournalFileName(const TIniFile& ini) {
    return QFileInfo(ini.FileName()).absolutePath() + QStringLiteral("/Offsite.journal");
}
