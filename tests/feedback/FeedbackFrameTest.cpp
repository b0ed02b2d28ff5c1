#include "IsolatedNetwork.h"
#include "MailAccounts.h"
#include "ScriptedDialogs.h"
#include "SmtpSink.h"
#include "THourGlass.h"
#include "TIdSMTP.h"
#include "TempProgramDir.h"
#include "UnprivilegedScope.h"
#include "frFeedBack.h"
#include "kaApplicationEvents.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaEdit.h"
#include "kaMemo.h"
#include "kaPageControl.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString Title = QStringLiteral("Tarvik " TARVIK_VERSION);
const QString Separator = QStringLiteral("--------------");

// The Support page in a fresh program folder, with no mail accounts, sending
// to a real SMTP server on loopback.
class FeedbackFrameTest : public TempProgramDir {
protected:
    void SetUp() override {
        TempProgramDir::SetUp();
        SetMailHomeDir(PathOf("home"));
        Sink = std::make_unique<SmtpSink>(Folder.path());
        QString error;
        ASSERT_TRUE(Sink->Start(error)) << error.toStdString();
        SetSmtpPort(Sink->Port());
        Frame.reset(CreateLoaded<TFeedbackFrame>());
    }

    void TearDown() override {
        Frame.reset();
        Sink.reset();
        SetSmtpPort(0);
        SetMailHomeDir(QString());
        TempProgramDir::TearDown();
    }

    void Address(const QString& from, const QString& server) {
        Frame->FromkaComboBox->setEditText(from);
        Frame->SMTPkaComboBox->setEditText(server);
    }

    void Send(QWidget* tab) {
        Frame->kaPageControl->setCurrentWidget(tab);
        Frame->SendButtonClick();
        WaitForTheSend();
    }

    // The mail goes out on a thread of its own; its box comes when it ends.
    void WaitForTheSend() {
        QElapsedTimer waited;
        waited.start();
        while (Frame->Sending() && waited.elapsed() < 90000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        ASSERT_FALSE(Frame->Sending());
    }

    // The decoded body of the only message received, split at its CR LF line ends.
    QStringList ReceivedBody() const {
        const QList<QJsonObject> received = Sink->Received();
        if (received.size() != 1)
            return {QStringLiteral("%1 messages").arg(received.size())};
        const QString body = received.first()["body"].toString();
        if (!body.endsWith(QStringLiteral("\r\n")))
            return {QStringLiteral("no final CR LF")};
        return body.chopped(2).split(QStringLiteral("\r\n"));
    }

    ScriptedDialogs Dialogs;
    std::unique_ptr<SmtpSink> Sink;
    std::unique_ptr<TFeedbackFrame> Frame;
};

} // namespace

