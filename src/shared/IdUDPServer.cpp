#include "IdUDPServer.h"

#include "ApplicationErrors.h"

#include <QBuffer>
#include <QPointer>

TIdUDPServer::TIdUDPServer(QObject* parent) : QObject(parent) {
    ContinueTimer.setSingleShot(true);
    ContinueTimer.setInterval(0);
    connect(&ContinueTimer, &QTimer::timeout, this, &TIdUDPServer::ReadPending);
    connect(&Socket, &QUdpSocket::readyRead, this, &TIdUDPServer::ReadPending);
}

TIdUDPServer::~TIdUDPServer() {
    OnUDPRead = nullptr;
    Socket.close();
}

void TIdUDPServer::SetActive(bool value) {
    if (value == Active())
        return;
    if (value) {
        Bind();
    } else {
        ContinueTimer.stop();
        Socket.close();
    }
}

void TIdUDPServer::Bind() {
    const QString where = QStringLiteral("UDP port %1").arg(FPort);
    // Port 0 would give some free port that no sender knows.
    if (FPort < 1 || FPort > 65535)
        throw EIdUDPServerError(QStringLiteral("Cannot listen on ") + where +
                                QStringLiteral(": the port must be between 1 and 65535"));
    // No address sharing: a second receiver on the same port must fail
    // rather than silently split the datagrams with the first.
    if (!Socket.bind(QHostAddress::AnyIPv4, quint16(FPort), QAbstractSocket::DontShareAddress)) {
        const QString reason = Socket.errorString();
        Socket.close();
        throw EIdUDPServerError(QStringLiteral("Cannot listen on ") + where + QStringLiteral(": ") +
                                reason);
    }
    Buffer.resize(FBufferSize);
}

void TIdUDPServer::ReadPending() {
    const QPointer<TIdUDPServer> self(this);
    for (int handled = 0; handled < MaxDatagramsPerTurn; ++handled) {
        if (!Active() || !Socket.hasPendingDatagrams())
            return;
        const qint64 size = Socket.readDatagram(Buffer.data(), Buffer.size());
        if (size < 0)
            continue;
        QByteArray datagram = QByteArray::fromRawData(Buffer.constData(), size);
        QBuffer stream(&datagram);
        stream.open(QIODevice::ReadOnly);
        try {
            if (OnUDPRead)
                OnUDPRead(this, stream);
        } catch (const std::exception& error) {
            HandleApplicationError(error);
        }
        // The handler may have stopped or destroyed the server.
        if (self == nullptr)
            return;
    }
    if (Active() && Socket.hasPendingDatagrams())
        ContinueTimer.start();
}
