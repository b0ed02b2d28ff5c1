#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

// A UDP sender: the socket is opened when the client is created and may send
// to broadcast addresses. Each Send is one datagram.
class TIdUDPClient : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultBufferSize = 65536;
    static constexpr quint16 DefaultPort = 4032;
    // The largest payload one UDP datagram carries over IPv4.
    static constexpr int MaxDatagramSize = 65507;

    // Raises EkaError when no socket can be opened.
    explicit TIdUDPClient(QObject* parent = nullptr);

    bool Active() const { return Socket.state() == QAbstractSocket::BoundState; }
    bool BroadcastEnabled() const { return Broadcast; }

    quint16 Port() const { return FPort; }
    void SetPort(quint16 value) { FPort = value; }
    // Datagrams meant for this client stay below this size.
    int BufferSize() const { return FBufferSize; }

    // Sends Buffer as one datagram to Host at Port; raises EkaError when the
    // network stack refuses it.
    void Send(const QByteArray& buffer, const QHostAddress& host, quint16 port);

private:
    QUdpSocket Socket;
    bool Broadcast = false;
    quint16 FPort = DefaultPort;
    int FBufferSize = DefaultBufferSize;
};
