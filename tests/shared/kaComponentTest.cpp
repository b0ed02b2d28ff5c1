#include "kaComponent.h"

#include "kaGeneral.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Records the order in which loaded steps run and whether loading was still on.
class Probe : public QObject, public TkaLoadable {
public:
    explicit Probe(QStringList& log) : Log(log) {}
    void Loaded() override { Log.append(objectName() + (IsLoading(this) ? "+" : "")); }
    QStringList& Log;
};

TEST(KaComponentTest, PathFollowsOwnersNotParentsAndSkipsEmptyNames) {
    QWidget form;
    SetOwner(&form, nullptr, "VideoSetupForm");
    auto* panel = Own(&form, new QWidget(&form), "");
    auto* frame = Own(&form, new QWidget(panel), "ThresholdTrackbarFrame");
    auto* bar = Own(frame, new QWidget(frame), "TrackBar");
    EXPECT_EQ(ComponentPath(bar), "VideoSetupForm.ThresholdTrackbarFrame.TrackBar");
    EXPECT_EQ(ComponentPath(panel), "VideoSetupForm");
    auto* unnamed = Own(panel, new QWidget(panel), "");
    EXPECT_EQ(ComponentPath(unnamed), "VideoSetupForm");

    // A frame without owner starts its own chain although it sits in the form.
    auto* page = Own(nullptr, new QWidget(panel), "VideoFrame1");
    auto* edit = Own(page, new QWidget(page), "SourcekaEdit");
    EXPECT_EQ(ComponentPath(edit), "VideoFrame1.SourcekaEdit");
    EXPECT_EQ(OwnerOf(page), nullptr);
    EXPECT_EQ(OwnedComponents(&form), (QList<QObject*>{panel, frame}));
}

TEST(KaComponentTest, OwnedListsForgetDestroyedComponents) {
    auto owner = std::make_unique<QObject>();
    SetOwner(owner.get(), nullptr, "Form");
    auto* a = Own(owner.get(), new QObject, "a");
    auto* b = Own(owner.get(), new QObject, "b");
    delete a;
    EXPECT_EQ(OwnedComponents(owner.get()), QList<QObject*>{b});
    owner.reset();
    // Components that outlive their owner keep its path, so their last
    // settings still land under the full key.
    EXPECT_EQ(OwnerOf(b), nullptr);
    EXPECT_EQ(ComponentPath(b), "Form.b");
    QObject newOwner;
    SetOwner(b, &newOwner, "b");
    EXPECT_EQ(ComponentPath(b), "b");
    delete b;
}

TEST(KaComponentTest, LoadingRunsOwnedStepsInCreationOrderThenTheOwner) {
    QStringList log;
    Probe form(log);
    SetOwner(&form, nullptr, "form");
    auto* first = Own(&form, new Probe(log), "first");
    auto* frame = Own(&form, new Probe(log), "frame");
    Own(frame, new Probe(log), "inner");
    Own(&form, new QObject, "plain");
    Own(&form, new Probe(log), "last");
    EXPECT_TRUE(IsLoading(first));
    LoadComponent(&form);
    EXPECT_EQ(log, (QStringList{"first", "inner", "frame", "last", "form"}));
    EXPECT_FALSE(IsLoading(first));

    // A component created into a loaded owner never loads.
    auto* late = Own(&form, new Probe(log), "late");
    EXPECT_FALSE(IsLoading(late));
    // Ownership does not delete: the owner of each component frees it.
    qDeleteAll(OwnedComponents(frame));
    qDeleteAll(OwnedComponents(&form));
}

} // namespace
