#include "NetworkStreamReader.h"

#include "NetworkCameraConfig.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace {

using Clock = std::chrono::steady_clock;

// How often a name lookup looks whether the reader is to stop.
constexpr int LookupPollMs = 20;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// FFmpeg's own log lines could quote a URL with its password; the reader
// reports every failure in its own words instead.
void SilenceFFmpeg() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        avformat_network_init();
    });
}

int SystemLookup(const std::string& name) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (found != nullptr)
        ::freeaddrinfo(found);
    return result;
}

bool IsLocalFile(const QString& url) {
    return !url.contains(QStringLiteral("://")) || url.startsWith(QStringLiteral("file:"));
}

struct TFormatCloser {
    void operator()(AVFormatContext* context) const noexcept { avformat_close_input(&context); }
};
struct TCodecCloser {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
struct TPacketFreer {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};

} // namespace

QString TooLargeFrameText(int width, int height) {
    return QStringLiteral("the camera sends pictures of %1 x %2 pixels, larger than %3 x %3")
        .arg(width)
        .arg(height)
        .arg(MaxNetworkFrameSide);
}

void TAVFrameDeleter::operator()(AVFrame* frame) const noexcept {
    av_frame_free(&frame);
}

TAVFramePtr MakeAVFrame() {
    TAVFramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

QString DescribeAVError(int error) {
    switch (error) {
    case AVERROR_HTTP_UNAUTHORIZED:
        return QStringLiteral("the camera refused the user name or password (401 Unauthorized)");
    case AVERROR_HTTP_FORBIDDEN:
        return QStringLiteral("the camera refused access (403 Forbidden)");
    case AVERROR_HTTP_NOT_FOUND:
        return QStringLiteral("the camera has no stream at this address (404 Not Found)");
    case AVERROR_EOF:
        return QStringLiteral("the stream ended");
    default:
        break;
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

struct TNetworkStreamReader::TSession {
    std::unique_ptr<AVFormatContext, TFormatCloser> Format;
    std::unique_ptr<AVCodecContext, TCodecCloser> Codec;
    int Stream = -1;
    bool Delivered = false;
    // A file that was played to its end is started again; that is no loss.
    bool FileEnded = false;
    Clock::time_point Began = Clock::now();
    double FirstPts = -1;
};

TNetworkStreamReader::TNetworkStreamReader(QString url, TNetworkTimings timings,
                                           TNetworkSeams seams)
    : Url(std::move(url)), LocalFile(IsLocalFile(Url)), Timings(timings), Seams(std::move(seams)) {
    SilenceFFmpeg();
}

TNetworkStreamReader::~TNetworkStreamReader() {
    Stop();
}

void TNetworkStreamReader::Start() {
    if (Thread.joinable())
        return;
    StopRequested = false;
    {
        const std::lock_guard guard(Lock);
        Newest.reset();
        Serial = 0;
        Connected = false;
        FirstAttemptFailed = false;
        Error.clear();
    }
    Thread = std::thread([this] {
        // Nothing may escape the thread: the camera then just delivers no more pictures.
        try {
            Run();
        } catch (const std::exception& error) {
            Fail(QString::fromUtf8(error.what()));
        }
        Streaming = false;
    });
}

void TNetworkStreamReader::Stop() {
    if (!Thread.joinable())
        return;
    {
        const std::lock_guard guard(Lock);
        StopRequested = true;
    }
    Changed.notify_all();
    Thread.join();
    Streaming = false;
}

TNetworkStreamReader::TReady TNetworkStreamReader::WaitReady(int timeoutMs) {
    std::unique_lock guard(Lock);
    TReady ready = TReady::TimedOut;
    Changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        if (Serial > 0)
            ready = TReady::Picture;
        else if (Connected)
            ready = TReady::Connected;
        else if (FirstAttemptFailed)
            ready = TReady::Failed;
        return ready != TReady::TimedOut;
    });
    return ready;
}

bool TNetworkStreamReader::TakeNewest(TAVFramePtr& frame, std::uint64_t& serial) {
    const std::lock_guard guard(Lock);
    if (Serial == serial || !Newest)
        return false;
    if (!frame)
        frame = MakeAVFrame();
    av_frame_unref(frame.get());
    av_frame_move_ref(frame.get(), Newest.get());
    Newest.reset();
    serial = Serial;
    return true;
}

void TNetworkStreamReader::AnnouncedSize(int& width, int& height) const {
    const std::lock_guard guard(Lock);
    width = Width;
    height = Height;
}

std::uint64_t TNetworkStreamReader::Pictures() const {
    const std::lock_guard guard(Lock);
    return Serial;
}

QString TNetworkStreamReader::LastError() const {
    const std::lock_guard guard(Lock);
    return Error;
}

int TNetworkStreamReader::Interrupt(void* reader) {
    return static_cast<const TNetworkStreamReader*>(reader)->Interrupted() ? 1 : 0;
}

bool TNetworkStreamReader::Interrupted() const {
    return StopRequested.load() || NowNs() > DeadlineNs.load();
}

void TNetworkStreamReader::ArmDeadline() {
    DeadlineNs = NowNs() + std::int64_t(Timings.ReadTimeoutMs) * 1000000;
}

bool TNetworkStreamReader::Fail(const QString& text) {
    const std::lock_guard guard(Lock);
    Error = text;
    return false;
}

void TNetworkStreamReader::FailWith(const QString& what, int error) {
    if (StopRequested)
        return;
    // The interrupt callback cut a read that took too long.
    if (error == AVERROR_EXIT)
        Fail(QStringLiteral("%1: no answer within %2 s")
                 .arg(what)
                 .arg(Timings.ReadTimeoutMs / 1000.0, 0, 'g', 3));
    else
        Fail(QStringLiteral("%1: %2").arg(what, DescribeAVError(error)));
}

bool TNetworkStreamReader::PauseFor(int ms) {
    std::unique_lock guard(Lock);
    return !Changed.wait_for(guard, std::chrono::milliseconds(ms),
                             [this] { return StopRequested.load(); });
}

void TNetworkStreamReader::Run() {
    int pause = Timings.FirstPauseMs;
    while (!StopRequested) {
        TSessionEnd end = TSessionEnd::NothingDelivered;
        try {
            end = RunSession();
        } catch (const std::exception& error) {
            // Reported and reconnected like a lost stream, never silent.
            Fail(QStringLiteral("The stream reader failed: %1")
                     .arg(QString::fromUtf8(error.what())));
            end = TSessionEnd::Lost;
        }
        if (StopRequested)
            break;
        if (end == TSessionEnd::FileEnded) {
            pause = Timings.FirstPauseMs;
            continue;
        }
        Streaming = false;
        if (end == TSessionEnd::Lost) {
            ++LossCount;
            pause = Timings.FirstPauseMs;
        }
        {
            const std::lock_guard guard(Lock);
            Connected = false;
            FirstAttemptFailed = true;
        }
        Changed.notify_all();
        if (!PauseFor(pause))
            break;
        pause = std::min(pause * 2, Timings.LongestPauseMs);
    }
}

TNetworkStreamReader::TSessionEnd TNetworkStreamReader::RunSession() {
    ++AttemptCount;
    TSession session;
    if (!Open(session))
        return TSessionEnd::NothingDelivered;
    ReadPictures(session);
    if (session.FileEnded)
        return TSessionEnd::FileEnded;
    return session.Delivered ? TSessionEnd::Lost : TSessionEnd::NothingDelivered;
}

bool TNetworkStreamReader::Open(TSession& session) {
    if (!LocalFile && !Resolve(UrlHost(Url)))
        return false;
    AVFormatContext* format = avformat_alloc_context();
    if (format == nullptr)
        return Fail(QStringLiteral("out of memory"));
    format->interrupt_callback = {&TNetworkStreamReader::Interrupt, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rtsp_transport", "tcp", 0);
    av_dict_set(&options, "analyzeduration", "1000000", 0);
    ArmDeadline();
    const QByteArray url = LocalFile ? Url.toLocal8Bit() : Url.toUtf8();
    int result = avformat_open_input(&format, url.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        FailWith(QStringLiteral("Cannot open the stream"), result);
        return false;
    }
    session.Format.reset(format);
    result = avformat_find_stream_info(format, nullptr);
    if (result < 0) {
        FailWith(QStringLiteral("Cannot read the stream"), result);
        return false;
    }
    const AVCodec* decoder = nullptr;
    session.Stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (session.Stream < 0 || decoder == nullptr) {
        return Fail(session.Stream == AVERROR_DECODER_NOT_FOUND
                        ? QStringLiteral("No decoder for the stream's video")
                        : QStringLiteral("The stream holds no video"));
    }
    const AVCodecParameters* parameters = format->streams[session.Stream]->codecpar;
    if (parameters->width > MaxNetworkFrameSide || parameters->height > MaxNetworkFrameSide)
        return Fail(TooLargeFrameText(parameters->width, parameters->height));
    session.Codec.reset(avcodec_alloc_context3(decoder));
    if (!session.Codec || avcodec_parameters_to_context(session.Codec.get(), parameters) < 0)
        return Fail(QStringLiteral("out of memory"));
    session.Codec->thread_count = 1;
    // The decoder refuses larger pictures before it allocates them.
    session.Codec->max_pixels = std::int64_t(MaxNetworkFrameSide) * MaxNetworkFrameSide;
    result = avcodec_open2(session.Codec.get(), decoder, nullptr);
    if (result < 0) {
        FailWith(QStringLiteral("Cannot decode the stream"), result);
        return false;
    }
    {
        const std::lock_guard guard(Lock);
        Width = parameters->width;
        Height = parameters->height;
        Connected = Width > 0 && Height > 0;
    }
    Changed.notify_all();
    return true;
}

bool TNetworkStreamReader::Resolve(const QString& host) {
    if (host.isEmpty())
        return true;
    struct TLookup {
        std::mutex Lock;
        std::condition_variable Done;
        bool Finished = false;
        int Result = 0;
        // What the lookup raised, raised again on the reader's thread.
        std::exception_ptr Failure;
    };
    ArmDeadline();
    auto lookup = std::make_shared<TLookup>();
    std::thread([lookup, name = host.toStdString(), find = Seams.Lookup] {
        int result = EAI_FAIL;
        std::exception_ptr failure;
        try {
            result = find ? find(name) : SystemLookup(name);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            const std::lock_guard guard(lookup->Lock);
            lookup->Finished = true;
            lookup->Result = result;
            lookup->Failure = failure;
        }
        lookup->Done.notify_all();
    }).detach();
    std::unique_lock guard(lookup->Lock);
    while (!lookup->Finished && !Interrupted())
        lookup->Done.wait_for(guard, std::chrono::milliseconds(LookupPollMs));
    if (StopRequested)
        return false;
    if (lookup->Failure)
        std::rethrow_exception(lookup->Failure);
    if (!lookup->Finished)
        return Fail(QStringLiteral("Cannot open the stream: the name %1 was not found within %2 s")
                        .arg(host)
                        .arg(Timings.ReadTimeoutMs / 1000.0, 0, 'g', 3));
    if (lookup->Result != 0)
        return Fail(QStringLiteral("Cannot open the stream: the name %1 is not known (%2)")
                        .arg(host, QString::fromLocal8Bit(::gai_strerror(lookup->Result))));
    return true;
}

void TNetworkStreamReader::ReadPictures(TSession& session) {
    std::unique_ptr<AVPacket, TPacketFreer> packet(av_packet_alloc());
    TAVFramePtr decoded = MakeAVFrame();
    if (!packet) {
        Fail(QStringLiteral("out of memory"));
        return;
    }
    while (!StopRequested) {
        ArmDeadline();
        const int result = av_read_frame(session.Format.get(), packet.get());
        if (result == AVERROR_EOF && LocalFile && session.Delivered) {
            session.FileEnded = true;
            return;
        }
        if (result < 0) {
            FailWith(QStringLiteral("The stream broke off"), result);
            return;
        }
        const bool video = packet->stream_index == session.Stream;
        const int sent = video ? avcodec_send_packet(session.Codec.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            // A damaged or oversized picture costs one picture, not the connection.
            Fail(QStringLiteral("A picture could not be decoded (at most %1 x %1 pixels are "
                                "taken): %2")
                     .arg(MaxNetworkFrameSide)
                     .arg(DescribeAVError(sent)));
            continue;
        }
        while (video && avcodec_receive_frame(session.Codec.get(), decoded.get()) == 0) {
            if (decoded->width > MaxNetworkFrameSide || decoded->height > MaxNetworkFrameSide) {
                Fail(TooLargeFrameText(decoded->width, decoded->height));
                return;
            }
            if (Seams.Picture)
                Seams.Picture(*decoded);
            if (LocalFile)
                Pace(session, decoded.get());
            session.Delivered = true;
            Streaming = true;
            Publish(decoded.get());
        }
    }
}

// A file is read at the pace of its time stamps, as a camera would send it.
void TNetworkStreamReader::Pace(TSession& session, const AVFrame* decoded) {
    const AVRational base = session.Format->streams[session.Stream]->time_base;
    if (decoded->best_effort_timestamp == AV_NOPTS_VALUE || base.den == 0)
        return;
    const double pts = double(decoded->best_effort_timestamp) * av_q2d(base);
    if (session.FirstPts < 0)
        session.FirstPts = pts;
    const auto due = session.Began + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(pts - session.FirstPts));
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    if (wait.count() > 0)
        PauseFor(int(std::min<std::chrono::milliseconds::rep>(wait.count(), 1000)));
}

void TNetworkStreamReader::Publish(AVFrame* decoded) {
    {
        const std::lock_guard guard(Lock);
        if (!Newest)
            Newest = MakeAVFrame();
        av_frame_unref(Newest.get());
        av_frame_move_ref(Newest.get(), decoded);
        ++Serial;
        Width = Newest->width;
        Height = Newest->height;
        Connected = true;
    }
    Changed.notify_all();
}
