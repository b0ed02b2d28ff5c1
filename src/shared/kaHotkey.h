#pragma once

#include "kaComponent.h"
#include "kaLanguageFiles.h"

#include <QObject>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

// The characters that may serve as accelerators: the first character of each
// Used line. NotUsed is kept with the form but never consulted.
struct TUseProp {
    TUseProp();
    QStringList Used;
    QStringList NotUsed;
};

// Gives every captioned control of its owner an accelerator ("&" before one
// character), distinct within each keyboard scope: the pages of a page control
// and the page frames of a page area are scopes of their own that inherit the
// characters of the surrounding controls. Captions that carry an accelerator
// already keep it.
class TkaHotkey : public QObject, public TkaLoadable, public TkaAcceleratorGenerator {
    Q_OBJECT
public:
    explicit TkaHotkey(QObject* owner);
    ~TkaHotkey() override;

    TUseProp KeysToUse;
    bool ActiveTabbedNoteBook = true;
    bool ActiveTabset = false;
    bool ActiveMenu = false;
    std::function<void(QObject* sender, bool& allow)> OnBeforeGenerate;
    std::function<void(QObject* sender)> OnAfterGenerate;

    // One complete run under the busy cursor.
    void Generate() override;
    // Builds the control tree and runs both passes. Without Preview the
    // captions are written; Messages receives the report lines.
    void BuildAndAssign(QStringList& messages, bool preview);
    // Removes the first "&" from every caption of the control tree.
    void RemoveAccelerators();

    void Loaded() override;

    struct Node;

private:
    using KeyTable = std::array<int, 256>;
    QWidget* Top() const;
    std::unique_ptr<Node> BuildTree() const;
    KeyTable InitialKeys() const;
    KeyTable Pass(const Node& scope, KeyTable keys, bool assign, QStringList& messages,
                  bool preview) const;
};

// The accelerator of a caption: the character after its first "&" that is not
// the last character, in upper-case form; a null QChar when there is none.
QChar ExistingAccelerator(const QString& caption);
