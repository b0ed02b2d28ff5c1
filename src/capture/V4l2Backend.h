#pragma once

#include "CaptureBackend.h"
#include "V4l2DeviceCalls.h"

#include <map>
#include <memory>
#include <optional>

// The machine's V4L2 capture nodes, in the order of their numbers. Nodes that
// cannot capture video by streaming (metadata nodes, output devices, radios)
// are left out. The list is taken once, at first use.
class TV4l2Backend final : public TCaptureBackend {
public:
    // A grab waits at most this long for a fresh frame (see TV4l2Device).
    static constexpr int DefaultMaxFrameWaitMs = 100;

    explicit TV4l2Backend(std::shared_ptr<TV4l2DeviceCalls> calls,
                          int maxFrameWaitMs = DefaultMaxFrameWaitMs);

    int DeviceCount() override;
    QString Description(int index) override;
    QString Version(int index) override;
    std::unique_ptr<TCaptureDevice> CreateDevice(int index) override;
    // The bus the device hangs on and its card name: the same device keeps
    // it whatever node number it gets.
    QString Identity(int index) override;

    // Takes the list of nodes anew.
    void Refresh();

private:
    struct TNode {
        QString Path;
        QString Card;
        QString Driver;
        QString BusInfo;
        std::uint32_t DriverVersion = 0;
    };

    const QList<TNode>& Nodes();
    // Where the device of Node is now: its own node, or the one it came back under.
    QString CurrentPath(const TNode& node);
    std::optional<TNode> Probe(const QString& path);

    std::shared_ptr<TV4l2DeviceCalls> Calls;
    int MaxFrameWaitMs;
    std::optional<QList<TNode>> Listed;
    std::map<QString, std::shared_ptr<QSize>> ChosenSizes;
};
