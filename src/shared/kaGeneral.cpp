#include "kaGeneral.h"

#include "EkaError.h"
#include "TkaHashList.h"
#include "kaLanguageFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcessEnvironment>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <utility>

namespace {

const QString CfgNilMessage = QStringLiteral("kaGeneral.CfgIniFile=nil");

// The registries the library keeps for the life of the process.
struct LibraryRegistries {
    std::unique_ptr<TIniFile> CfgIniFile;
    TkaHashList Messages;
    QList<QPointer<QObject>> Remanent;
    QList<const QObject*> Excluded;
    // The layout tests set; otherwise the one chosen at the first use.
    std::optional<TkaProgramLayout> LayoutOverride;
    std::optional<TkaProgramLayout> ChosenLayout;
    std::function<double()> Clock;
};

LibraryRegistries& Registries() {
    static LibraryRegistries registries;
    return registries;
}

TIniFile& Cfg() {
    TIniFile* file = Registries().CfgIniFile.get();
    if (file == nullptr)
        throw EkaError(CfgNilMessage);
    return *file;
}

QString SeparatorEnded(QString path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

const QDate DateTimeEpoch(1899, 12, 30);
constexpr qint64 MsecsPerDay = 86'400'000;

} // namespace

// ---- Library start-up and shutdown -------------------------------------

TkaLibrary::TkaLibrary() {
    SetCfgIniFile(std::make_unique<TIniFile>(ConfigFileName()));
    RegisterListProperty(QStringLiteral("Items"), QStringLiteral("QComboBox"));
    RegisterListProperty(QStringLiteral("Items"), QStringLiteral("TkaRadioGroup"));
}

TkaLibrary::~TkaLibrary() {
    LibraryRegistries& r = Registries();
    r.CfgIniFile.reset();
    r.Messages.Clear();
    r.Remanent.clear();
    r.Excluded.clear();
    ResetLanguageSystem();
}

// ---- Program directory ------------------------------------------------------

QString ProgramFileName() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

const TkaProgramLayout& ProgramLayout() {
    LibraryRegistries& r = Registries();
    if (r.LayoutOverride)
        return *r.LayoutOverride;
    if (!r.ChosenLayout)
        r.ChosenLayout = TkaProgramLayout::Choose(QFileInfo(ProgramFileName()).absolutePath(),
                                                  QProcessEnvironment::systemEnvironment());
    return *r.ChosenLayout;
}

void SetProgramLayout(const TkaProgramLayout& layout) {
    Registries().LayoutOverride = layout;
}

QString ProgramDir() {
    const TkaProgramLayout& layout = ProgramLayout();
    // The portable folder is the program's own; the user's data folder may
    // not exist before the first start. One that cannot be made shows in the
    // error of the first file written there.
    if (layout.IsInstalled())
        MakeUserFolder(layout.DataFolder());
    return layout.DataFolder();
}

void SetProgramDir(const QString& dir) {
    if (dir.isEmpty())
        Registries().LayoutOverride.reset();
    else
        Registries().LayoutOverride = TkaProgramLayout::Portable(dir);
}

QString ResourceDir() {
    return ProgramLayout().ResourceFolder();
}

QString ConfigDir() {
    const TkaProgramLayout& layout = ProgramLayout();
    if (layout.IsInstalled()) {
        ForceUserFolder(layout.ConfigFolder());
        return layout.ConfigFolder();
    }
    // "Cfg" beside the program: one level, as every folder below it.
    return ProgramSubDir(QStringLiteral("Cfg")) + QLatin1Char('/');
}

QString StateDir() {
    return ProgramLayout().StateFolder();
}

QString IncludeBackslash(const QString& path) {
    return SeparatorEnded(path);
}

QString ProgramSubDir(const QString& name) {
    QString path = ProgramDir() + name;
    while (path.endsWith(QLatin1Char('/')) && path.size() > 1)
        path.chop(1);
    if (QFileInfo(path).isDir())
        return path;
    // One level only: the directory above must exist already.
    if (!QDir().mkdir(path) && !QFileInfo(path).isDir())
        throw EkaError(QStringLiteral("Error creating Directory ") + path);
    return path;
}

// ---- Command line -------------------------------------------------------------

bool HasSwitch(const QStringList& arguments, const QString& name) {
    QString bare = name;
    while (!bare.isEmpty() && QStringLiteral("/-\\").contains(bare.front()))
        bare.remove(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument.size() > 1 && QStringLiteral("/-\\").contains(argument.front()) &&
            argument.mid(1).compare(bare, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// ---- Directory listings -----------------------------------------------------

QStringList SortedDirectoryEntries(const QString& directory, QDir::Filters filters) {
    QStringList names =
        QDir(directory).entryList(filters | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

bool IsHiddenName(const QString& name) {
    return name.startsWith(QLatin1Char('.'));
}

void ListFileNames(const QString& directory, QStringList& list) {
    const QDir dir(directory);
    for (const QString& name : SortedDirectoryEntries(directory, QDir::AllEntries | QDir::System)) {
        if (!QFileInfo(dir.filePath(name)).isDir())
            list.append(name);
    }
}

int CountSubDirectories(const QString& directory) {
    return static_cast<int>(SortedDirectoryEntries(directory, QDir::Dirs).size());
}

// ---- Clock ------------------------------------------------------------------------

double Now() {
    const auto& clock = Registries().Clock;
    return clock ? clock() : QDateTimeToDateTime(QDateTime::currentDateTime());
}

void SetClock(std::function<double()> clock) {
    Registries().Clock = std::move(clock);
}

double QDateTimeToDateTime(const QDateTime& dateTime) {
    const QDateTime local = dateTime.toLocalTime();
    const double days = static_cast<double>(DateTimeEpoch.daysTo(local.date()));
    const double fraction =
        static_cast<double>(local.time().msecsSinceStartOfDay()) / static_cast<double>(MsecsPerDay);
    // Before the epoch the day count is negative while the time of day still adds.
    return days < 0 ? days - fraction : days + fraction;
}

QDateTime DateTimeToQDateTime(double dateTime) {
    const double days = std::trunc(dateTime);
    qint64 msecs = std::llround(std::fabs(dateTime - days) * static_cast<double>(MsecsPerDay));
    qint64 dayCount = static_cast<qint64>(days);
    if (msecs >= MsecsPerDay) {
        // Rounding reached midnight: that is the next day (or, before the epoch, the previous).
        msecs -= MsecsPerDay;
        dayCount += dateTime < 0 ? -1 : 1;
    }
    return QDateTime(DateTimeEpoch.addDays(dayCount),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)), Qt::LocalTime);
}

// ---- Configuration file ----------------------------------------------------------

TIniFile* CfgIniFile() {
    return Registries().CfgIniFile.get();
}

void SetCfgIniFile(std::unique_ptr<TIniFile> file) {
    Registries().CfgIniFile = std::move(file);
}

QString ConfigFileName() {
    return ConfigDir() + QFileInfo(ProgramFileName()).completeBaseName() + QStringLiteral(".ini");
}

void WriteBoolSetting(const QObject* component, bool value) {
    Cfg().WriteBool(QStringLiteral("Boolean"), ComponentPath(component), value);
}

bool ReadBoolSetting(const QObject* component, bool defaultValue) {
    return Cfg().ReadBool(QStringLiteral("Boolean"), ComponentPath(component), defaultValue);
}

void WriteIntegerSetting(const QObject* component, int value) {
    Cfg().WriteInteger(QStringLiteral("Integer"), ComponentPath(component), value);
}

int ReadIntegerSetting(const QObject* component, int defaultValue) {
    return Cfg().ReadInteger(QStringLiteral("Integer"), ComponentPath(component), defaultValue);
}

void WriteStringSetting(const QObject* component, const QString& value) {
    Cfg().WriteString(QStringLiteral("String"), ComponentPath(component), value);
}

QString ReadStringSetting(const QObject* component, const QString& defaultValue) {
    return Cfg().ReadString(QStringLiteral("String"), ComponentPath(component), defaultValue);
}

void WriteComponentSetting(const QObject* component, const QString& key, const QString& value) {
    Cfg().WriteString(ComponentPath(component), key, value);
}

QString ReadComponentSetting(const QObject* component, const QString& key,
                             const QString& defaultValue) {
    return Cfg().ReadString(ComponentPath(component), key, defaultValue);
}

// ---- Remanent controls ------------------------------------------------------------

void RegisterRemanentControl(QObject* control) {
    auto& list = Registries().Remanent;
    const bool known = std::any_of(list.begin(), list.end(),
                                   [control](const QPointer<QObject>& p) { return p == control; });
    if (!known)
        list.append(control);
}

QList<QObject*> RemanentControls() {
    QList<QObject*> alive;
    for (const QPointer<QObject>& p : Registries().Remanent) {
        if (p)
            alive.append(p.data());
    }
    return alive;
}

void RestoreRemanentControls() {
    // One failing control must not keep the others at their designed values:
    // every control restores, then the first error goes on to the caller.
    std::exception_ptr firstError;
    for (QObject* control : RemanentControls()) {
        auto* remanent = dynamic_cast<TkaRemanentControl*>(control);
        if (remanent == nullptr)
            continue;
        try {
            remanent->RestoreRemanent();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

// ---- Messages -------------------------------------------------------------------------

TkaHashList& MessageRegistry() {
    return Registries().Messages;
}

int RegisterMessage(const QString& key, const QString& defaultText) {
    const int handle = MessageRegistry().Add(key, defaultText);
    if (TIniFile* exportFile = LanguageExportFile())
        exportFile->WriteString(QStringLiteral("General"), key, defaultText);
    return handle;
}

QString MessageText(int handle) {
    return MessageRegistry().Text(handle);
}

TkaMessage::TkaMessage(QString key, QString defaultText)
    : FKey(std::move(key)), FDefaultText(std::move(defaultText)) {}

int TkaMessage::Handle() {
    const TkaHashList& registry = MessageRegistry();
    if (FHandle < 0 || FHandle >= registry.Count() || registry.Key(FHandle) != FKey)
        FHandle = RegisterMessage(FKey, FDefaultText);
    return FHandle;
}

QString TkaMessage::Text() {
    return MessageText(Handle());
}

// ---- Language exclusion list ----------------------------------------------------------

void ExcludeFromLanguage(const QObject* component) {
    if (!IsExcludedFromLanguage(component))
        Registries().Excluded.append(component);
}

void IncludeInLanguage(const QObject* component) {
    Registries().Excluded.removeAll(component);
}

bool IsExcludedFromLanguage(const QObject* component) {
    return Registries().Excluded.contains(component);
}
