#include "kaHotkey.h"

#include "THourGlass.h"
#include "TreeNodeFrame.h"
#include "kaLanguage.h"
#include "kaTreePanel.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <vector>

namespace {

enum class TNodeKind { Top, TabSheet, Frame, PageContainer, Other };

constexpr int Free = 0;
constexpr int Taken = -1;

int KeyIndex(QChar c) {
    char16_t code = c.unicode();
    if (code >= u'a' && code <= u'z')
        code = static_cast<char16_t>(code - u'a' + u'A');
    return code < 256 ? code : -1;
}

bool IsFrame(const QWidget* widget) {
    return dynamic_cast<const TTreeNodeFrame*>(widget) != nullptr ||
           (!widget->isWindow() && !OwnedComponents(widget).isEmpty());
}

bool IsPageContainerWidget(const QWidget* widget) {
    return qobject_cast<const QTabWidget*>(widget) || qobject_cast<const QStackedWidget*>(widget) ||
           qobject_cast<const TkaTreePanel*>(widget) || IsFrame(widget);
}

// Only these show an "&" as accelerator in Qt; a label only with a buddy.
bool IsEligibleKind(const QWidget* widget) {
    if (CaptionAccess::TabWidgetOf(widget) != nullptr)
        return true;
    if (qobject_cast<const QToolButton*>(widget))
        return false;
    if (qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QGroupBox*>(widget))
        return true;
    const auto* label = qobject_cast<const QLabel*>(widget);
    return label != nullptr && label->buddy() != nullptr;
}

QList<QWidget*> ChildControls(QWidget* container) {
    QList<QWidget*> children;
    if (auto* tabs = qobject_cast<QTabWidget*>(container)) {
        for (int i = 0; i < tabs->count(); ++i)
            children.append(tabs->widget(i));
        return children;
    }
    for (QObject* child : container->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && !widget->isWindow())
            children.append(widget);
    }
    return children;
}

bool HasChildControls(QWidget* widget) {
    return !ChildControls(widget).isEmpty();
}

bool IsTreeNode(QWidget* widget) {
    if (qobject_cast<QScrollArea*>(widget) || IsPageContainerWidget(widget))
        return true;
    if (HasChildControls(widget) && CaptionAccess::TabWidgetOf(widget) == nullptr)
        return true;
    return CaptionAccess::HasCaption(widget) && !qobject_cast<QToolButton*>(widget);
}

} // namespace

struct TkaHotkey::Node {
    QWidget* Control = nullptr;
    TNodeKind Kind = TNodeKind::Other;
    Node* Parent = nullptr;
    std::vector<std::unique_ptr<Node>> Children;

    Node* Add(QWidget* control) {
        auto node = std::make_unique<Node>();
        node->Control = control;
        node->Parent = this;
        if (CaptionAccess::TabWidgetOf(control) != nullptr)
            node->Kind = TNodeKind::TabSheet;
        else if (IsFrame(control))
            node->Kind = TNodeKind::Frame;
        else if (IsPageContainerWidget(control))
            node->Kind = TNodeKind::PageContainer;
        Children.push_back(std::move(node));
        return Children.back().get();
    }
    bool IsContainer() const {
        return Kind == TNodeKind::PageContainer || Kind == TNodeKind::Frame;
    }
};

namespace {

void AddControls(TkaHotkey::Node* parent, QWidget* container);

// Walks one scope: Visit gets each node met; Skip tells whose contents the walk
// passes over.
template <class SkipFn, class VisitFn>
void WalkScope(const TkaHotkey::Node& scope, SkipFn skip, VisitFn visit) {
    for (const auto& child : scope.Children) {
        visit(*child);
        if (!skip(*child))
            WalkScope(*child, skip, visit);
    }
}

} // namespace

TUseProp::TUseProp() {
    for (char c = 'A'; c <= 'Z'; ++c)
        Used.append(QString(QLatin1Char(c)));
    for (char c = '0'; c <= '9'; ++c)
        Used.append(QString(QLatin1Char(c)));
    for (unsigned char code :
         {0xC4, 0xDC, 0xD6, 0x2D, 0x3A, 0x2E, 0x2C, 0x3B, 0x2B, 0x2A, 0x23, 0x3D,
          0x5F, 0x7E, 0x2F, 0x3E, 0x3C, 0x7C, 0x40, 0x21, 0x22, 0xA7, 0x24, 0x25,
          0x28, 0x29, 0x7B, 0x7D, 0x5B, 0x5D, 0x27, 0xB0, 0x5C, 0xDF, 0x3F, 0xB5})
        NotUsed.append(QString(QChar(code)));
}

QChar ExistingAccelerator(const QString& caption) {
    const int amp = caption.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp == caption.size() - 1)
        return {};
    const QChar c = caption.at(amp + 1);
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ? c.toUpper() : c;
}

TkaHotkey::TkaHotkey(QObject* owner) : QObject(owner) {
    RegisterHotkeyComponent(this);
}

TkaHotkey::~TkaHotkey() {
    UnregisterHotkeyComponent(this);
}

