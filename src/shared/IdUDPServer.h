#pragma once

#include "EkaError.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <functional>

class QIODevice;

// A port that cannot be listened on: 0, above 65535, or taken by another program.
class EIdUDPServerError : public EkaError {
public:
    using EkaError::EkaError;
};

// A UDP receiver bound to a port on all local IPv4 addresses. Datagrams are
// handed one at a time to OnUDPRead on the thread that owns the server. At
// most MaxDatagramsPerTurn are handled per turn of the event loop, so a flood
// cannot starve painting and input; what the socket cannot hold meanwhile is
// lost, as any datagram may be.
class TIdUDPServer : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultPort = 4032;
    static constexpr int DefaultBufferSize = 65536;
    static constexpr int MaxDatagramsPerTurn = 32;

    // Sender, then the datagram as a stream positioned at its first byte.
    using TUDPReadEvent = std::function<void(QObject* sender, QIODevice& data)>;

    explicit TIdUDPServer(QObject* parent = nullptr);
    ~TIdUDPServer() override;

    int Port() const { return FPort; }
    // Takes effect at the next activation.
    void SetPort(int port) { FPort = port; }
    int BufferSize() const { return FBufferSize; }

    bool Active() const { return Socket.state() == QAbstractSocket::BoundState; }
    // Binds and starts listening, or stops. Raises EIdUDPServerError when the
    // port is out of range or cannot be bound; the server then stays inactive.
    void SetActive(bool value);

    TUDPReadEvent OnUDPRead;

private:
    void Bind();
    void ReadPending();

    QUdpSocket Socket;
    QTimer ContinueTimer;
    QByteArray Buffer;
    int FPort = DefaultPort;
    int FBufferSize = DefaultBufferSize;
};
