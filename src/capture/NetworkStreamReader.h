#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct AVFrame;
struct AVFormatContext;

// How long the reader waits for the network and between attempts.
struct TNetworkTimings {
    // A read (or the opening of the stream) that takes longer breaks the connection.
    int ReadTimeoutMs = 5000;
    // Pauses between connection attempts grow from the first to the longest.
    int FirstPauseMs = 1000;
    int LongestPauseMs = 30000;
    // How long a start waits for the stream to answer.
    int StartTimeoutMs = 2000;
};

// The largest picture side a network camera may send (4K cameras fit): one
// forged frame must not cost gigabytes.
constexpr int MaxNetworkFrameSide = 4096;
// The error for a picture of Width x Height beyond that bound.
QString TooLargeFrameText(int width, int height);

// Test seams in place of the system: the name lookup (getaddrinfo's result
// code; it runs on a thread of its own) and a look at every decoded picture
// before it is handed out (what that raises ends the connection).
struct TNetworkSeams {
    std::function<int(const std::string& host)> Lookup;
    std::function<void(const AVFrame& picture)> Picture;
};

struct TAVFrameDeleter {
    void operator()(AVFrame* frame) const noexcept;
};
using TAVFramePtr = std::unique_ptr<AVFrame, TAVFrameDeleter>;
TAVFramePtr MakeAVFrame();

// One network stream read on a thread of its own: it connects, demuxes and
// decodes continuously and keeps only the newest decoded picture, so the user
// interface never waits for the network. A broken or stalled stream is opened
// again after a pause that doubles from attempt to attempt, and so is a
// connection whose reading failed in any other way. Errors name the stream by
// its URL without user information and query only.
class TNetworkStreamReader {
public:
    TNetworkStreamReader(QString url, TNetworkTimings timings, TNetworkSeams seams = {});
    ~TNetworkStreamReader();
    TNetworkStreamReader(const TNetworkStreamReader&) = delete;
    TNetworkStreamReader& operator=(const TNetworkStreamReader&) = delete;

    void Start();
    // Ends the thread; returns within a fraction of a second, whatever the network does.
    void Stop();
    bool IsRunning() const { return Thread.joinable(); }

    enum class TReady { Picture, Connected, Failed, TimedOut };
    // Waits until the first connection delivered a picture, opened its decoder
    // with a known size, or failed; at most TimeoutMs (0 only looks).
    TReady WaitReady(int timeoutMs);

    // Moves the newest picture into Frame when it is newer than Serial (which
    // is updated); false when nothing new arrived.
    bool TakeNewest(TAVFramePtr& frame, std::uint64_t& serial);
    // The picture size the decoder announced for the current connection.
    void AnnouncedSize(int& width, int& height) const;

    // True while a connection delivers pictures.
    bool IsStreaming() const { return Streaming.load(); }
    // Times a connection that had delivered pictures was lost.
    std::uint64_t Losses() const { return LossCount.load(); }
    // Pictures decoded since the start.
    std::uint64_t Pictures() const;
    // Connection attempts so far.
    int Attempts() const { return AttemptCount.load(); }
    // Why the last connection failed or ended; empty before any failure.
    QString LastError() const;

private:
    struct TSession;
    enum class TSessionEnd { NothingDelivered, Lost, FileEnded };
    static int Interrupt(void* reader);

    void Run();
    TSessionEnd RunSession();
    bool Open(TSession& session);
    // Looks the camera's host name up on a thread of its own: the system's
    // lookup cannot be interrupted, and a stop must not wait for it.
    bool Resolve(const QString& host);
    void ReadPictures(TSession& session);
    void Publish(AVFrame* decoded);
    void Pace(TSession& session, const AVFrame* decoded);
    bool Fail(const QString& text);
    void FailWith(const QString& what, int error);
    void ArmDeadline();
    bool Interrupted() const;
    bool PauseFor(int ms);

    const QString Url;
    // A file is read at the pace of its time stamps, as a camera would send it.
    const bool LocalFile;
    const TNetworkTimings Timings;
    const TNetworkSeams Seams;

    std::thread Thread;
    std::atomic<bool> StopRequested{false};
    std::atomic<std::int64_t> DeadlineNs{0};
    std::atomic<bool> Streaming{false};
    std::atomic<std::uint64_t> LossCount{0};
    std::atomic<int> AttemptCount{0};

    mutable std::mutex Lock;
    std::condition_variable Changed;
    TAVFramePtr Newest;
    std::uint64_t Serial = 0;
    bool Connected = false;
    bool FirstAttemptFailed = false;
    int Width = 0;
    int Height = 0;
    QString Error;
};

// FFmpeg's error text for Error, in words a user understands for the common
// network failures (refused password, missing stream).
QString DescribeAVError(int error);
