#include "V4l2Backend.h"

#include "CaptureSettings.h"
#include "DemoCameraBackend.h"
#include "PageFixture.h"
#include "TempProgramDir.h"
#include "V4l2Device.h"
#include "Videocap.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <set>
#include <sys/mman.h>

namespace {

constexpr std::uint32_t Capture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;

struct TFakeNode {
    QString Path;
    std::string Card = "Fake camera";
    std::uint32_t Caps = Capture;
    bool OpenFails = false;
    bool HasBGR24 = true;
    QList<QSize> Sizes{{320, 240}, {640, 480}};
    QSize Size{640, 480};
    int Padding = 0;
};

// A simulated V4L2 driver: buffers are filled when the test produces frames;
// frame N fills the picture bytes with N and row padding with 0xEE.
class TFakeV4l2 final : public TV4l2DeviceCalls {
public:
    std::vector<TFakeNode> Nodes;
    std::map<int, std::size_t> OpenFds;
    std::vector<std::vector<std::uint8_t>> Memory;
    std::deque<std::uint32_t> Queued;
    std::deque<std::uint32_t> Done;
    std::set<std::uint32_t> ErrorFrames;
    std::set<void*> Mapped;
    std::map<std::uint32_t, int> Controls{{V4L2_CID_BRIGHTNESS, 128}, {V4L2_CID_AUTOGAIN, 1}};
    QStringList Log;
    bool StreamOn = false;
    bool Unplugged = false;
    bool DequeueFails = false;
    bool AutoProduce = false;
    std::uint32_t Produced = 0;
    v4l2_fract FrameInterval{0, 0}; // none named
    std::vector<int> PollTimeouts;
    int NextFd = 10;

    TFakeNode& Node(int fd) { return Nodes[OpenFds.at(fd)]; }

    void Produce(int count) {
        for (int i = 0; i < count && !Queued.empty(); ++i) {
            const std::uint32_t index = Queued.front();
            Queued.pop_front();
            ++Produced;
            const TFakeNode& node = Nodes[OpenFds.begin()->second];
            const int row = node.Size.width() * 3;
            std::vector<std::uint8_t>& m = Memory[index];
            std::fill(m.begin(), m.end(), 0xEE);
            for (int y = 0; y < node.Size.height(); ++y)
                std::fill_n(m.begin() + y * (row + node.Padding), row, std::uint8_t(Produced));
            Done.push_back(index | (ErrorFrames.count(Produced) ? 0x80000000u : 0));
        }
    }

    QStringList DeviceNodes() override {
        QStringList paths;
        for (const TFakeNode& node : Nodes)
            paths << node.Path;
        return paths;
    }

    int Open(const QString& path, int) override {
        for (std::size_t i = 0; i < Nodes.size(); ++i)
            if (Nodes[i].Path == path && !Nodes[i].OpenFails) {
                OpenFds[NextFd] = i;
                return NextFd++;
            }
        errno = ENOENT;
        return -1;
    }

