#pragma once

#include <QString>
#include <QStringList>

// A program's entry in the desktop session's autostart folder
// ($XDG_CONFIG_HOME/autostart/), which the session starts at every login.
class TkaAutostart {
public:
    // EntryName names the file ("tarvik" gives tarvik.desktop); Name and
    // Comment are what the session's settings show, Icon the icon's name.
    TkaAutostart(QString entryName, QString name, QString comment, QString icon);

    // The autostart folder of the current environment, with a trailing "/".
    static QString AutostartFolder();
    QString EntryFileName() const;
    bool IsEnabled() const;

    // Writes the entry that starts ProgramFile with Arguments. Raises
    // "Error writing File " with the path and the reason when it cannot.
    void Enable(const QString& programFile, const QStringList& arguments) const;
    // Removes the entry. Raises "Error deleting File " with the path when
    // it stays.
    void Disable() const;

    // The entry's text.
    QString EntryText(const QString& programFile, const QStringList& arguments) const;
    // The value of an Exec key that runs Program with Arguments: each one
    // quoted where the desktop entry rules want it, "%" doubled, and the
    // backslashes of the string escaped once more.
    static QString ExecValue(const QString& program, const QStringList& arguments);

private:
    QString FEntryName;
    QString FName;
    QString FComment;
    QString FIcon;
};
