#pragma once

#include "TkaDialogs.h"

#include <QList>
#include <QQueue>
#include <QStringList>
#include <functional>

// Dialogs for tests: records every question and answers from a script. A
// question without a scripted answer fails loudly, so no test blocks on a
// dialog it did not expect. Installs itself for its lifetime.
class ScriptedDialogs final : public TkaDialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // The questions asked, in order, as "Kind: text".
    QStringList Asked;

    QQueue<TDialogAnswer> ConfirmAnswers;
    // The default button of each confirmation asked, in order.
    QList<TDialogAnswer> ConfirmDefaults;
    // Runs once while the next question is open, before it is answered: what
    // timers do in the nested event loop of a real dialog.
    std::function<void()> WhileOpen;
    // Answers of the file and directory dialogs; an empty string is "cancelled".
    QQueue<QString> PathAnswers;

    void ShowMessage(const QString& text) override;
    // Recorded as "Error: title: text".
    void ShowError(const QString& title, const QString& text) override;
    TDialogAnswer Confirm(const QString& text, TConfirmButtons buttons,
                          TDialogAnswer defaultAnswer) override;
    QString OpenFileName(const QString& title, const QString& directory,
                         const QString& filter) override;
    QString SaveFileName(const QString& title, const QString& fileName,
                         const QString& filter) override;
    QString SelectDirectory(const QString& caption, const QString& directory) override;

private:
    QString NextPath(const QString& question);
    void RunWhileOpen();

    TkaDialogs* Previous;
};
