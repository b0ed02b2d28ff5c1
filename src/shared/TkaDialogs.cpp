#include "TkaDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QWidget* DialogParent() {
    return QApplication::activeWindow();
}

QMessageBox::StandardButton StandardButton(TDialogAnswer answer) {
    switch (answer) {
    case TDialogAnswer::Yes:
        return QMessageBox::Yes;
    case TDialogAnswer::No:
        return QMessageBox::No;
    case TDialogAnswer::Cancel:
        break;
    }
    return QMessageBox::Cancel;
}

// The real dialogs.
class TQtDialogs final : public TkaDialogs {
public:
    void ShowMessage(const QString& text) override {
        QMessageBox::information(DialogParent(), QApplication::applicationName(), text);
    }

    void ShowError(const QString& title, const QString& text) override {
        QMessageBox::critical(DialogParent(), title, text);
    }

    TDialogAnswer Confirm(const QString& text, TConfirmButtons buttons,
                          TDialogAnswer defaultAnswer) override {
        QMessageBox::StandardButtons offered = QMessageBox::Yes | QMessageBox::No;
        if (buttons == TConfirmButtons::YesNoCancel)
            offered |= QMessageBox::Cancel;
        switch (QMessageBox::question(DialogParent(), QApplication::applicationName(), text,
                                      offered, StandardButton(defaultAnswer))) {
        case QMessageBox::Yes:
            return TDialogAnswer::Yes;
        case QMessageBox::No:
            return TDialogAnswer::No;
        default:
            return buttons == TConfirmButtons::YesNoCancel ? TDialogAnswer::Cancel
                                                           : TDialogAnswer::No;
        }
    }

    QString OpenFileName(const QString& title, const QString& directory,
                         const QString& filter) override {
        return QFileDialog::getOpenFileName(DialogParent(), title, directory, filter);
    }

    QString SaveFileName(const QString& title, const QString& fileName,
                         const QString& filter) override {
        return QFileDialog::getSaveFileName(DialogParent(), title, fileName, filter);
    }

    QString SelectDirectory(const QString& caption, const QString& directory) override {
        return QFileDialog::getExistingDirectory(DialogParent(), caption, directory,
                                                 QFileDialog::ShowDirsOnly);
    }
};

TkaDialogs*& Installed() {
    static TkaDialogs* installed = nullptr;
    return installed;
}

} // namespace

TkaDialogs& Dialogs() {
    static TQtDialogs qtDialogs;
    TkaDialogs* installed = Installed();
    return installed != nullptr ? *installed : qtDialogs;
}

TkaDialogs* SetDialogs(TkaDialogs* dialogs) {
    TkaDialogs* previous = Installed();
    Installed() = dialogs;
    return previous;
}
