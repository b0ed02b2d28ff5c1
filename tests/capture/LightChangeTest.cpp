#include "LightChange.h"

#include "FVideoSetup.h"
#include "LightSequence.h"
#include "PageFixture.h"
#include "kaCheckBox.h"
#include "kaFramePipeline.h"
#include "kaPictureAnalyser.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using TLight = TLightSequence::TLight;

struct TOutcome {
    int LightMotions = 0; // motion frames outside the walk, the first frame aside
    int FirstWalkMotion = -1;
    double LightMaxSegmentDelta = 0; // the largest change shown outside the walk
};

// The camera page's detector at the dialog's defaults: 50 x 50 segments,
// 4 %, motion above 50 segments.
TOutcome Play(const TLightSequence& sequence, const std::vector<QImage>& frames, bool ignoreLight) {
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(50);
    analyser.SetySegments(50);
    analyser.SetThresholdMaxSegment(0.04);
    analyser.SetIgnoreLightChanges(ignoreLight);
    analyser.OnThresholdMaxSegment = [](TkaPictureAnalyser* sender, double, bool& isMotion) {
        TkaFramePipeline::MotionRule(*sender, 50, isMotion);
    };
    TOutcome outcome;
    for (int k = 0; k < sequence.Frames(); ++k) {
        const bool motion = analyser.Analyse(frames[std::size_t(k)]);
        const bool walking = k >= sequence.WalkStart() && k <= sequence.WalkEnd();
        if (k > 0 && !walking)
            outcome.LightMaxSegmentDelta =
                std::max(outcome.LightMaxSegmentDelta, analyser.TotalMaxSegmentDelta());
        if (!motion || k == 0)
            continue;
        if (!walking)
            ++outcome.LightMotions;
        else if (outcome.FirstWalkMotion < 0)
            outcome.FirstWalkMotion = k;
    }
    return outcome;
}

} // namespace

TEST(LightChangeTest, LightAloneIsNoMotionAndEveryWalkIsSeenAtOnce) {
    struct TRow {
        TLight Light;
        bool TripsTheDetectorToday;
    };
    const TRow rows[] = {{TLight::Cloud, false},
                         {TLight::Lamp, true},
                         {TLight::Flicker, true},
                         {TLight::Infrared, true}};
    for (const TRow& row : rows) {
        for (bool walk : {false, true}) {
            const TLightSequence sequence(row.Light, walk);
            SCOPED_TRACE(std::string(TLightSequence::Name(row.Light)) + (walk ? " + walk" : ""));
            std::vector<QImage> frames;
            for (int k = 0; k < sequence.Frames(); ++k)
                frames.push_back(sequence.Frame(k));
            const TOutcome on = Play(sequence, frames, true);
            const TOutcome off = Play(sequence, frames, false);
            EXPECT_EQ(on.LightMotions, 0);
            EXPECT_LT(on.LightMaxSegmentDelta, 0.04);
            if (!walk) {
                EXPECT_EQ(off.LightMotions > 0, row.TripsTheDetectorToday);
            } else {
                ASSERT_GE(on.FirstWalkMotion, sequence.WalkStart());
                EXPECT_LE(on.FirstWalkMotion, sequence.WalkStart() + 2);
                EXPECT_GE(off.FirstWalkMotion, sequence.WalkStart());
            }
        }
    }
}

// A grid whose current sums follow Model from the previous ones, except for a
// block of segments that a bright person covers. A black previous picture (a
// grid just rebuilt) gives no hold.
TEST(LightChangeTest, TheModelIsFoundPastAPersonAndOnlyThePersonRemains) {
    struct TRow {
        const char* Name;
        TLightChange::TModel Model;
    };
    const TRow rows[] = {
        {"cloud", {{{0.6, 0, 0, 0}, {0, 0.6, 0, 0}, {0, 0, 0.6, 0}}}},
        {"lamp with offset", {{{1.43, 0, 0, -4}, {0, 1.43, 0, -4}, {0, 0, 1.43, -4}}}},
        {"infrared", {{{0.39, 0.76, 0.15, 0}, {0.39, 0.76, 0.15, 0}, {0.39, 0.76, 0.15, 0}}}},
    };
    constexpr int Columns = 40, Rows = 30, Pixels = 12;
    const std::vector<int> widths(Columns, 4), heights(Rows, 3);
    const auto person = [](int i) { return i / Rows >= 5 && i / Rows < 13; }; // a fifth
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> level(30, 170);
        std::vector<TkaSegment> grid(Columns * Rows);
        for (int i = 0; i < Columns * Rows; ++i) {
            std::array<double, 3> prev;
            for (auto& value : prev)
                value = level(random);
            for (int k = 0; k < 3; ++k) {
                const auto& m = row.Model[k];
                const double cur = m[0] * prev[0] + m[1] * prev[1] + m[2] * prev[2] + m[3];
                grid[i].PrevSum[k] = std::int64_t(prev[k] * Pixels);
                grid[i].CurSum[k] = std::int64_t((person(i) ? 250.0 : cur) * Pixels + 0.5);
            }
            grid[i].Delta = {double(i), -1.0, 0.5};
        }
        // A segment that was black stays black; what lies beside the
        // previous sums is left as it was.
        constexpr int Black = Rows + 1;
        grid[Black].PrevSum = {};
        const std::vector<TkaSegment> before = grid;
        TLightChange change;
        ASSERT_TRUE(change.Correct(grid, widths, heights));
        EXPECT_EQ(grid[Black].PrevSum, (std::array<std::int64_t, 3>{}));
        for (int i = 0; i < Columns * Rows; ++i) {
            ASSERT_EQ(grid[i].CurSum, before[i].CurSum);
            ASSERT_EQ(grid[i].Delta, before[i].Delta);
        }
        for (int k = 0; k < 3; ++k)
            for (int m = 0; m < 4; ++m)
                EXPECT_NEAR(change.Model()[k][m], row.Model[k][m], m < 3 ? 0.01 : 0.5);
        for (int i = 0; i < Columns * Rows; ++i)
            for (int k = 0; i != Black && k < 3; ++k)
                EXPECT_EQ(std::abs(grid[i].CurSum[k] - grid[i].PrevSum[k]) > 2 * Pixels, person(i))
                    << "segment " << i;
    }
    std::vector<TkaSegment> black(Columns * Rows);
    EXPECT_FALSE(TLightChange().Correct(black, widths, heights));
}

class LightChangeSetupTest : public PageFixture {};

TEST_F(LightChangeSetupTest, TheCheckBoxIsRemanentAndSwitchesThePagesAnalyser) {
    TVideoFrame& page = CreateTestCameraPage();
    TkaCheckBox* box = page.SetupForm()->LightChangekaCheckBox;
    EXPECT_EQ(box->text().remove(QLatin1Char('&')), "Ignore light changes");
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(page.kaPictureAnalyser->IgnoreLightChanges());
    box->setChecked(true);
    EXPECT_TRUE(page.kaPictureAnalyser->IgnoreLightChanges());

    // Stored with the window, restored at the next run.
    Page.reset();
    EXPECT_TRUE(CfgIniFile()->ReadBool("Boolean", "VideoSetupForm.LightChangekaCheckBox", false));
    TVideoFrame& again = CreateTestCameraPage();
    EXPECT_TRUE(again.kaPictureAnalyser->IgnoreLightChanges());
}
