#include "kaLanguage.h"

#include "TkaDialogs.h"
#include "kaGeneral.h"
#include "kaTreeView.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>

namespace CaptionAccess {

QTabWidget* TabWidgetOf(const QObject* page) {
    const auto* widget = qobject_cast<const QWidget*>(page);
    if (widget == nullptr)
        return nullptr;
    auto* stack = qobject_cast<QStackedWidget*>(widget->parentWidget());
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    return tabs != nullptr && tabs->indexOf(const_cast<QWidget*>(widget)) >= 0 ? tabs : nullptr;
}

QObject* LinkedAction(const QObject* component) {
    if (const auto* button = qobject_cast<const QToolButton*>(component))
        return button->defaultAction();
    return nullptr;
}

bool HasCaption(const QObject* c) {
    if (qobject_cast<const QAction*>(c) || qobject_cast<const QMenu*>(c) ||
        qobject_cast<const QGroupBox*>(c) || TabWidgetOf(c) != nullptr)
        return true;
    if (qobject_cast<const QAbstractButton*>(c))
        return LinkedAction(c) == nullptr;
    if (const auto* label = qobject_cast<const QLabel*>(c))
        return label->pixmap().isNull();
    const auto* widget = qobject_cast<const QWidget*>(c);
    return widget != nullptr && widget->isWindow();
}

QString Caption(const QObject* c) {
    if (const auto* action = qobject_cast<const QAction*>(c))
        return action->text();
    if (const auto* menu = qobject_cast<const QMenu*>(c))
        return menu->title();
    if (const auto* box = qobject_cast<const QGroupBox*>(c))
        return box->title();
    if (QTabWidget* tabs = TabWidgetOf(c))
        return tabs->tabText(tabs->indexOf(const_cast<QWidget*>(qobject_cast<const QWidget*>(c))));
    if (const auto* button = qobject_cast<const QAbstractButton*>(c))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(c))
        return label->text();
    if (const auto* widget = qobject_cast<const QWidget*>(c); widget && widget->isWindow())
        return widget->windowTitle();
    return {};
}

void SetCaption(QObject* c, const QString& text) {
    if (auto* action = qobject_cast<QAction*>(c))
        action->setText(text);
    else if (auto* menu = qobject_cast<QMenu*>(c))
        menu->setTitle(text);
    else if (auto* box = qobject_cast<QGroupBox*>(c))
        box->setTitle(text);
    else if (QTabWidget* tabs = TabWidgetOf(c))
        tabs->setTabText(tabs->indexOf(qobject_cast<QWidget*>(c)), text);
    else if (auto* button = qobject_cast<QAbstractButton*>(c))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(c))
        label->setText(text);
    else if (auto* widget = qobject_cast<QWidget*>(c); widget && widget->isWindow())
        widget->setWindowTitle(text);
}

namespace {
// QAction reports its text as tool tip while none was set, so a hint equal to
// the caption is told apart by this mark, which SetHint leaves.
const char* const HintSetProperty = "kaHintSet";

QString StrippedActionText(QString text) {
    text.remove(QStringLiteral("..."));
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&'))
            text.remove(i, 1);
    }
    return text.trimmed();
}
} // namespace

bool HasHint(const QObject* c) {
    return qobject_cast<const QAction*>(c) != nullptr || qobject_cast<const QWidget*>(c) != nullptr;
}

QString Hint(const QObject* c) {
    if (const auto* action = qobject_cast<const QAction*>(c)) {
        const QString tip = action->toolTip();
        if (action->property(HintSetProperty).toBool())
            return tip;
        return tip == StrippedActionText(action->text()) ? QString() : tip;
    }
    if (const auto* widget = qobject_cast<const QWidget*>(c))
        return widget->toolTip();
    return {};
}

void SetHint(QObject* c, const QString& text) {
    if (auto* action = qobject_cast<QAction*>(c)) {
        action->setToolTip(text);
        action->setProperty(HintSetProperty, !text.isEmpty());
        return;
    }
    if (auto* widget = qobject_cast<QWidget*>(c))
        widget->setToolTip(text);
}

} // namespace CaptionAccess

namespace {

QStringList ListLines(const QObject* c, const QString& property) {
    QStringList lines;
    if (const auto* combo = qobject_cast<const QComboBox*>(c); combo && property == "Items") {
        for (int i = 0; i < combo->count(); ++i)
            lines.append(combo->itemText(i));
    }
    return lines;
}

void SetListLines(QObject* c, const QString& property, const QStringList& lines) {
    auto* combo = qobject_cast<QComboBox*>(c);
    if (combo == nullptr || property != "Items")
        return;
    const int current = combo->currentIndex();
    combo->clear();
    combo->addItems(lines);
    if (current >= 0 && current < lines.size())
        combo->setCurrentIndex(current);
}

} // namespace

// One walk over an owner: the texts go to or come from one file, read once per
// section and written once per section.
class TkaLanguage::Walk {
public:
    Walk(const QString& path, bool exporting, bool exportEmpty, QString root)
        : File(path), Exporting(exporting), ExportEmpty(exportEmpty), Root(std::move(root)) {
        if (!Exporting) {
            for (const auto& [key, value] : File.ReadSectionValues(Root)) {
                const QString folded = key.toLower();
                if (!Texts.contains(folded))
                    Texts.insert(folded, value);
            }
        }
    }

