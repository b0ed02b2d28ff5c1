#pragma once

#include "TIniFile.h"
#include "TkaProgramLayout.h"
#include "kaComponent.h"

#include <QDateTime>
#include <QDir>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// ---- Library start-up and shutdown -------------------------------------

// Start-up and shutdown of the shared library: a program (or a test) holds one
// for its lifetime, before any form exists and until all forms are gone.
class TkaLibrary {
public:
    TkaLibrary();
    ~TkaLibrary();
    TkaLibrary(const TkaLibrary&) = delete;
    TkaLibrary& operator=(const TkaLibrary&) = delete;
};

// ---- Program directory ------------------------------------------------------

// Full path of the running program file.
QString ProgramFileName();

// The folders of this run, chosen once, at the first use, from the program
// file's folder and the environment (see TkaProgramLayout). Every path of the
// programs goes through it.
const TkaProgramLayout& ProgramLayout();
// Test seam: every path follows Layout from now on.
void SetProgramLayout(const TkaProgramLayout& layout);

// The folder the program writes its files into, with a trailing separator:
// its own folder in the portable layout, the user's data folder
// ($XDG_DATA_HOME/Tarvik/) once installed, which is made when missing.
QString ProgramDir();
// Test seam: a portable layout in Dir (a trailing separator is added); an
// empty Dir restores the layout chosen at start.
void SetProgramDir(const QString& dir);
// The read-only data (Language/, Help/, Sounds/), with a trailing separator.
QString ResourceDir();
// The configuration folder (Cfg/ beside the program, or $XDG_CONFIG_HOME/Tarvik/),
// with a trailing separator, created when missing.
QString ConfigDir();
// The folder of the error logs, with a trailing separator; not created here.
QString StateDir();

// Path when it ends with the separator, otherwise Path followed by one.
QString IncludeBackslash(const QString& path);
// ProgramDir followed by Name, created (one level) when missing.
QString ProgramSubDir(const QString& name);

// ---- Command line -------------------------------------------------------------

// Whether Arguments (the program's name first) hold the switch Name, led by
// "/", "-" or a backslash and compared without letter case ("/Minimized", "-minimized").
bool HasSwitch(const QStringList& arguments, const QString& name);

// ---- Directory listings -----------------------------------------------------

// Entries of Directory matching Filters ("." and ".." never), sorted by name
// ignoring letter case as the listings of the system expect. A missing
// directory yields an empty list.
QStringList SortedDirectoryEntries(const QString& directory, QDir::Filters filters);
// True for a hidden name (one starting with ".").
bool IsHiddenName(const QString& name);
// Appends the names of all entries that are not directories, hidden ones included.
void ListFileNames(const QString& directory, QStringList& list);
// Number of entries that are directories, hidden ones included.
int CountSubDirectories(const QString& directory);

// ---- Clock ------------------------------------------------------------------------

// Local time as days since 30 December 1899, the fraction giving the time of day.
double Now();
// Test seam: Now returns what Clock returns; an empty function restores the real clock.
void SetClock(std::function<double()> clock);

double QDateTimeToDateTime(const QDateTime& dateTime);
QDateTime DateTimeToQDateTime(double dateTime);

// ---- Configuration file ----------------------------------------------------------

// The process-wide configuration file; null only before the library start-up.
TIniFile* CfgIniFile();
// Replaces the configuration file object (start-up, shutdown, the application
// events component when it finds none).
void SetCfgIniFile(std::unique_ptr<TIniFile> file);

// <program name>.ini in the configuration folder, which is created when missing.
QString ConfigFileName();

// Typed settings keyed by the component path; raise "kaGeneral.CfgIniFile=nil"
// when there is no configuration file.
void WriteBoolSetting(const QObject* component, bool value);
bool ReadBoolSetting(const QObject* component, bool defaultValue);
void WriteIntegerSetting(const QObject* component, int value);
int ReadIntegerSetting(const QObject* component, int defaultValue);
void WriteStringSetting(const QObject* component, const QString& value);
QString ReadStringSetting(const QObject* component, const QString& defaultValue);
// Section = the component path, with a key chosen by the caller.
void WriteComponentSetting(const QObject* component, const QString& key, const QString& value);
QString ReadComponentSetting(const QObject* component, const QString& key,
                             const QString& defaultValue);

// ---- Remanent controls ------------------------------------------------------------

// A control that takes its value from the configuration file once, at the
// first showing of the main window.
class TkaRemanentControl {
public:
    virtual ~TkaRemanentControl() = default;
    virtual void RestoreRemanent() = 0;
};

// Adds the control once; a second registration is ignored.
void RegisterRemanentControl(QObject* control);
// The registered controls still alive, in registration order.
QList<QObject*> RemanentControls();
// Asks every registered control, in registration order, to restore its value.
void RestoreRemanentControls();

// ---- Messages -------------------------------------------------------------------------

class TkaHashList;
// The process-wide message registry (keys and current texts).
TkaHashList& MessageRegistry();

// Appends Key with its English default to the message registry; returns the handle.
int RegisterMessage(const QString& key, const QString& defaultText);
// The current text of a registered message.
QString MessageText(int handle);

// One translatable message of a unit, registered on first use. The registry
// is emptied when the library shuts down and may be started again in the same
// process: the handle is trusted only while it still names the key.
class TkaMessage {
public:
    TkaMessage(QString key, QString defaultText);

    // Registers the message when the registry does not hold it (any more).
    int Handle();
    // The message's current text (the default until a language changes it).
    QString Text();

private:
    QString FKey;
    QString FDefaultText;
    int FHandle = -1;
};

// ---- Language exclusion list ----------------------------------------------------------

void ExcludeFromLanguage(const QObject* component);
void IncludeInLanguage(const QObject* component);
bool IsExcludedFromLanguage(const QObject* component);
