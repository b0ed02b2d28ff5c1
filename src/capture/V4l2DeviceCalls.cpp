#include "V4l2DeviceCalls.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <libv4l2.h>
#include <poll.h>
#include <sys/mman.h>
#include <utility>

TV4l2SystemCalls::TV4l2SystemCalls(QString directory) : Directory(std::move(directory)) {}

QStringList TV4l2SystemCalls::DeviceNodes() {
    static const QRegularExpression videoNode(QStringLiteral("^video\\d+$"));
    QDir dir(Directory);
    QStringList nodes;
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names)
        if (videoNode.match(name).hasMatch())
            nodes << dir.filePath(name);
    return nodes;
}

int TV4l2SystemCalls::Open(const QString& path, int flags) {
    return v4l2_open(QFile::encodeName(path).constData(), flags);
}

int TV4l2SystemCalls::Close(int fd) {
    return v4l2_close(fd);
}

int TV4l2SystemCalls::Ioctl(int fd, unsigned long request, void* arg) {
    return v4l2_ioctl(fd, request, arg);
}

void* TV4l2SystemCalls::Mmap(int fd, std::size_t length, off_t offset) {
    return v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
}

int TV4l2SystemCalls::Munmap(void* start, std::size_t length) {
    return v4l2_munmap(start, length);
}

int TV4l2SystemCalls::Poll(int fd, short events, short& revents, int timeoutMs) {
    pollfd entry{fd, events, 0};
    const int result = ::poll(&entry, 1, timeoutMs);
    revents = entry.revents;
    return result;
}

TV4l2Fd::TV4l2Fd(std::shared_ptr<TV4l2DeviceCalls> calls, int fd)
    : Calls(std::move(calls)), Fd(fd) {}

TV4l2Fd::~TV4l2Fd() {
    Reset();
}

TV4l2Fd::TV4l2Fd(TV4l2Fd&& other) noexcept
    : Calls(std::move(other.Calls)), Fd(std::exchange(other.Fd, -1)) {}

TV4l2Fd& TV4l2Fd::operator=(TV4l2Fd&& other) noexcept {
    if (this != &other) {
        Reset();
        Calls = std::move(other.Calls);
        Fd = std::exchange(other.Fd, -1);
    }
    return *this;
}

void TV4l2Fd::Reset() {
    if (Fd >= 0 && Calls)
        Calls->Close(Fd);
    Fd = -1;
}

TV4l2Mapping::TV4l2Mapping(std::shared_ptr<TV4l2DeviceCalls> calls, void* start, std::size_t length)
    : Calls(std::move(calls)), Start(start), Size(length) {}

TV4l2Mapping::~TV4l2Mapping() {
    Calls->Munmap(Start, Size);
}
