#include "V4l2Backend.h"

#include "V4l2Device.h"

#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>

namespace {

// Number of a node such as /dev/video12; names without one sort last.
int NodeNumber(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    bool ok = false;
    const int number = name.mid(int(std::strlen("video"))).toInt(&ok);
    return ok ? number : INT_MAX;
}

QString FixedText(const __u8* text, std::size_t size) {
    const char* chars = reinterpret_cast<const char*>(text);
    return QString::fromUtf8(chars, qsizetype(strnlen(chars, size)));
}

bool CanStreamVideo(const v4l2_capability& capability) {
    const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                   ? capability.device_caps
                                   : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (caps & V4L2_CAP_STREAMING) != 0;
}

} // namespace

TV4l2Backend::TV4l2Backend(std::shared_ptr<TV4l2DeviceCalls> calls, int maxFrameWaitMs)
    : Calls(std::move(calls)), MaxFrameWaitMs(maxFrameWaitMs) {}

int TV4l2Backend::DeviceCount() {
    return int(Nodes().size());
}

QString TV4l2Backend::Description(int index) {
    const QList<TNode>& nodes = Nodes();
    if (index < 0 || index >= nodes.size())
        return {};
    return QStringLiteral("%1 (%2)").arg(nodes[index].Card, nodes[index].Path);
}

QString TV4l2Backend::Version(int index) {
    const QList<TNode>& nodes = Nodes();
    if (index < 0 || index >= nodes.size())
        return {};
    const std::uint32_t v = nodes[index].DriverVersion;
    return QStringLiteral("%1 %2.%3.%4")
        .arg(nodes[index].Driver)
        .arg(v >> 16)
        .arg((v >> 8) & 0xff)
        .arg(v & 0xff);
}

std::unique_ptr<TCaptureDevice> TV4l2Backend::CreateDevice(int index) {
    const QList<TNode>& nodes = Nodes();
    if (index < 0 || index >= nodes.size())
        return nullptr;
    std::shared_ptr<QSize>& chosen = ChosenSizes[nodes[index].Path];
    if (!chosen)
        chosen = std::make_shared<QSize>();
    return std::make_unique<TV4l2Device>(Calls, CurrentPath(nodes[index]), chosen, MaxFrameWaitMs);
}

QString TV4l2Backend::CurrentPath(const TNode& node) {
    const auto same = [this, &node](const QString& path) {
        const std::optional<TNode> probed = Probe(path);
        return probed && probed->BusInfo == node.BusInfo && probed->Card == node.Card;
    };
    if (same(node.Path))
        return node.Path;
    // Plugged in again, a device may come back under another node.
    for (const QString& path : Calls->DeviceNodes()) {
        if (path != node.Path && same(path))
            return path;
    }
    return node.Path;
}

QString TV4l2Backend::Identity(int index) {
    const QList<TNode>& nodes = Nodes();
    if (index < 0 || index >= nodes.size())
        return {};
    return QStringLiteral("v4l2:%1 %2").arg(nodes[index].BusInfo, nodes[index].Card);
}

void TV4l2Backend::Refresh() {
    QStringList paths = Calls->DeviceNodes();
    std::sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) {
        const int na = NodeNumber(a);
        const int nb = NodeNumber(b);
        return na != nb ? na < nb : a < b;
    });
    QList<TNode> nodes;
    for (const QString& path : paths) {
        if (nodes.size() >= MaxCaptureDrivers)
            break;
        if (std::optional<TNode> node = Probe(path))
            nodes << *node;
    }
    Listed = nodes;
}

const QList<TV4l2Backend::TNode>& TV4l2Backend::Nodes() {
    if (!Listed)
        Refresh();
    return *Listed;
}

std::optional<TV4l2Backend::TNode> TV4l2Backend::Probe(const QString& path) {
    TV4l2Fd fd(Calls, Calls->Open(path, O_RDWR | O_NONBLOCK));
    if (!fd.IsValid())
        return std::nullopt;
    v4l2_capability capability{};
    if (Calls->Ioctl(fd.Get(), VIDIOC_QUERYCAP, &capability) < 0 || !CanStreamVideo(capability))
        return std::nullopt;
    return TNode{path, FixedText(capability.card, sizeof capability.card),
                 FixedText(capability.driver, sizeof capability.driver),
                 FixedText(capability.bus_info, sizeof capability.bus_info), capability.version};
}
