#include "kaLanguageFiles.h"

#include "TkaHashList.h"
#include "kaGeneral.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <memory>
#include <optional>

namespace {

struct LanguageState {
    std::optional<QStringList> Files;
    int Current = -1;
    std::unique_ptr<TIniFile> ExportFile;
    QList<QPair<QString, QString>> ListProperties;
    QList<QPointer<QObject>> Languages;
    QList<QPointer<QObject>> Hotkeys;
};

LanguageState& State() {
    static LanguageState state;
    return state;
}

const QString ExportFileName = QStringLiteral("language.ini");
const QString GeneralSection = QStringLiteral("General");

// Copies, so that a component created or destroyed during the walk does not
// disturb it.
template <class T> QList<T*> Alive(const QList<QPointer<QObject>>& list) {
    QList<T*> alive;
    for (const QPointer<QObject>& p : list) {
        if (auto* t = dynamic_cast<T*>(p.data()))
            alive.append(t);
    }
    return alive;
}

} // namespace

QString LanguageDir() {
    const QString dir = ResourceDir() + QStringLiteral("Language");
    if (!QFileInfo(dir).isDir() && !QDir().mkdir(dir))
        throw EkaError(QStringLiteral("Error creating Directory ") + dir);
    return dir + QLatin1Char('/');
}

QString LanguageExportDir() {
    // The installed languages cannot be written.
    return ProgramLayout().IsInstalled() ? ConfigDir() : LanguageDir();
}

const QStringList& LanguageFiles() {
    LanguageState& s = State();
    if (!s.Files) {
        QStringList files;
        for (const QString& name : SortedDirectoryEntries(LanguageDir(), QDir::Files)) {
            if (!IsHiddenName(name))
                files.append(name.toLower());
        }
        s.Files = files;
    }
    return *s.Files;
}

QString LanguageMenuName(const QString& fileName) {
    return fileName.section(QLatin1Char('.'), 0, 0).toUpper();
}

void SelectLanguage(int index) {
    const QStringList& files = LanguageFiles();
    if (index < 0 || index >= files.size())
        throw LanguageException(QStringLiteral("Unknown Language: ") + QString::number(index));
    // One parse of the file for all messages; a file deleted since the list was
    // read yields no values, so every text keeps its current value.
    const TIniFile file(LanguageDir() + files.at(index));
    QHash<QString, QString> general;
    for (const auto& [key, value] : file.ReadSectionValues(GeneralSection)) {
        const QString folded = key.toLower();
        if (!general.contains(folded))
            general.insert(folded, value);
    }
    TkaHashList& messages = MessageRegistry();
    for (int handle = 0; handle < messages.Count(); ++handle) {
        const auto found = general.constFind(messages.Key(handle).toLower());
        if (found != general.constEnd())
            messages.SetText(handle, *found);
    }
    for (TkaLanguageImporter* language : Alive<TkaLanguageImporter>(State().Languages)) {
        if (language->ImportsOnActivation())
            language->ImportTexts(index);
    }
    for (TkaAcceleratorGenerator* hotkey : Alive<TkaAcceleratorGenerator>(State().Hotkeys))
        hotkey->Generate();
    State().Current = index;
}

void SelectLanguageByName(const QString& name) {
    const QStringList& files = LanguageFiles();
    int index = files.indexOf(name.toLower());
    if (index < 0)
        index = files.indexOf(name.toLower() + QStringLiteral(".ini"));
    if (index < 0)
        throw LanguageException(QStringLiteral("Unknown Language: ") + name);
    SelectLanguage(index);
}

int CurrentLanguageIndex() {
    return State().Current;
}

QString CurrentLanguageName() {
    const LanguageState& s = State();
    if (s.Current < 0 || !s.Files || s.Current >= s.Files->size())
        return QStringLiteral("english");
    return s.Files->at(s.Current).section(QLatin1Char('.'), 0, 0).toLower();
}

bool IsExportLanguageRun() {
    return State().ExportFile != nullptr;
}

TIniFile* LanguageExportFile() {
    return State().ExportFile.get();
}

bool IsExportLanguageSwitch(const QString& argument) {
    if (argument.size() < 2)
        return false;
    const QChar lead = argument.at(0);
    if (lead != QLatin1Char('-') && lead != QLatin1Char('/') && lead != QLatin1Char('\\'))
        return false;
    return argument.mid(1).compare(QStringLiteral("ExportLanguage"), Qt::CaseInsensitive) == 0;
}

void RegisterListProperty(const QString& propertyName, const QString& className) {
    const QPair<QString, QString> entry(propertyName, className);
    if (!State().ListProperties.contains(entry))
        State().ListProperties.append(entry);
}

QStringList ListPropertiesOf(const QObject* component) {
    QStringList names;
    for (const auto& [property, className] : State().ListProperties) {
        if (component->inherits(className.toLatin1().constData()) && !names.contains(property))
            names.append(property);
    }
    return names;
}

namespace {
void Register(QList<QPointer<QObject>>& list, QObject* component) {
    for (const QPointer<QObject>& p : list) {
        if (p == component)
            return;
    }
    list.append(component);
}
void Unregister(QList<QPointer<QObject>>& list, QObject* component) {
    list.removeIf([component](const QPointer<QObject>& p) { return p.isNull() || p == component; });
}
} // namespace

void RegisterLanguageComponent(QObject* component) {
    Register(State().Languages, component);
}
void UnregisterLanguageComponent(QObject* component) {
    Unregister(State().Languages, component);
}
void RegisterHotkeyComponent(QObject* component) {
    Register(State().Hotkeys, component);
}
void UnregisterHotkeyComponent(QObject* component) {
    Unregister(State().Hotkeys, component);
}

bool StartLanguageSystem(const QStringList& arguments, const QLocale& locale) {
    RegisterListProperty(QStringLiteral("Items"), QStringLiteral("QComboBox"));
    RegisterListProperty(QStringLiteral("Items"), QStringLiteral("TkaRadioGroup"));
    bool exportRun = false;
    for (int i = 1; i < arguments.size(); ++i)
        exportRun = exportRun || IsExportLanguageSwitch(arguments.at(i));
    if (exportRun) {
        const QString path = LanguageExportDir() + ExportFileName;
        QFile::remove(path);
        State().ExportFile = std::make_unique<TIniFile>(path);
        // Messages registered before this step still belong in the file.
        const TkaHashList& messages = MessageRegistry();
        for (int handle = 0; handle < messages.Count(); ++handle)
            State().ExportFile->WriteString(GeneralSection, messages.Key(handle),
                                            messages.Text(handle));
        return true;
    }
    try {
        const QString stored =
            CfgIniFile() ? CfgIniFile()->ReadString(GeneralSection,
                                                    QStringLiteral("ActiveLanguage"), QString())
                         : QString();
        if (!stored.isEmpty())
            SelectLanguageByName(stored);
        else if (locale.language() == QLocale::German)
            SelectLanguageByName(QStringLiteral("GERMAN"));
        else
            SelectLanguageByName(QStringLiteral("ENGLISH"));
    } catch (const std::exception&) {
        // At start-up an unknown or unreadable language leaves the designed texts.
    }
    return false;
}

void ResetLanguageSystem() {
    LanguageState& s = State();
    s.Files.reset();
    s.Current = -1;
    s.ExportFile.reset();
    s.Languages.clear();
    s.Hotkeys.clear();
}