    int Close(int fd) override { return OpenFds.erase(fd) ? 0 : (errno = EBADF, -1); }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        if (Unplugged)
            return errno = ENODEV, -1;
        TFakeNode& node = Node(fd);
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::snprintf(reinterpret_cast<char*>(cap->card), sizeof cap->card, "%s",
                          node.Card.c_str());
            std::snprintf(reinterpret_cast<char*>(cap->driver), sizeof cap->driver, "fake");
            cap->version = (6 << 16) | (1 << 8) | 2;
            cap->capabilities = node.Caps | V4L2_CAP_DEVICE_CAPS;
            cap->device_caps = node.Caps;
            return 0;
        }
        case VIDIOC_G_FMT:
            static_cast<v4l2_format*>(arg)->fmt.pix.width = std::uint32_t(node.Size.width());
            static_cast<v4l2_format*>(arg)->fmt.pix.height = std::uint32_t(node.Size.height());
            return 0;
        case VIDIOC_S_FMT:
            return SetFormat(node, static_cast<v4l2_format*>(arg)->fmt.pix);
        case VIDIOC_ENUM_FMT: {
            auto* desc = static_cast<v4l2_fmtdesc*>(arg);
            const std::uint32_t codes[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_BGR24};
            if (desc->index >= (node.HasBGR24 ? 2u : 1u))
                return errno = EINVAL, -1;
            desc->pixelformat = codes[desc->index];
            std::snprintf(reinterpret_cast<char*>(desc->description), sizeof desc->description,
                          desc->index == 0 ? "YUYV 4:2:2" : "BGR24");
            desc->flags = desc->index == 1 ? V4L2_FMT_FLAG_EMULATED : 0;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(arg);
            if (size->index >= std::uint32_t(node.Sizes.size()))
                return errno = EINVAL, -1;
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete = {std::uint32_t(node.Sizes[int(size->index)].width()),
                              std::uint32_t(node.Sizes[int(size->index)].height())};
            return 0;
        }
        case VIDIOC_QUERYCTRL:
            return QueryControl(static_cast<v4l2_queryctrl*>(arg));
        case VIDIOC_G_CTRL:
            static_cast<v4l2_control*>(arg)->value = Controls[static_cast<v4l2_control*>(arg)->id];
            return 0;
        case VIDIOC_S_CTRL:
            Controls[static_cast<v4l2_control*>(arg)->id] = static_cast<v4l2_control*>(arg)->value;
            return 0;
        case VIDIOC_REQBUFS:
            return RequestBuffers(node, static_cast<v4l2_requestbuffers*>(arg));
        case VIDIOC_QUERYBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(arg);
            buffer->length = std::uint32_t(Memory.at(buffer->index).size());
            buffer->m.offset = buffer->index * 0x10000;
            return 0;
        }
        case VIDIOC_QBUF:
            Queued.push_back(static_cast<v4l2_buffer*>(arg)->index);
            return 0;
        case VIDIOC_DQBUF:
            return Dequeue(node, static_cast<v4l2_buffer*>(arg));
        case VIDIOC_G_PARM:
            static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe = FrameInterval;
            return 0;
        case VIDIOC_STREAMON:
            StreamOn = true;
            Log << "STREAMON";
            return 0;
        case VIDIOC_STREAMOFF:
            StreamOn = false;
            Log << "STREAMOFF";
            return 0;
        }
        return errno = ENOTTY, -1;
    }

    void* Mmap(int, std::size_t, off_t offset) override {
        void* start = Memory.at(std::size_t(offset / 0x10000)).data();
        Mapped.insert(start);
        return start;
    }

    int Munmap(void* start, std::size_t) override { return Mapped.erase(start) ? 0 : -1; }

    int Poll(int, short, short& revents, int timeoutMs) override {
        PollTimeouts.push_back(timeoutMs);
        revents = 0;
        if (Unplugged)
            return revents = POLLERR | POLLHUP, 1;
        if (Done.empty() && AutoProduce)
            Produce(1);
        if (Done.empty())
            return 0;
        return revents = POLLIN, 1;
    }

private:
    int SetFormat(TFakeNode& node, v4l2_pix_format& pix) {
        QSize best = node.Sizes.front();
        for (const QSize& s : node.Sizes)
            if (std::abs(s.width() - int(pix.width)) < std::abs(best.width() - int(pix.width)))
                best = s;
        node.Size = best;
        pix.width = std::uint32_t(best.width());
        pix.height = std::uint32_t(best.height());
        pix.pixelformat = node.HasBGR24 ? pix.pixelformat : V4L2_PIX_FMT_YUYV;
        pix.bytesperline = std::uint32_t(best.width() * 3 + node.Padding);
        return 0;
    }

    int QueryControl(v4l2_queryctrl* query) {
        struct TRow {
            std::uint32_t id;
            std::uint32_t type;
            std::uint32_t flags;
            const char* name;
        };
        static const TRow rows[] = {
            {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, 0, "Brightness"},
            {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, V4L2_CTRL_FLAG_DISABLED, "Contrast"},
            {V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, 0, "Gain, Automatic"},
            {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, 0, "Power Line Frequency"}};
        const std::uint32_t after = query->id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
        for (const TRow& row : rows)
            if (row.id > after) {
                *query = {};
                query->id = row.id;
                query->type = row.type;
                query->flags = row.flags;
                query->maximum = 255;
                query->step = 1;
                query->default_value = 128;
                std::snprintf(reinterpret_cast<char*>(query->name), sizeof query->name, "%s",
                              row.name);
                return 0;
            }
        return errno = EINVAL, -1;
    }

    int RequestBuffers(TFakeNode& node, v4l2_requestbuffers* request) {
        if (request->count == 0) {
            Log << QStringLiteral("REQBUFS 0 with %1 mapped").arg(Mapped.size());
            if (!Mapped.empty())
                return errno = EBUSY, -1;
            Memory.clear();
            Queued.clear();
            Done.clear();
            return 0;
        }
        Log << QStringLiteral("REQBUFS %1").arg(request->count);
        const std::size_t size =
            std::size_t(node.Size.width() * 3 + node.Padding) * std::size_t(node.Size.height());
        Memory.assign(request->count, std::vector<std::uint8_t>(size));
        return 0;
    }

    int Dequeue(TFakeNode& node, v4l2_buffer* buffer) {
        if (DequeueFails)
            return errno = EIO, -1;
        if (Done.empty())
            return errno = EAGAIN, -1;
        const std::uint32_t entry = Done.front();
        Done.pop_front();
        buffer->index = entry & 0xffff;
        buffer->flags = (entry & 0x80000000u) ? V4L2_BUF_FLAG_ERROR : 0;
        buffer->bytesused =
            std::uint32_t(node.Size.width() * 3 + node.Padding) * std::uint32_t(node.Size.height());
        return 0;
    }
};

