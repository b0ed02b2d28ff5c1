#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

// A real SMTP server on loopback (Debian's python3-aiosmtpd behind
// smtp_sink.py) that records every message it accepts. Started by the test,
// stopped with it.
class SmtpSink {
public:
    // Folder receives the record of the messages.
    explicit SmtpSink(const QString& folder);
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    // Starts the server; false with Error set when it does not come up.
    bool Start(QString& error);
    int Port() const { return FPort; }

    // The messages received so far, oldest first.
    QList<QJsonObject> Received() const;
    // From now on every recipient is refused with 550.
    void RefuseRecipients();

private:
    QString Output;
    QProcess Server;
    int FPort = 0;
};
