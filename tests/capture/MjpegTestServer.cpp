#include "MjpegTestServer.h"

#include "TJPEGImage.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SliceMs = 20;

bool WaitReadable(int fd, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        const int result = poll(&p, 1, SliceMs);
        if (result > 0)
            return true;
        if (result < 0 && errno != EINTR)
            return false;
    }
    return false;
}

} // namespace

TMjpegTestServer::~TMjpegTestServer() {
    Stop();
}

QByteArray TMjpegTestServer::ToJpeg(const QImage& picture, int quality) {
    TJPEGImage jpeg;
    jpeg.Assign(picture.convertToFormat(QImage::Format_BGR888));
    jpeg.SetQuality(quality);
    jpeg.Compress();
    return jpeg.JpegData();
}

bool TMjpegTestServer::Start(std::uint16_t port) {
    Stop();
    ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ListenFd < 0)
        return false;
    const int on = 1;
    setsockopt(ListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (bind(ListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        listen(ListenFd, 8) < 0 ||
        getsockname(ListenFd, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        close(ListenFd);
        ListenFd = -1;
        return false;
    }
    ListenPort = ntohs(address.sin_port);
    Stopping = false;
    Acceptor = std::thread([this] { AcceptLoop(); });
    return true;
}

void TMjpegTestServer::Stop() {
    Stopping = true;
    if (Acceptor.joinable())
        Acceptor.join();
    std::vector<std::thread> clients;
    {
        const std::lock_guard guard(ClientsLock);
        clients.swap(Clients);
    }
    for (std::thread& client : clients)
        client.join();
    if (ListenFd >= 0)
        close(ListenFd);
    ListenFd = -1;
}

QString TMjpegTestServer::Url(const QString& login) const {
    const QString user = login.isEmpty() ? QString() : login + QLatin1Char('@');
    return QStringLiteral("http://") + user + QStringLiteral("127.0.0.1:%1/stream").arg(ListenPort);
}

void TMjpegTestServer::SetPicture(const QImage& picture, int quality) {
    SetJpeg(ToJpeg(picture, quality));
}

void TMjpegTestServer::SetJpeg(const QByteArray& jpeg) {
    const std::lock_guard guard(FrameLock);
    Jpeg = jpeg;
}

void TMjpegTestServer::RequireLogin(const QByteArray& user, const QByteArray& password) {
    const std::lock_guard guard(FrameLock);
    Login = (user + ':' + password).toBase64();
}

void TMjpegTestServer::AcceptLoop() {
    while (WaitReadable(ListenFd, Stopping)) {
        const int fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++ConnectionCount;
        // Sends give up in slices, so a stop is never held up by a reader that stalls.
        const timeval slice{0, SliceMs * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
        const std::lock_guard guard(ClientsLock);
        Clients.emplace_back([this, fd] {
            Serve(fd);
            close(fd);
        });
    }
}

bool TMjpegTestServer::ReadRequest(int fd, QByteArray& request) {
    char buffer[1024];
    while (!request.contains("\r\n\r\n")) {
        if (!WaitReadable(fd, Stopping))
            return false;
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        request.append(buffer, got);
    }
    return true;
}

bool TMjpegTestServer::SendAll(int fd, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && !Stopping)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool TMjpegTestServer::Authorised(const QByteArray& request) const {
    const std::lock_guard guard(FrameLock);
    return Login.isEmpty() || request.contains("Authorization: Basic " + Login + "\r\n");
}

void TMjpegTestServer::Serve(int fd) {
    QByteArray request;
    if (Silent) {
        while (!Stopping)
            std::this_thread::sleep_for(std::chrono::milliseconds(SliceMs));
        return;
    }
    if (!ReadRequest(fd, request))
        return;
    if (!Authorised(request)) {
        SendAll(fd, "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"camera\"\r\n"
                    "Content-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    if (!SendAll(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\nCache-Control: no-cache\r\n"
                     "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n"))
        return;
    while (!Stopping) {
        if (Stalled) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        QByteArray jpeg;
        {
            const std::lock_guard guard(FrameLock);
            jpeg = Jpeg;
        }
        const QByteArray part = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg + "\r\n";
        if (!SendAll(fd, part))
            return;
        ++FrameCount;
        for (int waited = 0; waited < IntervalMs && !Stopping; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