class V4l2BackendTest : public ::testing::Test {
protected:
    std::shared_ptr<TFakeV4l2> Fake = std::make_shared<TFakeV4l2>();

    std::unique_ptr<TCaptureDevice> OpenCamera(TFakeNode node = {"/dev/video0"}) {
        Fake->Nodes.push_back(node);
        Backend = std::make_unique<TV4l2Backend>(Fake);
        std::unique_ptr<TCaptureDevice> device = Backend->CreateDevice(0);
        EXPECT_TRUE(device && device->Open()) << (device ? device->ErrorText().toStdString() : "");
        return device;
    }

    static bool AllBytes(const std::vector<std::uint8_t>& frame, std::uint8_t value) {
        return std::all_of(frame.begin(), frame.end(), [=](std::uint8_t b) { return b == value; });
    }

    std::unique_ptr<TV4l2Backend> Backend;
};

TEST_F(V4l2BackendTest, ListsStreamingCaptureNodesInNumberOrder) {
    TFakeNode metadata{"/dev/video1"};
    metadata.Caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    TFakeNode readOnly{"/dev/video4"};
    readOnly.Caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
    TFakeNode busy{"/dev/video3"};
    busy.OpenFails = true;
    TFakeNode second{"/dev/video10"};
    second.Card = "Camera B";
    TFakeNode first{"/dev/video2"};
    first.Card = "Camera A";
    Fake->Nodes = {second, metadata, busy, readOnly, first};

    TV4l2Backend backend(Fake);
    ASSERT_EQ(backend.DeviceCount(), 2);
    EXPECT_EQ(backend.Description(0), "Camera A (/dev/video2)");
    EXPECT_EQ(backend.Description(1), "Camera B (/dev/video10)");
    EXPECT_EQ(backend.Version(0), "fake 6.1.2");
    EXPECT_EQ(backend.Description(2), "");
    EXPECT_EQ(backend.CreateDevice(2), nullptr);
    EXPECT_TRUE(Fake->OpenFds.empty()) << "probing left nodes open";
}

TEST_F(V4l2BackendTest, NegotiatesTheNearestSizeAndKeepsAChosenOne) {
    auto device = OpenCamera();
    EXPECT_EQ(device->Format(), (TCaptureFormat{640, 480, CapturePixelFormatBGR24}));
    EXPECT_EQ(device->FrameSizes(), (QList<QSize>{{320, 240}, {640, 480}}));
    EXPECT_EQ(device->PixelFormats(), QStringList{"YUYV 4:2:2 (YUYV)"})
        << "emulated formats hidden";

    ASSERT_TRUE(device->SetFormat({300, 200, CapturePixelFormatBGR24}));
    EXPECT_EQ(device->Format().Width, 320);
    device->Close();

    auto again = Backend->CreateDevice(0);
    ASSERT_TRUE(again->Open());
    EXPECT_EQ(again->Format().Width, 320) << "the chosen size holds for the next connection";
}

TEST_F(V4l2BackendTest, RefusesADeviceThatCannotDeliverBGR24) {
    TFakeNode node{"/dev/video0"};
    node.HasBGR24 = false;
    Fake->Nodes.push_back(node);
    TV4l2Backend backend(Fake);
    auto device = backend.CreateDevice(0);
    EXPECT_FALSE(device->Open());
    EXPECT_TRUE(device->ErrorText().contains("BGR24"));
    EXPECT_TRUE(Fake->OpenFds.empty());
}

