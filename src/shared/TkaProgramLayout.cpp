#include "TkaProgramLayout.h"

#include "EkaError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ApplicationFolder = QStringLiteral("Tarvik/");
const QString PackageData = QStringLiteral("../share/tarvik/");

QString WithSeparator(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    return clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
}

bool IsWritableFolder(const QString& folder) {
    // The effective user's rights: those the program writes with.
    return faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) ==
               0 &&
           QFileInfo(folder).isDir();
}

} // namespace

TkaProgramLayout TkaProgramLayout::Portable(const QString& programFolder) {
    TkaProgramLayout layout;
    layout.FKind = TKind::Portable;
    layout.FProgramFolder = WithSeparator(programFolder);
    layout.FConfigFolder = layout.FProgramFolder + QStringLiteral("Cfg/");
    layout.FDataFolder = layout.FProgramFolder;
    layout.FStateFolder = layout.FProgramFolder;
    layout.FResourceFolder = layout.FProgramFolder;
    return layout;
}

TkaProgramLayout TkaProgramLayout::Installed(const QString& programFolder,
                                             const QProcessEnvironment& environment) {
    TkaProgramLayout layout;
    layout.FKind = TKind::Installed;
    layout.FProgramFolder = WithSeparator(programFolder);
    layout.FConfigFolder =
        XdgFolder(environment, QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("/.config")) +
        ApplicationFolder;
    layout.FDataFolder =
        XdgFolder(environment, QStringLiteral("XDG_DATA_HOME"), QStringLiteral("/.local/share")) +
        ApplicationFolder;
    layout.FStateFolder =
        XdgFolder(environment, QStringLiteral("XDG_STATE_HOME"), QStringLiteral("/.local/state")) +
        ApplicationFolder;
    layout.FResourceFolder = WithSeparator(layout.FProgramFolder + PackageData);
    return layout;
}

TkaProgramLayout TkaProgramLayout::Choose(const QString& programFolder,
                                          const QProcessEnvironment& environment) {
    const QString folder = WithSeparator(programFolder);
    const bool packaged = QFileInfo(folder + PackageData + QStringLiteral("Language")).isDir();
    if (IsWritableFolder(folder) && !packaged)
        return Portable(folder);
    return Installed(folder, environment);
}

QString TkaProgramLayout::XdgFolder(const QProcessEnvironment& environment, const QString& variable,
                                    const QString& fallback) {
    const QString value = environment.value(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return WithSeparator(value);
    QString home = environment.value(QStringLiteral("HOME"));
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        home = QDir::homePath();
    return WithSeparator(home + fallback);
}

bool MakeUserFolder(const QString& folder) {
    const QString path = QDir::cleanPath(folder);
    // The missing folders, outermost first.
    QStringList missing;
    for (QString at = path; !QFileInfo::exists(at); at = QFileInfo(at).path()) {
        missing.prepend(at);
        if (at == QFileInfo(at).path())
            break;
    }
    for (const QString& step : missing) {
        if (mkdir(QFile::encodeName(step).constData(), S_IRWXU) != 0 && !QFileInfo(step).isDir())
            return false;
    }
    return QFileInfo(path).isDir();
}

void ForceUserFolder(const QString& folder) {
    if (!MakeUserFolder(folder))
        throw EkaError(QStringLiteral("Error creating Directory ") + QDir::cleanPath(folder));
}
