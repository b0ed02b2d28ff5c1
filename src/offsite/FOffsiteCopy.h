#pragma once

#include "OffsiteTarget.h"
#include "kaComponent.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TOffsitePasswordStore;

// "Off-site copy": the target's address, user, key file or password, and
// Try, which copies a small test file there and removes it. OK stores the
// settings; the password goes to the secret store, or where there is none
// into the configuration file, which the dialog then warns of.
class TOffsiteCopyForm : public QDialog, public TkaLoadable {
    Q_OBJECT
public:
    explicit TOffsiteCopyForm(QWidget* parent = nullptr);
    ~TOffsiteCopyForm() override;

    void Loaded() override {}

    // The target the fields describe; Problem tells why there is none.
    TOffsiteTarget Target(QString* problem = nullptr) const;
    // Runs Try on a thread of its own; the answer shows in TryLabel.
    void TryButtonClick();
    void accept() override;

    // Runs after the settings were stored.
    std::function<void()> OnChanged;

    QLineEdit* AddressEdit = nullptr;
    QLineEdit* UserEdit = nullptr;
    QLineEdit* KeyFileEdit = nullptr;
    QToolButton* KeyFileButton = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QPushButton* TryButton = nullptr;
    QLabel* TryLabel = nullptr;
    QLabel* WarningLabel = nullptr;

private:
    void KeyFileButtonClick();
    void ShowTryResult(const QString& problem);
    void Store();
    void PasswordStored(const QString& password, const QString& error);

    TOffsitePasswordStore* FPasswords = nullptr;
    // The password already stored; kept while the field stays empty.
    QString FStoredPassword;
    bool FBusy = false;
    // Set while a Try runs: its answer is dropped once the dialog is gone.
    std::shared_ptr<std::atomic<bool>> FCancelTry;
};