TEST_F(V4l2BackendTest, StreamsThroughMappedBuffersAndReleasesThemInOrder) {
    auto device = OpenCamera();
    Fake->AutoProduce = true;
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(device->GrabFrame(frame));
    EXPECT_TRUE(device->IsStreaming());
    EXPECT_EQ(Fake->Mapped.size(), std::size_t(TV4l2Device::BufferCount));
    EXPECT_EQ(Fake->Queued.size(), std::size_t(TV4l2Device::BufferCount))
        << "the grabbed buffer goes back to the driver";

    device->Close();
    EXPECT_EQ(Fake->Log,
              (QStringList{"REQBUFS 4", "STREAMON", "STREAMOFF", "REQBUFS 0 with 0 mapped"}));
    EXPECT_TRUE(Fake->Mapped.empty());
    EXPECT_TRUE(Fake->OpenFds.empty());
}

TEST_F(V4l2BackendTest, HandsOutTheNewestFrameAndRequeuesTheOthers) {
    TFakeNode padded{"/dev/video0"};
    padded.Padding = 8;
    auto device = OpenCamera(padded);
    ASSERT_TRUE(device->StartStreaming());
    Fake->Produce(3);
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(device->GrabFrame(frame));
    EXPECT_EQ(frame.size(), std::size_t(640 * 480 * 3));
    EXPECT_TRUE(AllBytes(frame, 3)) << "newest frame, row padding dropped";
    EXPECT_EQ(Fake->Queued.size(), std::size_t(TV4l2Device::BufferCount));
}

// A camera whose buffers all filled since the last grab gets one frame
// interval for a fresh frame; a stale one is never handed out as new.
TEST_F(V4l2BackendTest, WaitsOneFrameIntervalAtMostForAFreshFrame) {
    struct TCase {
        v4l2_fract Interval;
        int WaitMs;
        bool FreshComes;
    };
    const TCase cases[] = {{{0, 0}, TV4l2Device::UnknownFrameIntervalMs, true},
                           {{1, 15}, 67, true},
                           {{1, 30}, 34, false},
                           {{2, 1}, TV4l2Backend::DefaultMaxFrameWaitMs, false}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.WaitMs);
        Fake = std::make_shared<TFakeV4l2>();
        Fake->FrameInterval = c.Interval;
        auto device = OpenCamera();
        ASSERT_TRUE(device->StartStreaming());
        Fake->Produce(TV4l2Device::BufferCount);
        Fake->AutoProduce = c.FreshComes;
        std::vector<std::uint8_t> frame{1};
        ASSERT_TRUE(device->GrabFrame(frame));
        if (c.FreshComes)
            EXPECT_TRUE(AllBytes(frame, TV4l2Device::BufferCount + 1));
        else
            EXPECT_TRUE(frame.empty()) << "the stale frame is not new";
        EXPECT_EQ(Fake->PollTimeouts, (std::vector<int>{0, c.WaitMs}));
        EXPECT_EQ(Fake->Queued.size(), std::size_t(TV4l2Device::BufferCount));
    }
}

TEST_F(V4l2BackendTest, SkipsFramesTheDriverMarkedBroken) {
    auto device = OpenCamera();
    ASSERT_TRUE(device->StartStreaming());
    Fake->ErrorFrames = {2};
    Fake->Produce(2);
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(device->GrabFrame(frame));
    EXPECT_TRUE(AllBytes(frame, 1));
}

