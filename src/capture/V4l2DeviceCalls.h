#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <memory>
#include <sys/types.h>

// The few system calls the V4L2 back end makes, behind one interface so tests
// can put a simulated device in place of a camera. Calls answer like their
// POSIX counterparts: -1 (or MAP_FAILED) with errno set on failure.
class TV4l2DeviceCalls {
public:
    virtual ~TV4l2DeviceCalls() = default;

    // Paths of the video device nodes (/dev/video*), in no particular order.
    virtual QStringList DeviceNodes() = 0;
    virtual int Open(const QString& path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* Mmap(int fd, std::size_t length, off_t offset) = 0;
    virtual int Munmap(void* start, std::size_t length) = 0;
    // Waits at most TimeoutMs for Events; answers poll's count and sets Revents.
    virtual int Poll(int fd, short events, short& revents, int timeoutMs) = 0;
};

// The machine's devices through libv4l2, which converts the camera's own
// formats (YUYV, MJPEG, ...) to BGR24. Directory is where the nodes live.
class TV4l2SystemCalls final : public TV4l2DeviceCalls {
public:
    explicit TV4l2SystemCalls(QString directory = QStringLiteral("/dev"));

    QStringList DeviceNodes() override;
    int Open(const QString& path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(int fd, std::size_t length, off_t offset) override;
    int Munmap(void* start, std::size_t length) override;
    int Poll(int fd, short events, short& revents, int timeoutMs) override;

private:
    QString Directory;
};

// An open device node; closes it when it goes.
class TV4l2Fd {
public:
    TV4l2Fd() = default;
    TV4l2Fd(std::shared_ptr<TV4l2DeviceCalls> calls, int fd);
    ~TV4l2Fd();
    TV4l2Fd(TV4l2Fd&& other) noexcept;
    TV4l2Fd& operator=(TV4l2Fd&& other) noexcept;
    TV4l2Fd(const TV4l2Fd&) = delete;
    TV4l2Fd& operator=(const TV4l2Fd&) = delete;

    int Get() const { return Fd; }
    bool IsValid() const { return Fd >= 0; }
    void Reset();

private:
    std::shared_ptr<TV4l2DeviceCalls> Calls;
    int Fd = -1;
};

// A memory-mapped streaming buffer; unmapped when it goes.
class TV4l2Mapping {
public:
    TV4l2Mapping(std::shared_ptr<TV4l2DeviceCalls> calls, void* start, std::size_t length);
    ~TV4l2Mapping();
    TV4l2Mapping(const TV4l2Mapping&) = delete;
    TV4l2Mapping& operator=(const TV4l2Mapping&) = delete;

    const unsigned char* Data() const { return static_cast<const unsigned char*>(Start); }
    std::size_t Length() const { return Size; }

private:
    std::shared_ptr<TV4l2DeviceCalls> Calls;
    void* Start;
    std::size_t Size;
};