QWidget* TkaHotkey::Top() const {
    QObject* owner = OwnerOf(this);
    return qobject_cast<QWidget*>(owner != nullptr ? owner : parent());
}

namespace {
void AddControls(TkaHotkey::Node* parent, QWidget* container) {
    for (QWidget* child : ChildControls(container)) {
        TkaHotkey::Node* node = IsTreeNode(child) ? parent->Add(child) : parent;
        AddControls(node, child);
    }
}
} // namespace

std::unique_ptr<TkaHotkey::Node> TkaHotkey::BuildTree() const {
    auto top = std::make_unique<Node>();
    top->Control = Top();
    top->Kind = TNodeKind::Top;
    if (top->Control != nullptr)
        AddControls(top.get(), top->Control);
    return top;
}

TkaHotkey::KeyTable TkaHotkey::InitialKeys() const {
    KeyTable keys;
    keys.fill(Taken);
    for (const QString& line : KeysToUse.Used) {
        if (!line.isEmpty() && line.at(0).unicode() < 256)
            keys[line.at(0).unicode()] = Free;
    }
    return keys;
}

TkaHotkey::KeyTable TkaHotkey::Pass(const Node& scope, KeyTable keys, bool assign,
                                    QStringList& messages, bool preview) const {
    const KeyTable initial = InitialKeys();
    const auto skipContents = [](const Node& n) {
        return n.Kind == TNodeKind::TabSheet || n.Kind == TNodeKind::Frame;
    };
    WalkScope(scope, skipContents, [&](const Node& n) {
        const QString caption = CaptionAccess::Caption(n.Control);
        if (!assign) {
            const QChar existing = ExistingAccelerator(caption);
            const int k = existing.isNull() ? -1 : KeyIndex(existing);
            if (k < 0)
                return;
            if (keys[k] == Taken && initial[k] == Free)
                messages.append(QStringLiteral("Double Use of '") + existing +
                                QStringLiteral("' in ") + n.Control->objectName());
            keys[k] = Taken;
            return;
        }
        if (!IsEligibleKind(n.Control) || caption.isEmpty() || caption.size() >= 254 ||
            !ExistingAccelerator(caption).isNull())
            return;
        QString result = caption;
        for (int i = 0; i < caption.size(); ++i) {
            const int k = KeyIndex(caption.at(i));
            if (k >= 0 && keys[k] == Free) {
                result.insert(i, QLatin1Char('&'));
                keys[k] = Taken;
                break;
            }
        }
        if (preview) {
            if (result == caption)
                messages.append(QStringLiteral("No free Shortcut for ") + n.Control->objectName() +
                                QStringLiteral(": ") + result);
        } else {
            CaptionAccess::SetCaption(n.Control, result);
        }
    });
    // Each page of a container starts from the keys of the enclosing scope;
    // what any page takes is taken beside the container.
    WalkScope(
        scope, [](const Node& n) { return n.IsContainer(); },
        [&](const Node& n) {
            if (!n.IsContainer() || n.Children.empty())
                return;
            KeyTable used;
            used.fill(Free);
            for (const auto& page : n.Children) {
                const KeyTable result = Pass(*page, keys, assign, messages, preview);
                for (int k = 0; k < 256; ++k) {
                    if (result[k] == Taken)
                        used[k] = Taken;
                }
            }
            for (int k = 0; k < 256; ++k) {
                if (used[k] == Taken)
                    keys[k] = Taken;
            }
        });
    return keys;
}

void TkaHotkey::BuildAndAssign(QStringList& messages, bool preview) {
    messages.clear();
    const std::unique_ptr<Node> tree = BuildTree();
    if (tree->Children.empty())
        return;
    const KeyTable existing = Pass(*tree, InitialKeys(), false, messages, preview);
    Pass(*tree, existing, true, messages, preview);
}

void TkaHotkey::Generate() {
    bool allow = true;
    if (OnBeforeGenerate)
        OnBeforeGenerate(this, allow);
    if (!allow)
        return;
    {
        const THourGlassScope busy;
        QStringList messages;
        QWidget* top = Top();
        const bool updates = top != nullptr && top->updatesEnabled();
        if (updates)
            top->setUpdatesEnabled(false);
        struct Restore {
            QWidget* Top;
            bool Updates;
            ~Restore() {
                if (Updates)
                    Top->setUpdatesEnabled(true);
            }
        } restore{top, updates};
        BuildAndAssign(messages, false);
    }
    if (OnAfterGenerate)
        OnAfterGenerate(this);
}

void TkaHotkey::RemoveAccelerators() {
    const std::unique_ptr<Node> tree = BuildTree();
    WalkScope(
        *tree, [](const Node&) { return false; },
        [](const Node& n) {
            QString caption = CaptionAccess::Caption(n.Control);
            const int amp = caption.indexOf(QLatin1Char('&'));
            if (amp >= 0) {
                caption.remove(amp, 1);
                CaptionAccess::SetCaption(n.Control, caption);
            }
        });
}

void TkaHotkey::Loaded() {
    Generate();
}