    void Visit(QObject* c, const QString& path) {
        if (IsExcludedFromLanguage(c))
            return;
        QObject* action = CaptionAccess::LinkedAction(c);
        if (action == nullptr || action->objectName().isEmpty()) {
            if (CaptionAccess::HasCaption(c))
                Text(path + QStringLiteral(".Caption"), CaptionAccess::Caption(c),
                     [c](const QString& t) { CaptionAccess::SetCaption(c, t); });
            if (CaptionAccess::HasHint(c))
                Text(path + QStringLiteral(".Hint"), CaptionAccess::Hint(c),
                     [c](const QString& t) { CaptionAccess::SetHint(c, t); });
            if (auto* tree = qobject_cast<TkaTreeView*>(c))
                Tree(tree, path + QStringLiteral(".Tree"));
            for (const QString& property : ListPropertiesOf(c))
                List(c, property, path + QLatin1Char('.') + property);
        }
        for (QObject* owned : OwnedComponents(c)) {
            if (!owned->objectName().isEmpty())
                Visit(owned, path + QLatin1Char('.') + owned->objectName());
        }
    }

    // Keys of the owner's section reach the file in one update, beside those
    // that other instances of the class wrote before.
    void Finish() {
        if (!Exporting || Written.isEmpty())
            return;
        QList<QPair<QString, QString>> merged = File.ReadSectionValues(Root);
        for (const auto& [key, value] : Written) {
            auto same = std::find_if(merged.begin(), merged.end(), [&key](const auto& entry) {
                return entry.first.compare(key, Qt::CaseInsensitive) == 0;
            });
            if (same != merged.end())
                same->second = value;
            else
                merged.append({key, value});
        }
        File.ReplaceSection(Root, merged);
    }

private:
    void Text(const QString& key, const QString& current,
              const std::function<void(const QString&)>& set) {
        if (current.isEmpty() && !ExportEmpty)
            return;
        if (Exporting) {
            Written.append({key, current});
            return;
        }
        const auto found = Texts.constFind(key.toLower());
        if (found != Texts.constEnd() && *found != current)
            set(*found);
    }

    void Tree(TkaTreeView* tree, const QString& section) {
        if (Exporting)
            tree->ExportTreeTexts(File.FileName(), section);
        else
            tree->ImportTreeTexts(File.FileName(), section);
    }

    void List(QObject* c, const QString& property, const QString& section) {
        if (Exporting) {
            QList<QPair<QString, QString>> values;
            const QStringList lines = ListLines(c, property);
            for (int i = 0; i < lines.size(); ++i)
                values.append({QString::number(i), lines.at(i)});
            File.ReplaceSection(section, values);
            return;
        }
        QStringList lines;
        for (const auto& entry : File.ReadSectionValues(section))
            lines.append(entry.second);
        if (lines != ListLines(c, property))
            SetListLines(c, property, lines);
    }

    TIniFile File;
    bool Exporting;
    bool ExportEmpty;
    QString Root;
    QHash<QString, QString> Texts;
    QList<QPair<QString, QString>> Written;
};

TkaLanguage::TkaLanguage(QObject* owner) : QObject(owner) {
    RegisterLanguageComponent(this);
}

TkaLanguage::~TkaLanguage() {
    UnregisterLanguageComponent(this);
}

QObject* TkaLanguage::Owner() const {
    QObject* owner = OwnerOf(this);
    return owner != nullptr ? owner : parent();
}

bool TkaLanguage::ImportsOnActivation() const {
    QObject* owner = Owner();
    if (owner == nullptr)
        return false;
    if (OwnerOf(owner) == nullptr)
        return true;
    const auto* form = qobject_cast<const QWidget*>(owner);
    return form != nullptr && form->isWindow();
}

void TkaLanguage::ExportTexts() {
    QObject* owner = Owner();
    if (owner == nullptr)
        return;
    if (BeforeExport)
        BeforeExport(this);
    const QString root = QString::fromLatin1(owner->metaObject()->className());
    Walk walk(LanguageDir() + QStringLiteral("language.ini"), true, ExportEmptyStrings, root);
    walk.Visit(owner, root);
    walk.Finish();
    if (AfterExport)
        AfterExport(this);
}

void TkaLanguage::ImportTexts(int index) {
    QObject* owner = Owner();
    const QStringList& files = LanguageFiles();
    if (owner == nullptr || index < 0 || index >= files.size())
        return;
    if (BeforeImport)
        BeforeImport(this);
    const QString root = QString::fromLatin1(owner->metaObject()->className());
    Walk walk(LanguageDir() + files.at(index), false, ExportEmptyStrings, root);
    walk.Visit(owner, root);
    if (AfterImport)
        AfterImport(this);
}

void TkaLanguage::Loaded() {
    if (IsExportLanguageRun())
        ExportTexts();
    if (CurrentLanguageIndex() != -1)
        ImportTexts(CurrentLanguageIndex());
}

void StartLanguage(const QStringList& arguments, const QLocale& locale) {
    if (StartLanguageSystem(arguments, locale))
        Dialogs().ShowMessage(QStringLiteral("Export Language"));
}
