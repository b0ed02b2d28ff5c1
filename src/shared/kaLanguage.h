#pragma once

#include "kaComponent.h"
#include "kaLanguageFiles.h"

#include <QObject>
#include <QStringList>
#include <functional>

class QTabWidget;

// "Caption" and "Hint" on Qt, in one place: the visible text of labels,
// buttons, check boxes, group boxes, tab pages (their tab text), actions, menus
// and windows; the tool tip for hints.
namespace CaptionAccess {
// The tab widget that shows Page as one of its tabs, or null.
QTabWidget* TabWidgetOf(const QObject* page);
bool HasCaption(const QObject* component);
QString Caption(const QObject* component);
void SetCaption(QObject* component, const QString& text);
bool HasHint(const QObject* component);
QString Hint(const QObject* component);
// Set the hints of actions here rather than with setToolTip: only so is a
// hint equal to the caption exported and translated.
void SetHint(QObject* component, const QString& text);
// The action a control shows instead of texts of its own (tool buttons).
QObject* LinkedAction(const QObject* component);
} // namespace CaptionAccess

// The translation of a form or frame: walks the components its owner owns and
// writes their texts into "language.ini" (export run) or reads them from a
// language file. Create it after the owner's other components.
class TkaLanguage : public QObject, public TkaLoadable, public TkaLanguageImporter {
    Q_OBJECT
public:
    explicit TkaLanguage(QObject* owner);
    ~TkaLanguage() override;

    bool ExportEmptyStrings = false;
    std::function<void(QObject* sender)> BeforeExport;
    std::function<void(QObject* sender)> AfterExport;
    std::function<void(QObject* sender)> BeforeImport;
    std::function<void(QObject* sender)> AfterImport;

    void ExportTexts();
    void ImportTexts(int index) override;
    bool ImportsOnActivation() const override;
    void Loaded() override;

private:
    class Walk;
    QObject* Owner() const;
};

// The start-up step of the language system with its message box "Export
// Language" in an export run; the programs call it right after the library.
void StartLanguage(const QStringList& arguments, const QLocale& locale = QLocale::system());
