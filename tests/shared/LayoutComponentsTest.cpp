#include "TempProgramDir.h"
#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaPanel.h"
#include "kaTrackBar.h"
#include "kaTrackbarFrame.h"
#include "kaTreePanel.h"

#include <QHBoxLayout>
#include <memory>

namespace {

class LayoutComponentsTest : public TempProgramDir {};

TEST_F(LayoutComponentsTest, PanelRaisesItsMinimumSizeToKeepChildrenWhole) {
    TkaPanel panel;
    EXPECT_TRUE(panel.ConstraintAuto());
    EXPECT_EQ(panel.BevelWidth(), 1);
    panel.SetBevelWidth(3);
    panel.setMinimumHeight(80);
    (new QWidget(&panel))->setGeometry(10, 5, 30, 20);
    (new QWidget(&panel))->setGeometry(50, 40, 20, 10);
    LoadComponent(&panel);
    EXPECT_EQ(panel.minimumWidth(), 50 + 20 + 6);
    EXPECT_EQ(panel.minimumHeight(), 80) << "a larger minimum is kept";

    TkaTreePanel off;
    off.SetConstraintAuto(false);
    (new QWidget(&off))->setGeometry(0, 0, 300, 200);
    LoadComponent(&off);
    EXPECT_EQ(off.minimumSize(), QSize(0, 0));
}

TEST_F(LayoutComponentsTest, PanelLeavesChildrenOfItsLayoutToTheLayout) {
    TkaPanel panel;
    auto* layout = new QHBoxLayout(&panel);
    auto* managed = new QWidget(&panel);
    managed->setGeometry(0, 0, 500, 500);
    layout->addWidget(managed);
    (new QWidget(&panel))->setGeometry(4, 4, 10, 10);
    LoadComponent(&panel);
    EXPECT_EQ(panel.minimumSize(), QSize(16, 16));
}

TEST_F(LayoutComponentsTest, TrackbarFrameIsBuiltAsDesigned) {
    QWidget form;
    SetOwner(&form, nullptr, "Form");
    auto* frame = Own(&form, new TkaTrackbarFrame(&form), "ThresholdFrame");
    EXPECT_EQ(frame->size(), QSize(152, 44));
    QStringList names;
    for (QObject* c : OwnedComponents(frame))
        names.append(c->objectName());
    EXPECT_EQ(names, (QStringList{"TrackBar", "kaPanel1", "kaLabel1", "kaLabel2", "kaPanel2",
                                  "kaPanel3"}));
    EXPECT_EQ(ComponentPath(frame->TrackBar), "Form.ThresholdFrame.TrackBar");
    EXPECT_EQ(frame->kaLabel1->text(), "Description");
    EXPECT_EQ(frame->kaLabel1->buddy(), frame->TrackBar);
    EXPECT_TRUE(frame->TrackBar->Remanent());
    EXPECT_EQ(frame->TrackBar->Frequency(), 1);
    EXPECT_EQ(frame->TrackBar->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(frame->kaLabel2->text(), "Value");
    LoadComponent(&form);
    EXPECT_EQ(RemanentControls(), QList<QObject*>{frame->TrackBar});
}

TEST_F(LayoutComponentsTest, TrackbarFrameShowsThePositionOnceLoaded) {
    QWidget form;
    SetOwner(&form, nullptr, "Form");
    auto* frame = Own(&form, new TkaTrackbarFrame(&form), "Frame");
    frame->TrackBar->SetMax(100);
    frame->TrackBar->SetPosition(40);
    EXPECT_EQ(frame->kaLabel2->text(), "Value") << "no number while loading";
    LoadComponent(&form);
    EXPECT_EQ(frame->kaLabel2->text(), "");
    RestoreRemanentControls();
    EXPECT_EQ(frame->kaLabel2->text(), "40") << "the restore shows the value on a first start";

    // An owner's handler that first calls the frame's own.
    QList<int> seen;
    frame->OnTrackBarChange = [&](QObject* sender) {
        frame->TrackBarChange(sender);
        EXPECT_EQ(sender, frame->TrackBar);
        seen.append(frame->kaLabel2->text().toInt());
    };
    frame->TrackBar->SetPosition(75);
    EXPECT_EQ(seen, QList<int>{75});
    EXPECT_EQ(frame->kaLabel2->text(), "75");
}

TEST_F(LayoutComponentsTest, TrackbarFrameKeepsItsValueOutOfTheLanguageWhileItLives) {
    auto frame = std::make_unique<TkaTrackbarFrame>();
    const QObject* value = frame->kaLabel2;
    EXPECT_TRUE(IsExcludedFromLanguage(value));
    EXPECT_FALSE(IsExcludedFromLanguage(frame->kaLabel1));
    frame.reset();
    EXPECT_FALSE(IsExcludedFromLanguage(value));
}

TEST_F(LayoutComponentsTest, TrackbarFrameSavesItsPositionWhenItsFormCloses) {
    {
        auto form = std::make_unique<QWidget>();
        SetOwner(form.get(), nullptr, "Setup");
        auto* frame = Own(form.get(), new TkaTrackbarFrame(form.get()), "PauseFrame");
        LoadComponent(form.get());
        frame->TrackBar->SetPosition(9);
    }
    EXPECT_EQ(CfgIniFile()->ReadInteger("Integer", "Setup.PauseFrame.TrackBar", -1), 9);
}

} // namespace
