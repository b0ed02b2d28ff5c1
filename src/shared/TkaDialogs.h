#pragma once

#include <QString>

// The answers of a confirmation box.
enum class TDialogAnswer { Yes, No, Cancel };

// Which buttons a confirmation box offers.
enum class TConfirmButtons { YesNo, YesNoCancel };

// Every message box and file dialog of the programs goes through this
// interface, so tests can install one that records the question and answers
// from a script.
class TkaDialogs {
public:
    virtual ~TkaDialogs() = default;

    virtual void ShowMessage(const QString& text) = 0;
    // The error box: a stop icon and an OK button.
    virtual void ShowError(const QString& title, const QString& text) = 0;
    // DefaultAnswer is the button that Enter presses; a question whose "Yes"
    // destroys something defaults to No.
    virtual TDialogAnswer Confirm(const QString& text, TConfirmButtons buttons,
                                  TDialogAnswer defaultAnswer) = 0;
    TDialogAnswer Confirm(const QString& text, TConfirmButtons buttons) {
        return Confirm(text, buttons, TDialogAnswer::Yes);
    }
    // The chosen file, or an empty string when cancelled.
    virtual QString OpenFileName(const QString& title, const QString& directory,
                                 const QString& filter) = 0;
    virtual QString SaveFileName(const QString& title, const QString& fileName,
                                 const QString& filter) = 0;
    // The chosen directory, or an empty string when cancelled. The dialog lets
    // the user create a directory.
    virtual QString SelectDirectory(const QString& caption, const QString& directory) = 0;
};

// The dialogs in use: the Qt dialogs unless a test installed others.
TkaDialogs& Dialogs();
// Installs Dialogs for the process (not owned); null restores the Qt dialogs.
// Returns the previous installation.
TkaDialogs* SetDialogs(TkaDialogs* dialogs);