// The grab runs on the main thread: without a frame ready it hands out none
// at once, and the page's watchdog tells of a camera that stays silent.
TEST_F(V4l2BackendTest, DeliversNoFrameWithoutWaitingWhenNoneIsReady) {
    auto device = OpenCamera();
    std::vector<std::uint8_t> frame(16, 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(device->GrabFrame(frame) && frame.empty()) << device->ErrorText().toStdString();
    EXPECT_EQ(Fake->PollTimeouts, std::vector<int>(3, 0));
    Fake->Produce(1);
    EXPECT_TRUE(device->GrabFrame(frame) && AllBytes(frame, 1)) << "the stream goes on";
}

TEST_F(V4l2BackendTest, AnUnpluggedCameraFailsEveryGrabAndClosesCleanly) {
    for (bool pollReportsIt : {true, false}) {
        SCOPED_TRACE(pollReportsIt);
        Fake = std::make_shared<TFakeV4l2>();
        auto device = OpenCamera();
        Fake->AutoProduce = true;
        std::vector<std::uint8_t> frame;
        ASSERT_TRUE(device->GrabFrame(frame));
        if (pollReportsIt)
            Fake->Unplugged = true;
        else
            Fake->DequeueFails = true;
        EXPECT_FALSE(device->GrabFrame(frame));
        EXPECT_FALSE(device->GrabFrame(frame));
        device.reset();
        EXPECT_TRUE(Fake->Mapped.empty());
        EXPECT_TRUE(Fake->OpenFds.empty());
    }
}

TEST_F(V4l2BackendTest, OffersIntegerAndBooleanControls) {
    auto device = OpenCamera();
    const QList<TCaptureControl> controls = device->Controls();
    ASSERT_EQ(controls.size(), 2) << "disabled and menu controls are left out";
    EXPECT_EQ(controls[0].Name, "Brightness");
    EXPECT_EQ(controls[0].Kind, TCaptureControlKind::Integer);
    EXPECT_EQ(controls[1].Kind, TCaptureControlKind::Boolean);
    ASSERT_TRUE(device->SetControl(V4L2_CID_BRIGHTNESS, 77));
    EXPECT_EQ(device->Controls()[0].Value, 77);
    EXPECT_TRUE(device->Caps().HasDlgVideoSource);
    EXPECT_FALSE(device->Caps().HasDlgVideoDisplay);
}

TEST(V4l2SystemCallsTest, ListsOnlyVideoNodesAndSkipsFilesThatAreNoDevices) {
    QTemporaryDir dir;
    for (const char* name : {"video0", "video", "videoX", "media0"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    auto calls = std::make_shared<TV4l2SystemCalls>(dir.path());
    EXPECT_EQ(calls->DeviceNodes(), QStringList{dir.filePath("video0")});
    TV4l2Backend backend(calls);
    EXPECT_EQ(backend.DeviceCount(), 0);
}

class CaptureListTest : public TempProgramDir {
protected:
    void TearDown() override {
        SetCaptureBackends({});
        TempProgramDir::TearDown();
    }
};

TEST_F(CaptureListTest, DemoCamerasFollowTheRealDevicesAsConfigured) {
    auto fake = std::make_shared<TFakeV4l2>();
    fake->Nodes = {{"/dev/video1"}, {"/dev/video0"}};
    QString name, version;
    SetCaptureBackends(DefaultCaptureBackends(fake));
    EXPECT_TRUE(GetDriverDescription(1, name, version));
    EXPECT_FALSE(GetDriverDescription(2, name, version)) << "no demo camera by default";

    CfgIniFile()->WriteInteger("Capture", "DemoCameras", 2);
    SetCaptureBackends(DefaultCaptureBackends(fake));
    ASSERT_TRUE(GetDriverDescription(0, name, version));
    EXPECT_EQ(name, "Fake camera (/dev/video0)");
    ASSERT_TRUE(GetDriverDescription(3, name, version));
    EXPECT_EQ(name, "Demo camera 2");
    EXPECT_EQ(version, "1.0");
    EXPECT_FALSE(GetDriverDescription(4, name, version));
    EXPECT_FALSE(GetDriverDescription(-1, name, version));
}

// Chooses the size and a control as a user would in the driver dialogs.
class TChoosingDialogs final : public TCaptureDialogs {
public:
    bool FormatDialog(TCaptureDevice& device) override {
        return device.SetFormat({320, 240, CapturePixelFormatBGR24});
    }
    bool SourceDialog(TCaptureDevice& device) override {
        const QList<TCaptureControl> controls = device.Controls();
        return !controls.isEmpty() && device.SetControl(controls[0].Id, 200);
    }
    bool DisplayDialog(TCaptureDevice&) override { return false; }
};

TEST_F(CaptureListTest, ACameraComesBackWithItsChosenSizeAndControls) {
    TChoosingDialogs dialogs;
    TCaptureDialogs* previous = SetCaptureDialogs(&dialogs);
    auto fake = std::make_shared<TFakeV4l2>();
    fake->Nodes = {{"/dev/video0"}};
    {
        SetCaptureBackends({std::make_shared<TV4l2Backend>(fake)});
        TVideoCap cap;
        cap.SetDriverIndex(0);
        EXPECT_TRUE(cap.DlgVideoFormat());
        EXPECT_TRUE(cap.DlgVideoSource());
    }
    // The program ends and the device forgets everything, as V4L2 devices do.
    fake->Nodes[0].Size = {640, 480};
    fake->Controls[V4L2_CID_BRIGHTNESS] = 128;
    SetCaptureBackends({std::make_shared<TV4l2Backend>(fake)});
    TVideoCap cap;
    cap.SetDriverIndex(0);
    cap.SetDriverOpen(true);
    EXPECT_EQ(cap.ImageWidth(), 320);
    EXPECT_EQ(cap.ImageHeight(), 240);
    EXPECT_EQ(fake->Controls[V4L2_CID_BRIGHTNESS], 200);
    EXPECT_EQ(fake->Controls[V4L2_CID_AUTOGAIN], 1) << "untouched controls keep their values";
    cap.SetDriverOpen(false);

    const TIniFile onDisk(CfgIniFile()->FileName());
    const QString section = CaptureSettingsSection("Fake camera (/dev/video0)");
    EXPECT_EQ(onDisk.ReadInteger(section, "Width", 0), 320);
    EXPECT_EQ(onDisk.ReadInteger(section, "Control Brightness", 0), 200);

    // Another camera of the same kind at another node keeps its own settings.
    fake->Nodes.push_back({"/dev/video1"});
    fake->Nodes[1].Size = {640, 480};
    SetCaptureBackends({std::make_shared<TV4l2Backend>(fake)});
    TVideoCap other;
    other.SetDriverIndex(1);
    other.SetDriverOpen(true);
    EXPECT_EQ(other.ImageWidth(), 640);
    SetCaptureDialogs(previous);
}

TEST_F(CaptureListTest, ADemoCameraKeepsItsSettingsAcrossARestartToo) {
    TChoosingDialogs dialogs;
    TCaptureDialogs* previous = SetCaptureDialogs(&dialogs);
    SetCaptureBackends({std::make_shared<TDemoCameraBackend>(1)});
    {
        TVideoCap cap;
        cap.SetDriverName("Demo camera 1");
        EXPECT_TRUE(cap.DlgVideoFormat());
        EXPECT_TRUE(cap.DlgVideoSource());
    }
    SetCaptureBackends({std::make_shared<TDemoCameraBackend>(1)});
    TVideoCap cap;
    cap.SetDriverName("Demo camera 1");
    cap.SetDriverOpen(true);
    EXPECT_EQ(cap.ImageWidth(), 320);
    SetCaptureDialogs(previous);
}

TEST_F(CaptureListTest, StoredValuesOutsideTheControlsRangeAreClamped) {
    auto fake = std::make_shared<TFakeV4l2>();
    fake->Nodes = {{"/dev/video0"}};
    const QString section = CaptureSettingsSection("Fake camera (/dev/video0)");
    CfgIniFile()->WriteString(section, "Control Brightness", "999");
    CfgIniFile()->WriteString(section, "Width", "garbage");
    SetCaptureBackends({std::make_shared<TV4l2Backend>(fake)});
    TVideoCap cap;
    cap.SetDriverIndex(0);
    cap.SetDriverOpen(true);
    EXPECT_EQ(cap.ImageWidth(), 640) << "an unreadable size leaves the device's own";
    EXPECT_EQ(fake->Controls[V4L2_CID_BRIGHTNESS], 255);
}

} // namespace

class V4l2PageTest : public PageFixture {
protected:
    void TearDown() override {
        SetClock({});
        PageFixture::TearDown();
    }
};

TEST_F(V4l2PageTest, AnUnpluggedCameraIsShownSilentAndReconnectedWhenItComesBack) {
    double time = 45000.5;
    SetClock([&time] { return time; });
    auto fake = std::make_shared<TFakeV4l2>();
    fake->Nodes.push_back({"/dev/video0"});
    TVideoFrame& page = CreatePage({std::make_shared<TV4l2Backend>(fake)});
    page.PlayActionExecute();
    // Silent but plugged in: no grab fails, the watchdog tells.
    for (int i = 0; i < 60; ++i, time += 0.1 / 86400)
        Tick();
    EXPECT_TRUE(page.NoPictures());
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join("\n").toStdString();
    fake->AutoProduce = true;
    Tick();
    EXPECT_FALSE(page.NoPictures());
    fake->Unplugged = true; // ENODEV from every call, tick after tick: one box
    for (int i = 0; i < 60; ++i, time += 0.1 / 86400)
        Tick();
    EXPECT_EQ(Errors.size(), 1) << Errors.join("\n").toStdString();
    EXPECT_TRUE(page.NoPictures());
    fake->Unplugged = false;
    fake->Nodes[0].Path = "/dev/video3"; // back under another node
    Tick(2);
    EXPECT_FALSE(page.NoPictures());
    EXPECT_EQ(page.DisplayBitmap().width(), 640);
}