TEST_F(FeedbackFrameTest, TestimonialArrivesAsAProperMessage) {
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    Frame->HomepagekaEdit->setText(QStringLiteral("https://anna.example.com"));
    Frame->TestimonialkaMemo->setPlainText(QStringLiteral("Great program\nIt watches my shop\n"));
    Send(Frame->TestimonialTabSheet);

    EXPECT_EQ(Dialogs.Asked, QStringList{"Message: Thanks for sending Testimonial"});
    const QList<QJsonObject> received = Sink->Received();
    ASSERT_EQ(received.size(), 1);
    const QJsonObject mail = received.first();
    EXPECT_EQ(mail["mail_from"].toString(), "anna@example.com");
    EXPECT_EQ(mail["rcpt_tos"].toArray(), QJsonArray{TFeedbackFrame::SupportAddress});
    const QJsonObject headers = mail["headers"].toObject();
    EXPECT_EQ(headers["From"].toString(), "anna@example.com");
    EXPECT_EQ(headers["To"].toString(), TFeedbackFrame::SupportAddress);
    EXPECT_EQ(headers["Subject"].toString(), "Tarvik - Testimonial");
    EXPECT_EQ(headers["MIME-Version"].toString(), "1.0");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^<[0-9a-f-]{36}@example\\.com>$"))
                    .match(headers["Message-ID"].toString())
                    .hasMatch())
        << headers["Message-ID"].toString().toStdString();
    const QDateTime date = QDateTime::fromString(headers["Date"].toString(), Qt::RFC2822Date);
    EXPECT_LT(std::abs(date.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(mail["content_type"].toString(), "text/plain");
    EXPECT_EQ(ReceivedBody(), (QStringList{Title, Separator, "Email publishing NOT allowed",
                                           "https://anna.example.com", Separator, "Great program",
                                           "It watches my shop"}));
    // What was written stays for another try.
    EXPECT_EQ(Frame->TestimonialkaMemo->toPlainText(), "Great program\nIt watches my shop\n");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(FeedbackFrameTest, AllowedPublishingAndFeedbackCarryTheirLines) {
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    Frame->AllowEmailkaCheckBox->setChecked(true);
    Send(Frame->TestimonialTabSheet);
    ASSERT_EQ(Sink->Received().size(), 1);
    EXPECT_EQ(ReceivedBody().value(2), "Email publishing allowed");

    QFile::remove(Folder.path() + QStringLiteral("/received.jsonl"));
    Frame->FeedbackkaMemo->setPlainText(QStringLiteral("Grüße – please add a night mode"));
    Send(Frame->FeedbackTabSheet);
    EXPECT_EQ(ReceivedBody(),
              (QStringList{Title, Separator, QStringLiteral("Grüße – please add a night mode")}));
    EXPECT_EQ(Sink->Received().value(0)["headers"].toObject()["Subject"].toString(),
              "Tarvik - Feedback");
    EXPECT_EQ(Dialogs.Asked.last(), "Message: Thanks for sending Feedback");
}

TEST_F(FeedbackFrameTest, BugreportAppendsTheErrorLog) {
    QFile log(ErrorLogFileName());
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("09.12.2026 10:00:00 -> Application error : Exception ENotOpen in module Tarvik\r\n"
              "Driver not Open.\r\n");
    log.close();
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    Frame->BugreportkaMemo->setPlainText(QStringLiteral("The camera stopped"));
    Send(Frame->BugreportTabSheet);

    EXPECT_EQ(Dialogs.Asked, QStringList{"Message: Thanks for sending Bugreport"});
    EXPECT_EQ(Sink->Received().value(0)["headers"].toObject()["Subject"].toString(),
              "Tarvik - Bugreport");
    EXPECT_EQ(ReceivedBody(),
              (QStringList{Title, Separator, "The camera stopped", Separator,
                           "09.12.2026 10:00:00 -> Application error : Exception ENotOpen in "
                           "module Tarvik",
                           "Driver not Open."}));
}

TEST_F(FeedbackFrameTest, BugreportWithoutErrorLogNamesTheMissingFile) {
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    Send(Frame->BugreportTabSheet);
    EXPECT_EQ(ReceivedBody(),
              (QStringList{Title, Separator, Separator, ErrorLogFileName() + " does not exists"}));
}

TEST_F(FeedbackFrameTest, AnUnreadableErrorLogStopsTheBugreport) {
    QFile log(ErrorLogFileName());
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("a row\r\n");
    log.close();
    log.setPermissions(QFileDevice::WriteOwner);
    OpenPathForEverybody(ProgramDir().toLocal8Bit().constData());
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    {
        UnprivilegedScope unprivileged;
        Send(Frame->BugreportTabSheet);
    }
    EXPECT_EQ(Dialogs.Asked.size(), 1);
    EXPECT_TRUE(Dialogs.Asked.value(0).startsWith(
        QStringLiteral("Message: Cannot read the error log ") + ErrorLogFileName()))
        << Dialogs.Asked.value(0).toStdString();
    EXPECT_TRUE(Sink->Received().isEmpty());
}

TEST_F(FeedbackFrameTest, FailuresShowTheirOwnTextAndKeepEverything) {
    Frame->FeedbackkaMemo->setPlainText(QStringLiteral("keep me"));
    Address(QStringLiteral("anna@example.com"), QString());
    Send(Frame->FeedbackTabSheet);
    EXPECT_EQ(Dialogs.Asked.value(0), "Message: No SMTP-Server given");

    // A port on loopback where nobody listens.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    SetSmtpPort(port);
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    Send(Frame->FeedbackTabSheet);
    EXPECT_TRUE(Dialogs.Asked.value(1).startsWith(
        QStringLiteral("Message: Cannot connect to the SMTP-Server 127.0.0.1 on port %1 (")
            .arg(port)))
        << Dialogs.Asked.value(1).toStdString();

    SetSmtpPort(Sink->Port());
    Sink->RefuseRecipients();
    Send(Frame->FeedbackTabSheet);
    EXPECT_EQ(Dialogs.Asked.value(2), "Message: The SMTP-Server 127.0.0.1 refused the e-mail: "
                                      "550 5.1.1 Recipient refused by the test");

    EXPECT_EQ(Dialogs.Asked.size(), 3); // never a thanks
    EXPECT_TRUE(Sink->Received().isEmpty());
    EXPECT_EQ(Frame->FeedbackkaMemo->toPlainText(), "keep me");
    EXPECT_EQ(HourGlass().Count(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(FeedbackFrameTest, TypedLineBreaksCannotAddHeadersOrCommands) {
    Address(QStringLiteral("anna@example.com\r\nBcc: everybody@example.org"),
            QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(Frame->FromkaComboBox->currentText().contains(QLatin1Char('\n')));
    Send(Frame->FeedbackTabSheet);
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1\r\nRSET"));
    Send(Frame->FeedbackTabSheet);
    Address(QStringLiteral("anna@example.com\n"), QStringLiteral("127.0.0.1"));
    Send(Frame->FeedbackTabSheet);

    EXPECT_EQ(
        Dialogs.Asked,
        (QStringList{"Message: The sender address must not contain line breaks or other control "
                     "characters",
                     "Message: The SMTP-Server name must not contain line breaks or other control "
                     "characters",
                     "Message: The sender address must not contain line breaks or other control "
                     "characters"}));
    EXPECT_TRUE(Sink->Received().isEmpty());
}

TEST_F(FeedbackFrameTest, AnUnknownHostIsShownByName) {
    IsolatedNetwork isolated;
    if (!isolated.Active())
        GTEST_SKIP() << "needs root for a network namespace, so no name lookup leaves the machine";
    Address(QStringLiteral("anna@example.com"), QStringLiteral("nonexistent.invalid"));
    Send(Frame->FeedbackTabSheet);
    EXPECT_EQ(Dialogs.Asked, QStringList{"Message: SMTP-Server not found: nonexistent.invalid"});
}

TEST_F(FeedbackFrameTest, WithoutAccountsBothBoxesStartEmptyAndTypingWorks) {
    EXPECT_EQ(Frame->FromkaComboBox->count(), 0);
    EXPECT_EQ(Frame->SMTPkaComboBox->count(), 0);
    EXPECT_EQ(Frame->FromkaComboBox->currentText(), "");
    EXPECT_EQ(Frame->kaPageControl->currentWidget(), Frame->TestimonialTabSheet);
    EXPECT_EQ(Frame->HomepagekaEdit->text(), "https://");
    Frame->FromkaComboBox->setFocus();
    Frame->FromkaComboBox->lineEdit()->insert(QStringLiteral("bob@example.net"));
    Frame->SMTPkaComboBox->lineEdit()->insert(QStringLiteral("localhost"));
    Send(Frame->FeedbackTabSheet);
    EXPECT_EQ(Sink->Received().value(0)["mail_from"].toString(), "bob@example.net");
    EXPECT_EQ(Dialogs.Asked, QStringList{"Message: Thanks for sending Feedback"});
}

TEST_F(FeedbackFrameTest, AServerThatNeverAnswersHoldsNothingButTheSendButton) {
    QTcpServer silent; // accepted by the kernel, never answered
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    SetSmtpPort(silent.serverPort());
    Address(QStringLiteral("anna@example.com"), QStringLiteral("127.0.0.1"));
    Frame->SendButtonClick();
    Frame->SendButtonClick(); // a second press sends nothing more
    EXPECT_FALSE(Frame->SendButton->isEnabled());
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    int ticks = 0; // meanwhile the event loop runs
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    QElapsedTimer waited;
    waited.start();
    while (ticks < 10 && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(ticks, 10);
    EXPECT_TRUE(Frame->Sending());
    silent.close(); // the server goes: the send ends with its reason
    qDeleteAll(silent.findChildren<QTcpSocket*>());
    WaitForTheSend();
    EXPECT_EQ(Dialogs.Asked.filter("Thank").size(), 0);
    EXPECT_EQ(Dialogs.Asked.size(), 1);
    EXPECT_TRUE(Frame->SendButton->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
