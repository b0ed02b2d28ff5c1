#include "ScriptedDialogs.h"

#include "EkaError.h"

#include <utility>

ScriptedDialogs::ScriptedDialogs() : Previous(SetDialogs(this)) {}

ScriptedDialogs::~ScriptedDialogs() {
    SetDialogs(Previous);
}

void ScriptedDialogs::ShowMessage(const QString& text) {
    Asked.append(QStringLiteral("Message: ") + text);
}

void ScriptedDialogs::ShowError(const QString& title, const QString& text) {
    Asked.append(QStringLiteral("Error: ") + title + QStringLiteral(": ") + text);
}

void ScriptedDialogs::RunWhileOpen() {
    if (const std::function<void()> action = std::exchange(WhileOpen, nullptr))
        action();
}

TDialogAnswer ScriptedDialogs::Confirm(const QString& text, TConfirmButtons,
                                       TDialogAnswer defaultAnswer) {
    Asked.append(QStringLiteral("Confirm: ") + text);
    ConfirmDefaults.append(defaultAnswer);
    RunWhileOpen();
    if (ConfirmAnswers.isEmpty())
        throw EkaError(QStringLiteral("unexpected confirmation: ") + text);
    return ConfirmAnswers.dequeue();
}

QString ScriptedDialogs::NextPath(const QString& question) {
    Asked.append(question);
    RunWhileOpen();
    if (PathAnswers.isEmpty())
        throw EkaError(QStringLiteral("unexpected dialog: ") + question);
    return PathAnswers.dequeue();
}

QString ScriptedDialogs::OpenFileName(const QString& title, const QString&, const QString&) {
    return NextPath(QStringLiteral("Open: ") + title);
}

QString ScriptedDialogs::SaveFileName(const QString& title, const QString&, const QString&) {
    return NextPath(QStringLiteral("Save: ") + title);
}

QString ScriptedDialogs::SelectDirectory(const QString& caption, const QString&) {
    return NextPath(QStringLiteral("Directory: ") + caption);
}
