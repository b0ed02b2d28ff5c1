#pragma once

#include "EkaError.h"
#include "TIniFile.h"

#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

// The language files in the folder "Language" beside the program, the active
// language and the registries the language switch walks. No widgets here: the
// language and accelerator components register through small interfaces.

class LanguageException : public EkaError {
public:
    using EkaError::EkaError;
};

// A component that imports its owner's texts when a language is activated.
class TkaLanguageImporter {
public:
    virtual ~TkaLanguageImporter() = default;
    // Whether the activation must import this component: the form's own
    // component covers the frames that the form owns.
    virtual bool ImportsOnActivation() const = 0;
    virtual void ImportTexts(int index) = 0;
};

// A component that assigns accelerators anew after each activation.
class TkaAcceleratorGenerator {
public:
    virtual ~TkaAcceleratorGenerator() = default;
    virtual void Generate() = 0;
};

// The read-only data's "Language/", created (one level) when missing.
QString LanguageDir();
// Where an export run writes "language.ini": LanguageDir while the program is
// portable, the configuration folder once installed.
QString LanguageExportDir();
// File names of the folder in lower case, read once per run.
const QStringList& LanguageFiles();
// The name the menus show: up to the first ".", upper case.
QString LanguageMenuName(const QString& fileName);

void SelectLanguage(int index);
// Raises LanguageException "Unknown Language: " + Name when no file matches.
void SelectLanguageByName(const QString& name);
int CurrentLanguageIndex();
// "english" while none is active, else the active file's name up to its first "."
QString CurrentLanguageName();

// Whether this run was started with the switch ExportLanguage.
bool IsExportLanguageRun();
// The export file of such a run, null otherwise.
TIniFile* LanguageExportFile();
// True for "-exportlanguage", "/ExportLanguage", "\exportlanguage", ...
bool IsExportLanguageSwitch(const QString& argument);

// String-list properties exported line by line, for objects inheriting ClassName.
void RegisterListProperty(const QString& propertyName, const QString& className);
// Registered property names that apply to Component.
QStringList ListPropertiesOf(const QObject* component);

void RegisterLanguageComponent(QObject* component);
void UnregisterLanguageComponent(QObject* component);
void RegisterHotkeyComponent(QObject* component);
void UnregisterHotkeyComponent(QObject* component);

// The start-up step without its message box: in an export run recreates
// "language.ini" and returns true; otherwise activates the stored language or,
// with none stored, GERMAN on a German locale and ENGLISH elsewhere, dropping
// every error, and returns false.
bool StartLanguageSystem(const QStringList& arguments, const QLocale& locale);

// Forgets the list, the active language and the export file (library shutdown).
void ResetLanguageSystem();
