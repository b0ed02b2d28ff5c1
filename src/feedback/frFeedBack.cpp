#include "frFeedBack.h"

#include "EkaError.h"
#include "MailAccounts.h"
#include "THourGlass.h"
#include "TIdSMTP.h"
#include "TMailMessage.h"
#include "TkaBoundedRead.h"
#include "TkaDialogs.h"
#include "kaApplicationEvents.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaHotkey.h"
#include "kaLabel.h"
#include "kaLanguage.h"
#include "kaMemo.h"
#include "kaPageControl.h"
#include "kaPanel.h"

#include <QBoxLayout>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>

const QString TFeedbackFrame::SupportAddress = QStringLiteral("support@tarvik.org");

namespace {

const QString ProgramName = QStringLiteral("Tarvik");
const QString Separator = QStringLiteral("--------------");
constexpr int AddressPanelHeight = 95;
constexpr int SendPanelHeight = 41;
constexpr int ComboBoxWidth = 265;
constexpr int SendButtonWidth = 113;
constexpr int SendButtonHeight = 25;
constexpr int AccountRole = Qt::UserRole;

TkaMessage& TestimonialMessage() {
    static TkaMessage message(QStringLiteral("FRFEEDBACK_MSG_TESTIMONIAL"),
                              QStringLiteral("Thanks for sending Testimonial"));
    return message;
}

TkaMessage& FeedbackMessage() {
    static TkaMessage message(QStringLiteral("FRFEEDBACK_MSG_FEEDBACK"),
                              QStringLiteral("Thanks for sending Feedback"));
    return message;
}

TkaMessage& BugreportMessage() {
    static TkaMessage message(QStringLiteral("FRFEEDBACK_MSG_BUGREPORT"),
                              QStringLiteral("Thanks for sending Bugreport"));
    return message;
}

// Lines as a memo holds them: a final line break ends the last line.
QStringList Lines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    QStringList lines = text.split(lineBreak);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList ErrorLogLines() {
    const QString fileName = ErrorLogFileName();
    if (!QFileInfo::exists(fileName))
        return {fileName + QStringLiteral(" does not exists")};
    const QByteArray content = TkaBoundedRead::Read<EkaError>(
        fileName, TkaBoundedRead::MaxTextBytes, [&fileName](const QString& reason) {
            return QStringLiteral("Cannot read the error log ") + fileName + QStringLiteral(": ") +
                   reason;
        });
    return Lines(QString::fromUtf8(content));
}

QString ErrorText(const std::exception& error) {
    if (const auto* own = dynamic_cast<const EkaError*>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

TkaMemo* NewMemo(QObject* owner, QWidget* parent, const QString& name) {
    auto* memo = Own(owner, new TkaMemo(parent), name);
    memo->setTabChangesFocus(true);
    return memo;
}

} // namespace

TFeedbackFrame::~TFeedbackFrame() {
    if (FSender != nullptr)
        FSender->disconnect(this);
}

TFeedbackFrame::TFeedbackFrame(QObject* owner, QWidget* parent) : TTreeNodeFrame(owner, parent) {
    setObjectName(QStringLiteral("FeedbackFrame"));
    setMinimumSize(MinimumWidth, MinimumHeight);
    // Registered when the page is made, so an export sees them without a send.
    TestimonialMessage().Text();
    FeedbackMessage().Text();
    BugreportMessage().Text();

    BuildAddressPanel();
    kaPageControl = Own(this, new TkaPageControl(this), "kaPageControl");
    BuildTestimonialTab();
    BuildFeedbackTab();
    BuildBugreportTab();
    BuildSendPanel();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(kaPanel1);
    column->addWidget(kaPageControl, 1);
    column->addWidget(kaPanel2);
    kaPageControl->setCurrentWidget(TestimonialTabSheet);

    connect(FromkaComboBox, &QComboBox::activated, this, &TFeedbackFrame::FromkaComboBoxClick);
    connect(SendButton, &QPushButton::clicked, this, &TFeedbackFrame::SendButtonClick);
    // Account lists are filled at run time: no file may empty them.
    ExcludeFromLanguage(FromkaComboBox);
    ExcludeFromLanguage(SMTPkaComboBox);
    Own(this, new TkaLanguage(this), "kaLanguage1");
    Own(this, new TkaHotkey(this), "kaHotkey1");
}

void TFeedbackFrame::BuildAddressPanel() {
    kaPanel1 = Own(this, new TkaPanel(this), "kaPanel1");
    kaPanel1->setFrameShape(QFrame::NoFrame);
    kaPanel1->setFixedHeight(AddressPanelHeight);
    FromkaLabel = Own(this, new TkaLabel(QStringLiteral("From:"), kaPanel1), "FromkaLabel");
    FromkaComboBox = Own(this, new TkaComboBox(kaPanel1), "FromkaComboBox");
    SMTPkaLabel = Own(this, new TkaLabel(QStringLiteral("SMTP-Server:"), kaPanel1), "SMTPkaLabel");
    SMTPkaComboBox = Own(this, new TkaComboBox(kaPanel1), "SMTPkaComboBox");
    for (TkaComboBox* box : {FromkaComboBox, SMTPkaComboBox}) {
        box->setEditable(true);
        box->SetRemanent(true);
        box->setFixedWidth(ComboBoxWidth);
        // A typed text is the value; it does not become an entry of the list.
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    FromkaComboBox->setToolTip(QStringLiteral("Your e-mail address, for our answer"));
    SMTPkaComboBox->setToolTip(QStringLiteral("The server that sends your e-mail"));
    FromkaLabel->setBuddy(FromkaComboBox);
    SMTPkaLabel->setBuddy(SMTPkaComboBox);

    auto* grid = new QGridLayout(kaPanel1);
    grid->setContentsMargins(12, 12, 12, 12);
    grid->addWidget(FromkaLabel, 0, 0);
    grid->addWidget(FromkaComboBox, 0, 1);
    grid->addWidget(SMTPkaLabel, 1, 0);
    grid->addWidget(SMTPkaComboBox, 1, 1);
    grid->setColumnStretch(2, 1);
}

void TFeedbackFrame::BuildTestimonialTab() {
    TestimonialTabSheet = Own(this, new QWidget(kaPageControl), "TestimonialTabSheet");
    kaPageControl->addTab(TestimonialTabSheet, QStringLiteral("Testimonial"));
    TestimonialkaPanel = Own(this, new TkaPanel(TestimonialTabSheet), "TestimonialkaPanel");
    TestimonialkaPanel->setFrameShape(QFrame::NoFrame);
    TestimaonialkaLabel = Own(
        this,
        new TkaLabel(QStringLiteral("Please give us a Testimonial for the program, if you like it"),
                     TestimonialkaPanel),
        "TestimaonialkaLabel");
    QFont strong = TestimaonialkaLabel->font();
    strong.setBold(true);
    TestimaonialkaLabel->setFont(strong);
    TestimonialkaLabel =
        Own(this,
            new TkaLabel(QStringLiteral("We publish several Testimonials on our Website"),
                         TestimonialkaPanel),
            "TestimonialkaLabel");
    AllowEmailkaCheckBox = Own(
        this,
        new TkaCheckBox(
            QStringLiteral("Yes, I allow to publish my EMail-Address on the Testimonial-Website"),
            TestimonialkaPanel),
        "AllowEmailkaCheckBox");
    HomekaLabel =
        Own(this, new TkaLabel(QStringLiteral("This is my Homepage:"), TestimonialkaPanel),
            "HomekaLabel");
    HomepagekaEdit = Own(this, new TkaEdit(TestimonialkaPanel), "HomepagekaEdit");
    HomepagekaEdit->setText(QStringLiteral("https://"));
    HomekaLabel->setBuddy(HomepagekaEdit);
    TestimonialkaMemo = NewMemo(this, TestimonialTabSheet, "TestimonialkaMemo");

    auto* homeRow = new QHBoxLayout;
    homeRow->addWidget(HomekaLabel);
    homeRow->addWidget(HomepagekaEdit, 1);
    auto* top = new QVBoxLayout(TestimonialkaPanel);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(TestimaonialkaLabel);
    top->addWidget(TestimonialkaLabel);
    top->addWidget(AllowEmailkaCheckBox);
    top->addLayout(homeRow);
    auto* column = new QVBoxLayout(TestimonialTabSheet);
    column->addWidget(TestimonialkaPanel);
    column->addWidget(TestimonialkaMemo, 1);
}

void TFeedbackFrame::BuildFeedbackTab() {
    FeedbackTabSheet = Own(this, new QWidget(kaPageControl), "FeedbackTabSheet");
    kaPageControl->addTab(FeedbackTabSheet, QStringLiteral("Feedback"));
    FeedbackkaMemo = NewMemo(this, FeedbackTabSheet, "FeedbackkaMemo");
    auto* column = new QVBoxLayout(FeedbackTabSheet);
    column->addWidget(FeedbackkaMemo);
}

void TFeedbackFrame::BuildBugreportTab() {
    BugreportTabSheet = Own(this, new QWidget(kaPageControl), "BugreportTabSheet");
    kaPageControl->addTab(BugreportTabSheet, QStringLiteral("Bugreport"));
    BugreportkaMemo = NewMemo(this, BugreportTabSheet, "BugreportkaMemo");
    ErrorLogkaLabel =
        Own(this,
            new TkaLabel(QStringLiteral("The Error-Logfile will be appended automitically"),
                         BugreportTabSheet),
            "ErrorLogkaLabel");
    auto* column = new QVBoxLayout(BugreportTabSheet);
    column->addWidget(BugreportkaMemo, 1);
    column->addWidget(ErrorLogkaLabel);
}

void TFeedbackFrame::BuildSendPanel() {
    kaPanel2 = Own(this, new TkaPanel(this), "kaPanel2");
    kaPanel2->setFrameShape(QFrame::NoFrame);
    kaPanel2->setFixedHeight(SendPanelHeight);
    SendButton = Own(this, new QPushButton(QStringLiteral("Send"), kaPanel2), "SendButton");
    SendButton->setFixedSize(SendButtonWidth, SendButtonHeight);
    auto* row = new QHBoxLayout(kaPanel2);
    row->setContentsMargins(12, 0, 12, 0);
    row->addStretch();
    row->addWidget(SendButton);
}

QString TFeedbackFrame::ProductTitle() {
    return ProgramName + QLatin1Char(' ') + QStringLiteral(TARVIK_VERSION);
}

// ---- Accounts ----------------------------------------------------------------------

void TFeedbackFrame::Loaded() {
    TTreeNodeFrame::Loaded();
    const bool chosen = FromkaComboBox->currentIndex() >= 0;
    CollectAccounts();
    if (chosen || FromkaComboBox->count() == 0)
        return;
    // Filling a box selects its first entry unasked; the choice is made here,
    // as the user's, so that it is stored.
    FromkaComboBox->setCurrentIndex(-1);
    SMTPkaComboBox->setCurrentIndex(-1);
    FromkaComboBox->SelectItemIndex(0);
    SMTPkaComboBox->SelectItemIndex(0);
}

void TFeedbackFrame::CollectAccounts() {
    for (const TAccount& account : CollectMailAccounts()) {
        const int index = static_cast<int>(FAccounts.size());
        FAccounts.append(account);
        FromkaComboBox->addItem(account.SMTPEmailAddress, index);
        SMTPkaComboBox->addItem(account.SMTPServer, index);
    }
}

void TFeedbackFrame::FromkaComboBoxClick() {
    const QString text = FromkaComboBox->currentText();
    // The entry picked, or the first one with that text when the text was typed.
    int entry = FromkaComboBox->currentIndex();
    if (entry < 0 || FromkaComboBox->itemText(entry) != text)
        entry = FromkaComboBox->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (entry < 0)
        return;
    bool ok = false;
    const int account = FromkaComboBox->itemData(entry, AccountRole).toInt(&ok);
    if (!ok || account < 0 || account >= FAccounts.size())
        return;
    const int server = SMTPkaComboBox->findText(FAccounts.at(account).SMTPServer,
                                                Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (server >= 0)
        SMTPkaComboBox->SelectItemIndex(server);
}

// ---- Sending -----------------------------------------------------------------------

TMailMessage TFeedbackFrame::BuildMessage(QString& thanks) const {
    TMailMessage message;
    const QString from = FromkaComboBox->currentText();
    // Checked before trimming: a line break at either end is refused too.
    TMailMessage::CheckNoControlCharacters(from, QStringLiteral("The sender address"));
    message.From = from.trimmed();
    message.To = SupportAddress;
    message.Body = {ProductTitle(), Separator};
    QWidget* tab = kaPageControl->currentWidget();
    if (tab == TestimonialTabSheet) {
        message.Subject = ProgramName + QStringLiteral(" - Testimonial");
        message.Body.append(AllowEmailkaCheckBox->isChecked()
                                ? QStringLiteral("Email publishing allowed")
                                : QStringLiteral("Email publishing NOT allowed"));
        message.Body.append(HomepagekaEdit->text());
        message.Body.append(Separator);
        message.Body.append(Lines(TestimonialkaMemo->toPlainText()));
        thanks = TestimonialMessage().Text();
    } else if (tab == FeedbackTabSheet) {
        message.Subject = ProgramName + QStringLiteral(" - Feedback");
        message.Body.append(Lines(FeedbackkaMemo->toPlainText()));
        thanks = FeedbackMessage().Text();
    } else {
        message.Subject = ProgramName + QStringLiteral(" - Bugreport");
        message.Body.append(Lines(BugreportkaMemo->toPlainText()));
        message.Body.append(Separator);
        message.Body.append(ErrorLogLines());
        thanks = BugreportMessage().Text();
    }
    return message;
}

void TFeedbackFrame::SendButtonClick() {
    if (Sending())
        return;
    QString thanks;
    TMailMessage message;
    try {
        message = BuildMessage(thanks);
    } catch (const std::exception& error) {
        Dialogs().ShowMessage(ErrorText(error));
        return;
    }
    // The thread owns copies only: the page may go before the mail is out.
    const auto failure = std::make_shared<QString>();
    const QString host = SMTPkaComboBox->currentText();
    FSender = QThread::create([message, host, failure] {
        try {
            TIdSMTP(host).Send(message);
        } catch (const std::exception& error) {
            *failure = ErrorText(error);
            if (failure->isEmpty())
                *failure = QStringLiteral("The mail could not be sent");
        } catch (...) {
            *failure = QStringLiteral("The mail could not be sent");
        }
    });
    connect(FSender, &QThread::finished, FSender, &QObject::deleteLater);
    connect(FSender, &QThread::finished, this,
            [this, failure, thanks] { SendFinished(*failure, thanks); });
    FBusy = std::make_unique<THourGlassScope>();
    SendButton->setEnabled(false);
    FSender->start();
}

void TFeedbackFrame::SendFinished(const QString& failure, const QString& thanks) {
    // The busy cursor ends before any message box.
    FBusy.reset();
    FSender = nullptr;
    SendButton->setEnabled(true);
    if (!failure.isEmpty())
        Dialogs().ShowMessage(failure);
    else if (!thanks.isEmpty())
        Dialogs().ShowMessage(thanks);
    emit SendDone();
}
