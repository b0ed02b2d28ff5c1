#include "TIdSMTP.h"

#include "EkaError.h"
#include "SmtpSink.h"
#include "TMailMessage.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TMailMessage Message(const QString& subject, const QStringList& body) {
    TMailMessage message;
    message.From = QStringLiteral("anna@example.com");
    message.To = QStringLiteral("support@tarvik.org");
    message.Subject = subject;
    message.Body = body;
    return message;
}

// The text of the error Send raises, or an empty string when it succeeds.
QString SendError(const QString& host, const TMailMessage& message) {
    try {
        TIdSMTP(host).Send(message);
    } catch (const EkaError& error) {
        return error.message();
    }
    return {};
}

class TIdSMTPTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        QString error;
        ASSERT_TRUE(Sink.Start(error)) << error.toStdString();
        SetSmtpPort(Sink.Port());
    }
    void TearDown() override { SetSmtpPort(0); }

    QTemporaryDir Folder;
    SmtpSink Sink{Folder.path()};
};

} // namespace

// What a mail reader decodes must be exactly what was written: non-ASCII
// subject and text, lines far beyond the 998 characters SMTP allows, a line
// of a single dot (the end of DATA), trailing blanks and empty lines.
TEST_F(TIdSMTPTest, TextArrivesUnchangedThroughARealServer) {
    const QString subject = QStringLiteral("Grüße aus Köln – eine Überwachung mit Ärger, "
                                           "Ölspur und ß, dazu 🎥 und noch mehr Text");
    const QStringList body = {QStringLiteral("Zeile mit Umlauten: äöü ÄÖÜ ß €"),
                              QStringLiteral("."),
                              QStringLiteral(".. starts with dots"),
                              QString(2500, QLatin1Char('x')) + QStringLiteral("=end"),
                              QStringLiteral("trailing blanks   "),
                              QString(),
                              QStringLiteral("last")};
    TMailMessage message = Message(subject, body);
    message.From = QStringLiteral("anna@bücher.example"); // a domain beyond ASCII
    ASSERT_EQ(SendError(QStringLiteral("127.0.0.1"), message), QString());

    const QList<QJsonObject> received = Sink.Received();
    ASSERT_EQ(received.size(), 1);
    const QJsonObject mail = received.first();
    EXPECT_EQ(mail["mail_from"].toString(), "anna@xn--bcher-kva.example");
    EXPECT_EQ(mail["helo"].toString(), QSysInfo::machineHostName()); // not "localhost"
    EXPECT_EQ(mail["headers"].toObject()["From"].toString(), "anna@xn--bcher-kva.example");
    EXPECT_EQ(mail["headers"].toObject()["Subject"].toString(), subject);
    EXPECT_EQ(mail["charset"].toString(), "utf-8");
    EXPECT_EQ(mail["body"].toString(), body.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    EXPECT_TRUE(mail["defects"].toArray().isEmpty());
    // On the wire: CR LF only, and no line beyond what MIME allows.
    const QString raw = mail["raw"].toString();
    EXPECT_FALSE(raw.contains(QRegularExpression(QStringLiteral("[^\r]\n"))));
    for (const QString& line : raw.split(QStringLiteral("\r\n")))
        EXPECT_LE(line.size(), 78) << line.left(40).toStdString();
}

TEST_F(TIdSMTPTest, InvalidAddressesAndHostsAreRefusedBeforeConnecting) {
    const TMailMessage good = Message(QStringLiteral("Tarvik - Feedback"), {QStringLiteral("x")});
    TMailMessage injected = good;
    injected.Subject = QStringLiteral("Tarvik\r\nBcc: victim@example.org");
    EXPECT_EQ(SendError(QStringLiteral("127.0.0.1"), injected),
              "The subject must not contain line breaks or other control characters");
    TMailMessage noAddress = good;
    noAddress.From = QStringLiteral("Anna <anna@example.com>");
    EXPECT_EQ(SendError(QStringLiteral("127.0.0.1"), noAddress),
              "The sender address is not a valid e-mail address: Anna <anna@example.com>");
    noAddress.From = QStringLiteral("   ");
    EXPECT_EQ(SendError(QStringLiteral("127.0.0.1"), noAddress), "The sender address is empty");
    // Nothing may reach the address of the server but a host name.
    EXPECT_EQ(SendError(QStringLiteral("127.0.0.1/evil"), good),
              "Invalid SMTP-Server name: 127.0.0.1/evil");
    EXPECT_EQ(SendError(QStringLiteral("user@127.0.0.1"), good),
              "Invalid SMTP-Server name: user@127.0.0.1");
    EXPECT_EQ(SendError(QStringLiteral("\t"), good),
              "The SMTP-Server name must not contain line breaks or other control characters");
    EXPECT_TRUE(Sink.Received().isEmpty());
    // A name with blanks around it and an IPv6 address are hosts.
    EXPECT_EQ(TIdSMTP::UrlHost(QStringLiteral(" Mail.Example.com ")), "mail.example.com");
    EXPECT_EQ(TIdSMTP::UrlHost(QStringLiteral("::1")), "[::1]");
}

TEST_F(TIdSMTPTest, AServerThatNeverAnswersEndsWithTheTimeOut) {
    // The kernel accepts the connection; nobody ever sends the greeting.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    SetSmtpPort(silent.serverPort());
    TIdSMTP smtp(QStringLiteral("127.0.0.1"));
    smtp.TotalTimeoutMs = 300;
    try {
        smtp.Send(Message(QStringLiteral("Tarvik - Feedback"), {QStringLiteral("x")}));
        ADD_FAILURE() << "sent to a server that never answered";
    } catch (const ESMTPError& error) {
        EXPECT_TRUE(error.message().startsWith(
            QStringLiteral("The SMTP-Server 127.0.0.1 did not answer in time (")))
            << error.message().toStdString();
    }
}
