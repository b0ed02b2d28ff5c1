#include "IdUDPServer.h"

#include "ClientTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QIODevice>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Everything is sent to 127.0.0.1.
class IdUDPServerTest : public ::testing::Test {
protected:
    void Send(const QByteArray& datagram, int port) {
        ASSERT_EQ(Sender.writeDatagram(datagram, QHostAddress::LocalHost, quint16(port)),
                  datagram.size());
    }
    bool WaitFor(const std::function<bool()>& condition, int milliseconds = 3000) {
        const QDeadlineTimer deadline(milliseconds);
        while (!condition() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return condition();
    }

    QUdpSocket Sender;
};

TEST_F(IdUDPServerTest, HandsEachDatagramOverWholeAndInOrder) {
    TIdUDPServer server;
    server.SetPort(FreeUdpPort());
    QList<QByteArray> received;
    server.OnUDPRead = [&](QObject* sender, QIODevice& data) {
        EXPECT_EQ(sender, &server);
        EXPECT_EQ(data.pos(), 0);
        received.append(data.readAll());
    };
    server.SetActive(true);
    ASSERT_TRUE(server.Active());
    const QByteArray large(65000, 'L');
    Send("first", server.Port());
    Send(large, server.Port());
    Send(QByteArray(), server.Port());
    ASSERT_TRUE(WaitFor([&] { return received.size() == 3; }));
    EXPECT_EQ(received[0], "first");
    EXPECT_EQ(received[1], large);
    EXPECT_TRUE(received[2].isEmpty());

    server.SetActive(false);
    Send("late", server.Port());
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(received.size(), 3);
}

TEST_F(IdUDPServerTest, AFloodLeavesTheEventLoopATurn) {
    TIdUDPServer server;
    server.SetPort(FreeUdpPort());
    server.SetActive(true);
    constexpr int Flood = 200;
    int handled = 0;
    int handledWhenTheLoopRan = -1;
    server.OnUDPRead = [&](QObject*, QIODevice&) {
        if (handled++ == 0)
            QTimer::singleShot(0, [&] { handledWhenTheLoopRan = handled; });
    };
    for (int i = 0; i < Flood; ++i)
        Send(QByteArray::number(i), server.Port());
    ASSERT_TRUE(WaitFor([&] { return handled == Flood; }));
    EXPECT_GT(handledWhenTheLoopRan, 0);
    EXPECT_LE(handledWhenTheLoopRan, TIdUDPServer::MaxDatagramsPerTurn + 1);
}

TEST_F(IdUDPServerTest, AHandlerErrorDoesNotStopTheNextDatagrams) {
    TIdUDPServer server;
    server.SetPort(FreeUdpPort());
    server.SetActive(true);
    int handled = 0;
    server.OnUDPRead = [&](QObject*, QIODevice&) {
        if (++handled == 1)
            throw EkaError("handler failed");
    };
    Send("one", server.Port());
    Send("two", server.Port());
    EXPECT_TRUE(WaitFor([&] { return handled == 2; }));
}

TEST_F(IdUDPServerTest, PortsOutOfRangeOrInUseAreRefused) {
    QUdpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    TIdUDPServer server;
    for (int port : {0, -1, 65536, 70000, int(other.localPort())}) {
        SCOPED_TRACE(port);
        server.SetPort(port);
        EXPECT_THROW(server.SetActive(true), EIdUDPServerError);
        EXPECT_FALSE(server.Active());
    }
    // A second receiver on the same port fails rather than sharing it.
    TIdUDPServer first;
    first.SetPort(FreeUdpPort());
    first.SetActive(true);
    server.SetPort(first.Port());
    EXPECT_THROW(server.SetActive(true), EIdUDPServerError);
    first.SetActive(false);
    server.SetActive(true);
    EXPECT_TRUE(server.Active());
}

} // namespace
