#include "TIdSMTP.h"

#include "TMailMessage.h"
#include "kaGeneral.h"

#include <QDateTime>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>
#include <array>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

constexpr int DefaultSmtpPort = 25;
int SmtpPortSetting = DefaultSmtpPort;
// A server's reply shown in a message box is cut to this length.
constexpr qsizetype MaxReplyLength = 300;

const QString ServerWhat = QStringLiteral("The SMTP-Server name");

enum TText {
    NoServerText,
    InvalidServerText,
    NotFoundText,
    CannotConnectText,
    TimeoutText,
    RefusedText,
    FailedText,
    TextCount
};

// What the Support page shows when sending fails, in the user's language.
std::array<TkaMessage, TextCount>& Messages() {
    static std::array<TkaMessage, TextCount> messages{{
        {QStringLiteral("TIDSMTP_MSG_NOSERVER"), QStringLiteral("No SMTP-Server given")},
        {QStringLiteral("TIDSMTP_MSG_INVALIDSERVER"), QStringLiteral("Invalid SMTP-Server name:")},
        {QStringLiteral("TIDSMTP_MSG_NOTFOUND"), QStringLiteral("SMTP-Server not found:")},
        {QStringLiteral("TIDSMTP_MSG_CANNOTCONNECT"),
         QStringLiteral("Cannot connect to the SMTP-Server %1 on port %2 (%3)")},
        {QStringLiteral("TIDSMTP_MSG_TIMEOUT"),
         QStringLiteral("The SMTP-Server %1 did not answer in time (%2)")},
        {QStringLiteral("TIDSMTP_MSG_REFUSED"),
         QStringLiteral("The SMTP-Server %1 refused the e-mail: %2")},
        {QStringLiteral("TIDSMTP_MSG_FAILED"),
         QStringLiteral("Sending the e-mail through %1 failed (%2)")},
    }};
    return messages;
}

QStringList CurrentTexts() {
    QStringList texts;
    for (TkaMessage& message : Messages())
        texts.append(message.Text());
    return texts;
}

struct TCurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using TCurl = std::unique_ptr<CURL, TCurlDeleter>;
using TCurlList = std::unique_ptr<curl_slist, TCurlDeleter>;

void InitialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What libcurl reads as the message after DATA.
struct TUpload {
    QByteArray Data;
    qsizetype Position = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<TUpload*>(user);
    const auto wanted = static_cast<qsizetype>(size * count);
    const qsizetype length = std::min(wanted, upload->Data.size() - upload->Position);
    std::memcpy(buffer, upload->Data.constData() + upload->Position, static_cast<size_t>(length));
    upload->Position += length;
    return static_cast<size_t>(length);
}

// Keeps the server's last refusal (a reply of class 4 or 5) for the message.
int NoteReply(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN)
        return 0;
    const QString reply = QString::fromUtf8(data, static_cast<qsizetype>(size)).trimmed();
    if (reply.startsWith(QLatin1Char('4')) || reply.startsWith(QLatin1Char('5')))
        *static_cast<QString*>(user) = reply;
    return 0;
}

// A reply of the server is foreign text: no control characters, bounded length.
QString Printable(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text.simplified().left(MaxReplyLength);
}

const QRegularExpression& HostName() {
    static const QRegularExpression pattern(QStringLiteral(
        "^[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?(\\.[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?)*"
        "\\.?$"));
    return pattern;
}

// This machine's name when it is a proper host name; servers on port 25 may
// refuse a client that greets as "localhost".
QString GreetingName() {
    const QString name = QSysInfo::machineHostName();
    return HostName().match(name).hasMatch() ? name : QStringLiteral("localhost");
}

void SetOption(CURL* curl, CURLoption option, auto value) {
    if (curl_easy_setopt(curl, option, value) != CURLE_OK)
        throw ESMTPError(QStringLiteral("The mail library refused an option: ") +
                         QString::number(option));
}

} // namespace

int SmtpPort() {
    return SmtpPortSetting;
}

void SetSmtpPort(int port) {
    SmtpPortSetting = port > 0 ? port : DefaultSmtpPort;
}

void TIdSMTP::RegisterMessages() {
    for (TkaMessage& message : Messages())
        message.Handle();
}

