#include "FOffsiteCopy.h"

#include "OffsitePasswordStore.h"
#include "OffsiteSettings.h"
#include "OffsiteTransport.h"
#include "TkaDialogs.h"
#include "kaGeneral.h"
#include "kaLanguage.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <thread>

namespace {

QLabel* NewRowLabel(QObject* owner, const char* name, const QString& text, QWidget* buddy,
                    QWidget* parent) {
    auto* label = Own(owner, new QLabel(text, parent), name);
    label->setBuddy(buddy);
    return label;
}

TkaMessage& TryingMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_TRYING"),
                              QStringLiteral("Trying %1 ..."));
    return message;
}

TkaMessage& TriedMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_TRIED"),
                              QStringLiteral("A test file was copied and removed again."));
    return message;
}

TkaMessage& NoSecretStoreMessage() {
    static TkaMessage message(QStringLiteral("OFFSITE_MSG_NOSECRETSTORE"),
                              QStringLiteral("No secret store is available (%1): the password is "
                                             "kept in %2, readable by you only."));
    return message;
}

} // namespace

TOffsiteCopyForm::TOffsiteCopyForm(QWidget* parent) : QDialog(parent) {
    SetOwner(this, nullptr, QStringLiteral("OffsiteCopyForm"));
    setWindowTitle(QStringLiteral("Off-site copy"));
    FPasswords = new TOffsitePasswordStore(this);
    for (TkaMessage* message : {&TryingMessage(), &TriedMessage(), &NoSecretStoreMessage()})
        message->Handle();
    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    column->addLayout(form);

    AddressEdit = Own(this, new QLineEdit(this), "AddressEdit");
    AddressEdit->setMinimumWidth(360);
    AddressEdit->setPlaceholderText(QStringLiteral("sftp://nas.local/volume1/tarvik"));
    UserEdit = Own(this, new QLineEdit(this), "UserEdit");
    KeyFileEdit = Own(this, new QLineEdit(this), "KeyFileEdit");
    KeyFileButton = Own(this, new QToolButton(this), "KeyFileButton");
    KeyFileButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    KeyFileButton->setToolTip(QStringLiteral("Select a key file"));
    PasswordEdit = Own(this, new QLineEdit(this), "PasswordEdit");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(KeyFileEdit, 1);
    keyRow->addWidget(KeyFileButton);
    form->addRow(NewRowLabel(this, "AddressLabel", QStringLiteral("&Address:"), AddressEdit, this),
                 AddressEdit);
    form->addRow(NewRowLabel(this, "UserLabel", QStringLiteral("&User:"), UserEdit, this),
                 UserEdit);
    form->addRow(NewRowLabel(this, "KeyFileLabel", QStringLiteral("&Key file:"), KeyFileEdit, this),
                 keyRow);
    form->addRow(
        NewRowLabel(this, "PasswordLabel", QStringLiteral("&Password:"), PasswordEdit, this),
        PasswordEdit);

    TryButton = Own(this, new QPushButton(QStringLiteral("&Try"), this), "TryButton");
    column->addWidget(TryButton, 0, Qt::AlignLeft);
    TryLabel = Own(this, new QLabel(this), "TryLabel");
    TryLabel->setWordWrap(true);
    column->addWidget(TryLabel);
    WarningLabel = Own(this, new QLabel(this), "WarningLabel");
    WarningLabel->setWordWrap(true);
    WarningLabel->setStyleSheet(QStringLiteral("color: red"));
    WarningLabel->hide();
    column->addWidget(WarningLabel);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    column->addWidget(close);
    // Run-time texts, not captions to translate.
    for (QObject* label : {static_cast<QObject*>(TryLabel), static_cast<QObject*>(WarningLabel)})
        ExcludeFromLanguage(label);

    connect(TryButton, &QPushButton::clicked, this, &TOffsiteCopyForm::TryButtonClick);
    connect(KeyFileButton, &QToolButton::clicked, this, &TOffsiteCopyForm::KeyFileButtonClick);
    connect(close, &QDialogButtonBox::accepted, this, &TOffsiteCopyForm::accept);
    connect(close, &QDialogButtonBox::rejected, this, &TOffsiteCopyForm::reject);
    Own(this, new TkaLanguage(this), "kaLanguage1");

    const TOffsiteSettings settings = TOffsiteSettings::Read(*CfgIniFile());
    TOffsiteTarget stored;
    if (stored.Parse(settings.Url).isEmpty()) {
        AddressEdit->setText(stored.Base.toString());
        UserEdit->setText(stored.User);
    } else {
        AddressEdit->setText(MaskedOffsiteAddress(settings.Url));
    }
    KeyFileEdit->setText(settings.IdentityFile);
    FStoredPassword = settings.FilePassword;
    // The secret store is asked only for a login that takes a password.
    if (FStoredPassword.isEmpty() && !stored.User.isEmpty() && settings.IdentityFile.isEmpty()) {
        const QPointer<TOffsiteCopyForm> self(this);
        FPasswords->Read([self](const QString& password, const QString&) {
            if (self != nullptr && self->FStoredPassword.isEmpty())
                self->FStoredPassword = password;
        });
    }
}

