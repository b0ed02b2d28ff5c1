#pragma once

#include "TAccount.h"
#include "TreeNodeFrame.h"

#include <QList>
#include <QPointer>
#include <QThread>
#include <QString>
#include <memory>

class QPushButton;
class QWidget;
class THourGlassScope;
class TkaCheckBox;
class TkaComboBox;
class TkaEdit;
class TkaLabel;
class TkaMemo;
class TkaPageControl;
class TkaPanel;
class TMailMessage;

// The page of the "Support" node: a testimonial, general feedback or a bug
// report (with the error log) sent by e-mail to the program's support. The
// sender address and the SMTP server are offered from the mail accounts found
// on the machine and can be typed in.
class TFeedbackFrame : public TTreeNodeFrame {
    Q_OBJECT

public:
    static constexpr int MinimumWidth = 420;
    static constexpr int MinimumHeight = 420;
    // Every message goes to this one address.
    static const QString SupportAddress;

    explicit TFeedbackFrame(QObject* owner = nullptr, QWidget* parent = nullptr);
    // A mail still on its way is left to its thread, which ends by itself.
    ~TFeedbackFrame() override;

    // Collects the accounts and, without a chosen sender, takes the first one.
    void Loaded() override;

    // A sender address picked from the list picks its account's server.
    void FromkaComboBoxClick();
    // Builds the message of the tab on show and sends it on a thread of its
    // own, so the cameras go on meanwhile: the busy cursor shows and Send is
    // disabled until the thanks or the reason why not.
    void SendButtonClick();
    bool Sending() const { return FSender != nullptr; }

    // "Tarvik" and the program's version, the first line of every message.
    static QString ProductTitle();

    const QList<TAccount>& Accounts() const { return FAccounts; }

    TkaPanel* kaPanel1 = nullptr;
    TkaLabel* FromkaLabel = nullptr;
    TkaComboBox* FromkaComboBox = nullptr;
    TkaLabel* SMTPkaLabel = nullptr;
    TkaComboBox* SMTPkaComboBox = nullptr;
    TkaPageControl* kaPageControl = nullptr;
    QWidget* TestimonialTabSheet = nullptr;
    TkaPanel* TestimonialkaPanel = nullptr;
    TkaLabel* TestimaonialkaLabel = nullptr;
    TkaLabel* TestimonialkaLabel = nullptr;
    TkaCheckBox* AllowEmailkaCheckBox = nullptr;
    TkaLabel* HomekaLabel = nullptr;
    TkaEdit* HomepagekaEdit = nullptr;
    TkaMemo* TestimonialkaMemo = nullptr;
    QWidget* FeedbackTabSheet = nullptr;
    TkaMemo* FeedbackkaMemo = nullptr;
    QWidget* BugreportTabSheet = nullptr;
    TkaMemo* BugreportkaMemo = nullptr;
    TkaLabel* ErrorLogkaLabel = nullptr;
    TkaPanel* kaPanel2 = nullptr;
    QPushButton* SendButton = nullptr;

private:
    void BuildAddressPanel();
    void BuildTestimonialTab();
    void BuildFeedbackTab();
    void BuildBugreportTab();
    void BuildSendPanel();
    void CollectAccounts();
    // The message of the tab on show and the thanks for it.
    TMailMessage BuildMessage(QString& thanks) const;

    void SendFinished(const QString& failure, const QString& thanks);

    QList<TAccount> FAccounts;
    QPointer<QThread> FSender;
    std::unique_ptr<THourGlassScope> FBusy;

signals:
    // A send ended, with its box shown.
    void SendDone();
};