// The texts are taken here, on the thread that owns the messages.
TIdSMTP::TIdSMTP(QString host) : FHost(std::move(host)), FTexts(CurrentTexts()) {}

QString TIdSMTP::UrlHost(const QString& host) {
    return UrlHost(host, CurrentTexts());
}

QString TIdSMTP::UrlHost(const QString& host, const QStringList& texts) {
    TMailMessage::CheckNoControlCharacters(host, ServerWhat);
    const QString name = host.trimmed();
    if (name.isEmpty())
        throw ESMTPError(texts.at(NoServerText));
    QHostAddress address;
    if (address.setAddress(name)) {
        if (address.protocol() == QAbstractSocket::IPv6Protocol)
            return QLatin1Char('[') + address.toString() + QLatin1Char(']');
        return address.toString();
    }
    const QString ace = QUrl::toAce(name);
    if (ace.isEmpty() || !HostName().match(ace).hasMatch())
        throw ESMTPError(texts.at(InvalidServerText) + QLatin1Char(' ') + name);
    return ace;
}

void TIdSMTP::Send(const TMailMessage& message) {
    const QString urlHost = UrlHost(FHost, FTexts);
    const QString server = FHost.trimmed();
    TUpload upload{message.Compose(QDateTime::currentDateTime())};

    InitialiseCurl();
    const TCurl curl(curl_easy_init());
    if (!curl)
        throw ESMTPError(QStringLiteral("The mail library could not start"));
    // The path of the address is the name the client greets with (EHLO).
    const QByteArray url = (QStringLiteral("smtp://") + urlHost + QLatin1Char(':') +
                            QString::number(SmtpPort()) + QLatin1Char('/') + GreetingName())
                               .toLatin1();
    const QByteArray from = "<" + TMailMessage::AsciiAddress(message.From) + ">";
    TCurlList recipients(
        curl_slist_append(nullptr, ("<" + TMailMessage::AsciiAddress(message.To) + ">").data()));
    if (!recipients)
        throw ESMTPError(QStringLiteral("Out of memory for the recipient list"));
    char errorText[CURL_ERROR_SIZE] = {};
    QString refusal;

    CURL* handle = curl.get();
    SetOption(handle, CURLOPT_URL, url.constData());
    SetOption(handle, CURLOPT_PROTOCOLS_STR, "smtp");
    SetOption(handle, CURLOPT_PROXY, ""); // never a proxy from the environment
    SetOption(handle, CURLOPT_MAIL_FROM, from.constData());
    SetOption(handle, CURLOPT_MAIL_RCPT, recipients.get());
    SetOption(handle, CURLOPT_UPLOAD, 1L);
    SetOption(handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.Data.size()));
    SetOption(handle, CURLOPT_READFUNCTION, &ReadUpload);
    SetOption(handle, CURLOPT_READDATA, &upload);
    SetOption(handle, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    SetOption(handle, CURLOPT_TIMEOUT_MS, TotalTimeoutMs);
    SetOption(handle, CURLOPT_NOSIGNAL, 1L);
    SetOption(handle, CURLOPT_ERRORBUFFER, errorText);
    // The debug hook sees the server's replies; verbose output goes nowhere else.
    SetOption(handle, CURLOPT_DEBUGFUNCTION, &NoteReply);
    SetOption(handle, CURLOPT_DEBUGDATA, &refusal);
    SetOption(handle, CURLOPT_VERBOSE, 1L);

    const CURLcode result = curl_easy_perform(handle);
    if (result == CURLE_OK)
        return;
    const QString detail =
        Printable(QString::fromUtf8(errorText[0] != '\0' ? errorText : curl_easy_strerror(result)));
    const QString port = QString::number(SmtpPort());
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        throw ESMTPError(FTexts.at(NotFoundText) + QLatin1Char(' ') + server);
    case CURLE_COULDNT_CONNECT:
        throw ESMTPError(FTexts.at(CannotConnectText).arg(server, port, detail));
    case CURLE_OPERATION_TIMEDOUT:
        throw ESMTPError(FTexts.at(TimeoutText).arg(server, detail));
    default:
        if (!refusal.isEmpty())
            throw ESMTPError(FTexts.at(RefusedText).arg(server, Printable(refusal)));
        throw ESMTPError(FTexts.at(FailedText).arg(server, detail));
    }
}
