#include "IdUDPClient.h"

#include <QVariant>
#include <sys/socket.h>

TIdUDPClient::TIdUDPClient(QObject* parent) : QObject(parent) {
    // Bound at once to an ephemeral port, so the socket exists for the
    // client's whole life and sending never has to open it.
    if (!Socket.bind(QHostAddress::AnyIPv4, 0))
        throw EkaError(QStringLiteral("Can not open UDP socket: ") + Socket.errorString());
    const int on = 1;
    Broadcast =
        ::setsockopt(int(Socket.socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
    Socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, QVariant(FBufferSize));
}

void TIdUDPClient::Send(const QByteArray& buffer, const QHostAddress& host, quint16 port) {
    const qint64 sent = Socket.writeDatagram(buffer, host, port);
    if (sent != buffer.size())
        throw EkaError(Socket.errorString());
}
