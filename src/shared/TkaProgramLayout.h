#pragma once

#include <QProcessEnvironment>
#include <QString>

// Where a program keeps what it reads and what it writes.
//
// Portable: everything in the program's own folder, as in a build's dist
// folder or an unpacked copy: Cfg/, Scenes/, Mask/, the error log, Language/,
// Help/ and Sounds/ beside the executable.
//
// Installed (a program in /usr/bin): settings in $XDG_CONFIG_HOME/Tarvik/,
// recordings, masks and the start picture in $XDG_DATA_HOME/Tarvik/, the error
// log in $XDG_STATE_HOME/Tarvik/, and the read-only data in the package's
// share/tarvik/ beside bin/.
//
// Every folder is given with a trailing "/".
class TkaProgramLayout {
public:
    enum class TKind { Portable, Installed };

    static TkaProgramLayout Portable(const QString& programFolder);
    // The XDG folders come from Environment (HOME, XDG_CONFIG_HOME,
    // XDG_DATA_HOME, XDG_STATE_HOME); a relative or empty value counts as unset.
    static TkaProgramLayout Installed(const QString& programFolder,
                                      const QProcessEnvironment& environment);
    // Portable while ProgramFolder can be written and holds no installed
    // package beside it (share/tarvik/Language): root running /usr/bin/Tarvik
    // must not write into /usr/bin.
    static TkaProgramLayout Choose(const QString& programFolder,
                                   const QProcessEnvironment& environment);

    TKind Kind() const { return FKind; }
    bool IsInstalled() const { return FKind == TKind::Installed; }

    // The folder of the executable.
    const QString& ProgramFolder() const { return FProgramFolder; }
    // Tarvik.ini, TarvikClient.ini, Accounts.ini.
    const QString& ConfigFolder() const { return FConfigFolder; }
    // Scenes/, Mask/, Start.Jpg and whatever else the program writes.
    const QString& DataFolder() const { return FDataFolder; }
    // The error logs.
    const QString& StateFolder() const { return FStateFolder; }
    // Language/, Help/, Sounds/: read, never written once installed.
    const QString& ResourceFolder() const { return FResourceFolder; }
    // The folder below the user's home for one XDG variable: its value when
    // absolute, otherwise HOME followed by Fallback ("/.config").
    static QString XdgFolder(const QProcessEnvironment& environment, const QString& variable,
                             const QString& fallback);

private:
    TKind FKind = TKind::Portable;
    QString FProgramFolder;
    QString FConfigFolder;
    QString FDataFolder;
    QString FStateFolder;
    QString FResourceFolder;
};

// Creates Folder and the folders above it; the ones made are closed to other
// users (recordings and settings are private). False when it cannot be made.
bool MakeUserFolder(const QString& folder);
// MakeUserFolder, raising "Error creating Directory " with the path on failure.
void ForceUserFolder(const QString& folder);
