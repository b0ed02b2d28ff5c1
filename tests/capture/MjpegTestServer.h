#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A multipart HTTP MJPEG server on 127.0.0.1, as network cameras serve their
// stream, running on threads of its own so the code under test may block.
// It can ask for a login (Basic), stay silent after accepting, stop and come
// back on the same port.
class TMjpegTestServer {
public:
    TMjpegTestServer() = default;
    ~TMjpegTestServer();
    TMjpegTestServer(const TMjpegTestServer&) = delete;
    TMjpegTestServer& operator=(const TMjpegTestServer&) = delete;

    // Listens on Port (0: any free one); false when the port cannot be had.
    bool Start(std::uint16_t port = 0);
    // Closes the listening socket and every connection.
    void Stop();
    std::uint16_t Port() const { return ListenPort; }
    // http://[user:password@]127.0.0.1:port/stream
    QString Url(const QString& login = QString()) const;

    // The picture sent from now on, as JPEG.
    void SetPicture(const QImage& picture, int quality = 80);
    void SetJpeg(const QByteArray& jpeg);
    void SetFrameIntervalMs(int ms) { IntervalMs = ms; }
    void RequireLogin(const QByteArray& user, const QByteArray& password);
    // Accepts connections but never answers them.
    void SetSilent(bool silent) { Silent = silent; }
    // Keeps the connections open but sends no pictures, as a hung camera does.
    void SetStalled(bool stalled) { Stalled = stalled; }

    int Connections() const { return ConnectionCount.load(); }
    int FramesSent() const { return FrameCount.load(); }

    static QByteArray ToJpeg(const QImage& picture, int quality = 80);

private:
    void AcceptLoop();
    void Serve(int fd);
    bool ReadRequest(int fd, QByteArray& request);
    bool SendAll(int fd, const QByteArray& bytes);
    bool Authorised(const QByteArray& request) const;

    int ListenFd = -1;
    std::uint16_t ListenPort = 0;
    std::thread Acceptor;
    std::mutex ClientsLock;
    std::vector<std::thread> Clients;
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Silent{false};
    std::atomic<bool> Stalled{false};
    std::atomic<int> IntervalMs{40};
    std::atomic<int> ConnectionCount{0};
    std::atomic<int> FrameCount{0};
    mutable std::mutex FrameLock;
    QByteArray Jpeg;
    QByteArray Login; // "user:password" in base 64, empty when none is asked
};