TOffsiteCopyForm::~TOffsiteCopyForm() {
    IncludeInLanguage(TryLabel);
    IncludeInLanguage(WarningLabel);
    if (FCancelTry)
        *FCancelTry = true;
}

TOffsiteTarget TOffsiteCopyForm::Target(QString* problem) const {
    TOffsiteTarget target;
    QString why = target.Parse(AddressEdit->text());
    if (why.isEmpty() || !UserEdit->text().trimmed().isEmpty()) {
        // The user field stands for the address's user, so an SFTP address
        // without one is fine when the field names it.
        QUrl url(AddressEdit->text().trimmed());
        if (!UserEdit->text().trimmed().isEmpty())
            url.setUserName(UserEdit->text().trimmed());
        why = target.Parse(url.toString());
    }
    if (problem != nullptr)
        *problem = why;
    if (!why.isEmpty())
        return {};
    target.IdentityFile = KeyFileEdit->text().trimmed();
    if (!PasswordEdit->text().isEmpty())
        target.Password = PasswordEdit->text();
    else if (target.Password.isEmpty())
        target.Password = FStoredPassword;
    return target;
}

void TOffsiteCopyForm::TryButtonClick() {
    QString problem;
    const TOffsiteTarget target = Target(&problem);
    if (!problem.isEmpty()) {
        ShowTryResult(problem);
        return;
    }
    TryButton->setEnabled(false);
    TryLabel->setStyleSheet(QString());
    TryLabel->setText(TryingMessage().Text().arg(target.Display()));
    if (FCancelTry)
        *FCancelTry = true;
    FCancelTry = std::make_shared<std::atomic<bool>>(false);
    const QPointer<TOffsiteCopyForm> self(this);
    // The network is never waited for here; the answer comes back queued.
    std::thread([target, cancel = FCancelTry, self] {
        const QString result = TryOffsiteTarget(target, cancel.get());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, result, cancel] {
                if (self != nullptr && !*cancel)
                    self->ShowTryResult(result);
            },
            Qt::QueuedConnection);
    }).detach();
}

void TOffsiteCopyForm::ShowTryResult(const QString& problem) {
    TryButton->setEnabled(true);
    TryLabel->setStyleSheet(problem.isEmpty() ? QString() : QStringLiteral("color: red"));
    TryLabel->setText(problem.isEmpty() ? TriedMessage().Text() : problem);
}

void TOffsiteCopyForm::KeyFileButtonClick() {
    const QPointer<TOffsiteCopyForm> self(this);
    const QString chosen = Dialogs().OpenFileName(
        QStringLiteral("Key file"), QDir::homePath() + QStringLiteral("/.ssh"), QString());
    if (self != nullptr && !chosen.isEmpty())
        KeyFileEdit->setText(chosen);
}

void TOffsiteCopyForm::accept() {
    if (FBusy)
        return;
    QString problem;
    const TOffsiteTarget target = Target(&problem);
    if (!problem.isEmpty() && !AddressEdit->text().trimmed().isEmpty()) {
        ShowTryResult(problem);
        return;
    }
    try {
        Store();
    } catch (const EkaError& error) {
        ShowTryResult(error.message());
        return;
    }
    const QString password = PasswordEdit->text();
    if (password.isEmpty()) {
        if (OnChanged)
            OnChanged();
        QDialog::accept();
        return;
    }
    FBusy = true;
    const QPointer<TOffsiteCopyForm> self(this);
    FPasswords->Write(password, [self, password](const QString& error) {
        if (self != nullptr)
            self->PasswordStored(password, error);
    });
}

void TOffsiteCopyForm::Store() {
    TOffsiteSettings settings;
    TOffsiteTarget target = Target();
    target.Password.clear();
    settings.Url = target.IsValid() ? target.Display() : QString();
    settings.IdentityFile = KeyFileEdit->text().trimmed();
    settings.Write(*CfgIniFile());
}

void TOffsiteCopyForm::PasswordStored(const QString& password, const QString& error) {
    FBusy = false;
    try {
        TOffsiteSettings::WriteFilePassword(*CfgIniFile(), error.isEmpty() ? QString() : password);
    } catch (const EkaError& failure) {
        ShowTryResult(failure.message());
        return;
    }
    FStoredPassword = password;
    PasswordEdit->clear();
    if (OnChanged)
        OnChanged();
    if (error.isEmpty()) {
        QDialog::accept();
        return;
    }
    // Stays open so the warning is read; OK again closes.
    WarningLabel->setText(NoSecretStoreMessage().Text().arg(error, CfgIniFile()->FileName()));
    WarningLabel->show();
}
