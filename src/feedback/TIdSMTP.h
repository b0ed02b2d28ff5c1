#pragma once

#include "EkaError.h"

#include <QString>
#include <QStringList>

class TMailMessage;

// A failed SMTP dialogue; the message says what went wrong in the user's terms.
class ESMTPError : public EkaError {
public:
    using EkaError::EkaError;
};

// The SMTP port every client uses: 25 in the product; tests point it at a
// server of their own.
int SmtpPort();
// Test seam: 0 restores port 25.
void SetSmtpPort(int port);

// An SMTP client over libcurl: connects to Host on SmtpPort() without
// authentication, sends one message to its one recipient and disconnects,
// also when sending fails. Runs on the calling thread; the time-outs bound
// how long a dead server can hold it.
class TIdSMTP {
public:
    explicit TIdSMTP(QString host);

    // Bounds of the dialogue: a dead server cannot hold the window for good.
    long ConnectTimeoutMs = 15000;
    long TotalTimeoutMs = 60000;

    const QString& Host() const { return FHost; }

    // Raises ESMTPError (or EkaError for a message that cannot be composed).
    void Send(const TMailMessage& message);

    // The host as it may stand in an smtp:// address: refuses empty names,
    // control characters and anything but a host name or an IP address.
    static QString UrlHost(const QString& host);
    // The error texts, registered at start so that each language covers them.
    static void RegisterMessages();

private:
    static QString UrlHost(const QString& host, const QStringList& texts);

    QString FHost;
    // The error texts in the user's language when the client was made.
    QStringList FTexts;
};
