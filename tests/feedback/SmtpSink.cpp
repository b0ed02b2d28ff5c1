#include "SmtpSink.h"

#include <QFile>
#include <QJsonDocument>

namespace {

constexpr int StartTimeout = 10000; // ms; python with asyncio starts in well under a second

} // namespace

SmtpSink::SmtpSink(const QString& folder) : Output(folder + QStringLiteral("/received.jsonl")) {}

SmtpSink::~SmtpSink() {
    if (Server.state() == QProcess::NotRunning)
        return;
    Server.closeWriteChannel(); // the server ends when its input closes
    if (!Server.waitForFinished(3000)) {
        Server.kill();
        Server.waitForFinished(1000);
    }
}

bool SmtpSink::Start(QString& error) {
    Server.setProcessChannelMode(QProcess::SeparateChannels);
    Server.start(QStringLiteral(TARVIK_SYSTEM_PYTHON), {QStringLiteral(SMTP_SINK_SCRIPT), Output});
    if (!Server.waitForStarted(StartTimeout)) {
        error = QStringLiteral("cannot start ") + TARVIK_SYSTEM_PYTHON + QStringLiteral(": ") +
                Server.errorString();
        return false;
    }
    while (!Server.canReadLine()) {
        if (!Server.waitForReadyRead(StartTimeout)) {
            error = QStringLiteral("the SMTP server did not start (is python3-aiosmtpd "
                                   "installed? scripts/install-deps installs it): ") +
                    QString::fromUtf8(Server.readAllStandardError());
            return false;
        }
    }
    FPort = QString::fromLatin1(Server.readLine()).trimmed().toInt();
    if (FPort <= 0) {
        error = QStringLiteral("the SMTP server reported no port");
        return false;
    }
    return true;
}

QList<QJsonObject> SmtpSink::Received() const {
    QList<QJsonObject> messages;
    QFile file(Output);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            messages.append(QJsonDocument::fromJson(line).object());
    return messages;
}

void SmtpSink::RefuseRecipients() {
    QFile flag(Output + QStringLiteral(".reject-rcpt"));
    flag.open(QIODevice::WriteOnly);
}
