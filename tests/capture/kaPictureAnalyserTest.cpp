#include "kaPictureAnalyser.h"

#include "EkaError.h"
#include "LightSequence.h"

#include <QImage>
#include <QPainter>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Sums = std::array<std::int64_t, 3>;

QImage Filled(int width, int height, uchar value) {
    QImage image(width, height, QImage::Format_BGR888);
    image.fill(QColor(value, value, value));
    return image;
}

QImage RandomImage(int width, int height, std::mt19937& random) {
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int k = 0; k < width * 3; ++k)
            row[k] = static_cast<uchar>(random());
    }
    return image;
}

// The same picture stored bottom-up with padded rows, addressed through a
// negative stride.
struct BottomUpCopy {
    std::vector<uchar> Bytes;
    TkaBitmapView View;

    explicit BottomUpCopy(const QImage& image) {
        const qsizetype stride = image.width() * 3 + 5;
        Bytes.assign(static_cast<std::size_t>(stride * image.height()), 0xA5);
        for (int y = 0; y < image.height(); ++y)
            std::copy_n(image.constScanLine(y), image.width() * 3,
                        Bytes.data() + (image.height() - 1 - y) * stride);
        View = TkaBitmapView(Bytes.data() + (image.height() - 1) * stride, -stride, image.width(),
                             image.height());
    }
};

// The definition, pixel by pixel, with no regard for speed.
struct Reference {
    std::vector<Sums> Segments; // column-major, channels red, green, blue
    double Brightness = 0;
    int SegWidth = 0;
    int SegHeight = 0;
};

std::int64_t Origin(int n, int count, int i) {
    if (count == 1)
        return 0;
    return static_cast<std::int64_t>(n % count) * i / (count - 1) +
           static_cast<std::int64_t>(n / count) * i;
}

Reference ReferenceSums(const TkaBitmapView& bitmap, int xs, int ys) {
    const int w = bitmap.Width;
    const int h = bitmap.Height;
    Reference ref;
    ref.SegWidth = w / xs + (w % xs != 0);
    ref.SegHeight = h / ys + (h % ys != 0);
    ref.Segments.assign(static_cast<std::size_t>(xs * ys), Sums{});
    std::int64_t total = 0;
    for (int i = 0; i < xs; ++i) {
        for (int j = 0; j < ys; ++j) {
            Sums& sums = ref.Segments[static_cast<std::size_t>(i * ys + j)];
            for (std::int64_t y = Origin(h, ys, j); y < Origin(h, ys, j) + ref.SegHeight && y < h;
                 ++y) {
                for (std::int64_t c = Origin(w, xs, i);
                     c < Origin(w, xs, i) + ref.SegWidth && c < w; ++c) {
                    const uchar* pixel = bitmap.FirstRow + y * bitmap.RowStride + c * 3;
                    sums[2] += pixel[0];
                    sums[1] += pixel[1];
                    sums[0] += pixel[2];
                    total += pixel[0] + pixel[1] + pixel[2];
                }
            }
        }
    }
    ref.Brightness = static_cast<double>(total) / h / w;
    return ref;
}

// Checks one analysis against the reference, given the sums of the picture before.
void ExpectMatchesReference(const TkaPictureAnalyser& analyser, const Reference& ref,
                            const std::vector<Sums>& previous) {
    const double area = static_cast<double>(ref.SegWidth) * ref.SegHeight * 256;
    std::int64_t total = 0;
    double maxDelta = 0;
    for (int i = 0; i < analyser.xSegments(); ++i) {
        for (int j = 0; j < analyser.ySegments(); ++j) {
            const std::size_t k = static_cast<std::size_t>(i * analyser.ySegments() + j);
            const TkaSegment& segment = analyser.Segment(i, j);
            ASSERT_EQ(segment.CurSum, ref.Segments[k]) << "segment " << i << "," << j;
            ASSERT_EQ(segment.PrevSum, previous[k]) << "segment " << i << "," << j;
            for (int c = 0; c < 3; ++c) {
                const std::int64_t change = ref.Segments[k][c] - previous[k][c];
                total += std::abs(change);
                ASSERT_EQ(segment.Delta[c], change / area);
                maxDelta = std::max(maxDelta, std::abs(change / area));
            }
        }
    }
    EXPECT_EQ(analyser.Brightness(), ref.Brightness);
    EXPECT_EQ(analyser.TotalDelta(), total);
    EXPECT_EQ(analyser.TotalMaxSegmentDelta(), maxDelta);
}

void ExpectError(const std::function<void()>& action, const QString& message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected " << message.toStdString();
    } catch (const EkaError& error) {
        EXPECT_EQ(error.message(), message);
    }
}

TEST(KaPictureAnalyserTest, SumsMatchTheDefinitionForAnySizeGridAndRowOrder) {
    std::mt19937 random(7);
    const std::vector<std::pair<int, int>> sizes{{1, 2},   {2, 2},    {3, 5},   {10, 2}, {17, 13},
                                                 {64, 48}, {101, 77}, {640, 3}, {5, 600}};
    for (auto [w, h] : sizes) {
        const std::vector<std::pair<int, int>> grids{{1, 1}, {1, 3},        {3, 1},   {2, 2},
                                                     {3, 7}, {7, 3},        {50, 50}, {13, 9},
                                                     {w, h}, {w + 5, h + 3}};
        for (auto [xs, ys] : grids) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " grid " << xs << "x" << ys);
            TkaPictureAnalyser analyser;
            analyser.SetxSegments(xs);
            analyser.SetySegments(ys);
            std::vector<Sums> previous(static_cast<std::size_t>(xs * ys));
            for (int frame = 0; frame < 4; ++frame) {
                const QImage image = RandomImage(w, h, random);
                const BottomUpCopy bottomUp(image);
                const TkaBitmapView view = frame % 2 ? bottomUp.View : TkaBitmapView(image);
                const Reference ref = ReferenceSums(view, xs, ys);
                analyser.Analyse(view);
                ExpectMatchesReference(analyser, ref, previous);
                previous = ref.Segments;
            }
        }
    }
}

std::vector<int> SegmentLengths(int n, int count) {
    const int length = n / count + (n % count != 0);
    std::vector<int> lengths;
    for (int i = 0; i < count; ++i)
        lengths.push_back(int(std::clamp<std::int64_t>(n - Origin(n, count, i), 0, length)));
    return lengths;
}

// With light changes ignored, the previous sums are mapped exactly as
// TLightChange maps them on its own (black segments staying black) and the
// deltas, total and maximum are those of the mapped sums.
TEST(KaPictureAnalyserTest, IgnoringLightComparesWithThePreviousSumsTheModelMaps) {
    struct TCase {
        int Width, Height, xs, ys;
    };
    const TCase cases[] = {{64, 48, 8, 6}, {101, 77, 13, 9}, {97, 61, 33, 40}, {640, 480, 50, 50}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.Width << "x" << c.Height << " grid " << c.xs << "x" << c.ys);
        const int segWidth = c.Width / c.xs + (c.Width % c.xs != 0);
        const int segHeight = c.Height / c.ys + (c.Height % c.ys != 0);
        // The lamp comes back as the person walks in; a block of segments
        // was black before.
        const TLightSequence lamp(TLightSequence::TLight::Lamp, true, {c.Width, c.Height});
        QImage before = lamp.Frame(lamp.WalkStart() - 1);
        QPainter(&before).fillRect(0, 0, 3 * segWidth, 3 * segHeight, Qt::black);
        const QImage after = lamp.Frame(lamp.WalkStart() + 1);
        TkaPictureAnalyser analyser;
        analyser.SetxSegments(c.xs);
        analyser.SetySegments(c.ys);
        analyser.SetIgnoreLightChanges(true);
        analyser.Analyse(before);
        std::vector<TkaSegment> grid(std::size_t(c.xs * c.ys));
        for (int i = 0; i < c.xs; ++i)
            for (int j = 0; j < c.ys; ++j)
                grid[std::size_t(i * c.ys + j)].PrevSum = analyser.Segment(i, j).CurSum;
        analyser.Analyse(after);
        for (int i = 0; i < c.xs; ++i)
            for (int j = 0; j < c.ys; ++j)
                grid[std::size_t(i * c.ys + j)].CurSum = analyser.Segment(i, j).CurSum;
        TLightChange light;
        ASSERT_TRUE(
            light.Correct(grid, SegmentLengths(c.Width, c.xs), SegmentLengths(c.Height, c.ys)));

        const double area = double(segWidth) * segHeight * 256;
        std::int64_t total = 0;
        double maxDelta = 0;
        int black = 0;
        for (int i = 0; i < c.xs; ++i) {
            for (int j = 0; j < c.ys; ++j) {
                const TkaSegment& segment = analyser.Segment(i, j);
                const TkaSegment& expected = grid[std::size_t(i * c.ys + j)];
                ASSERT_EQ(segment.PrevSum, expected.PrevSum) << "segment " << i << "," << j;
                black += segment.PrevSum == Sums{};
                for (int k = 0; k < 3; ++k) {
                    const std::int64_t change = segment.CurSum[k] - segment.PrevSum[k];
                    ASSERT_EQ(segment.Delta[k], change / area) << "segment " << i << "," << j;
                    total += std::abs(change);
                    maxDelta = std::max(maxDelta, std::abs(change / area));
                }
            }
        }
        EXPECT_GE(black, 4);
        EXPECT_EQ(analyser.TotalDelta(), total);
        EXPECT_EQ(analyser.TotalMaxSegmentDelta(), maxDelta);
    }
}

TEST(KaPictureAnalyserTest, ColumnOriginsSpreadTheRemainderAndShareEdgeColumns) {
    // W = 10, 3 columns: SW = 4, origins 0, 3, 7; column 3 is in two segments
    // and the last segment stops at the edge. Column c holds the value c + 1.
    QImage image(10, 2, QImage::Format_BGR888);
    for (int y = 0; y < 2; ++y)
        for (int c = 0; c < 10; ++c)
            image.setPixelColor(c, y, QColor(c + 1, c + 1, c + 1));
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(3);
    analyser.Analyse(image);
    const std::int64_t expected[3] = {2 * (1 + 2 + 3 + 4), 2 * (4 + 5 + 6 + 7), 2 * (8 + 9 + 10)};
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(analyser.Segment(x, 0).CurSum, (Sums{expected[x], expected[x], expected[x]}));
    // The shared column counts twice in the brightness as well.
    EXPECT_DOUBLE_EQ(analyser.Brightness(), 3.0 * (55 + 4) * 2 / 20);
}

TEST(KaPictureAnalyserTest, NormaliserUsesTheFullUnclippedSegmentArea) {
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(2);
    analyser.SetySegments(2);
    analyser.Analyse(Filled(8, 4, 0));
    analyser.Analyse(Filled(8, 4, 255));
    EXPECT_DOUBLE_EQ(analyser.TotalMaxSegmentDelta(), 255.0 / 256);
    EXPECT_DOUBLE_EQ(analyser.SegmentValue(1, 1), 255.0 / 256);
    EXPECT_EQ(analyser.TotalDelta(), 8 * 4 * 3 * 255);

    // W = 10 in 3 columns: the last segment has 3 of its 4 columns.
    analyser.SetxSegments(3);
    analyser.SetySegments(1);
    analyser.Analyse(Filled(10, 2, 0));
    analyser.Analyse(Filled(10, 2, 255));
    EXPECT_DOUBLE_EQ(analyser.SegmentValue(2, 0), 3.0 * 2 * 255 / (4 * 2 * 256));
    EXPECT_DOUBLE_EQ(analyser.SegmentValue(0, 0), 255.0 / 256);
}

TEST(KaPictureAnalyserTest, SingleSegmentAxisCoversTheWholePicture) {
    TkaPictureAnalyser analyser; // 1 x 1 by default
    analyser.Analyse(Filled(7, 5, 0));
    analyser.Analyse(Filled(7, 5, 255));
    EXPECT_EQ(analyser.Segment(0, 0).CurSum, (Sums{7 * 5 * 255, 7 * 5 * 255, 7 * 5 * 255}));
    EXPECT_DOUBLE_EQ(analyser.SegmentValue(0, 0), 255.0 / 256);
    EXPECT_DOUBLE_EQ(analyser.Brightness(), 765.0);
}

TEST(KaPictureAnalyserTest, DarkeningRaisesTheMaximumButIsNotCounted) {
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(2);
    analyser.SetySegments(2);
    analyser.SetThresholdMaxSegment(0.5);
    analyser.Analyse(Filled(8, 4, 255));
    QImage darker = Filled(8, 4, 255);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            darker.setPixelColor(x, y, Qt::black);
    analyser.Analyse(darker);
    EXPECT_DOUBLE_EQ(analyser.TotalMaxSegmentDelta(), 255.0 / 256);
    EXPECT_DOUBLE_EQ(analyser.SegmentValue(0, 0), -255.0 / 256);
    EXPECT_EQ(analyser.CountMaxSegments(), 0);
    // Lightening it again is counted.
    analyser.Analyse(Filled(8, 4, 255));
    EXPECT_EQ(analyser.CountMaxSegments(), 1);
    analyser.SetThresholdMaxSegment(-1.0);
    EXPECT_EQ(analyser.CountMaxSegments(), 4);
}

TEST(KaPictureAnalyserTest, FirstFrameIsMotionWithoutCallingEvents) {
    TkaPictureAnalyser analyser;
    int calls = 0;
    analyser.OnThresholdMaxSegment = [&](TkaPictureAnalyser*, double, bool&) { ++calls; };
    analyser.OnThresholdTotal = [&](TkaPictureAnalyser*, int, bool&) { ++calls; };
    EXPECT_TRUE(analyser.FirstFrame());
    // Black compared with the zeroed grid reaches no threshold.
    EXPECT_TRUE(analyser.Analyse(Filled(16, 16, 0)));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(analyser.FirstFrame());
    EXPECT_FALSE(analyser.Analyse(Filled(16, 16, 0)));
}

TEST(KaPictureAnalyserTest, IdenticalFramesShowNoChange) {
    std::mt19937 random(3);
    const QImage image = RandomImage(40, 30, random);
    TkaPictureAnalyser analyser;
    analyser.SetxSegments(5);
    analyser.SetySegments(3);
    analyser.SetThresholdMaxSegment(0.01);
    analyser.Analyse(image);
    EXPECT_FALSE(analyser.Analyse(image));
    EXPECT_EQ(analyser.TotalDelta(), 0);
    EXPECT_EQ(analyser.TotalMaxSegmentDelta(), 0.0);
    EXPECT_EQ(analyser.CountMaxSegments(), 0);
    // A threshold of 0 counts every segment and reaches the segment test.
    analyser.SetThresholdMaxSegment(0.0);
    EXPECT_EQ(analyser.CountMaxSegments(), 15);
    EXPECT_TRUE(analyser.Analyse(image));
}

TEST(KaPictureAnalyserTest, BadPicturesFailAsSpecifiedAndKeepTheirSideEffects) {
    const QImage image = Filled(640, 4, 200);
    TkaPictureAnalyser analyser;
    ExpectError([&] { analyser.Analyse(Filled(640, 1, 0)); }, "BitMap.height<2");
    EXPECT_TRUE(analyser.FirstFrame());
    analyser.Analyse(image);

    // Another format changes nothing: the same picture still shows no change.
    QImage rgb32 = image.convertToFormat(QImage::Format_RGB32);
    ExpectError([&] { analyser.Analyse(rgb32); }, "PixelFormat<>pf24Bit");
    ExpectError([&] { analyser.Analyse(image.convertToFormat(QImage::Format_RGB888)); },
                "PixelFormat<>pf24Bit");
    ExpectError([&] { analyser.Analyse(QImage()); }, "PixelFormat<>pf24Bit");
    analyser.Analyse(image);
    EXPECT_EQ(analyser.TotalDelta(), 0);

    // A too low picture has already shifted the sums: the next one is
    // compared with zeros.
    ExpectError([&] { analyser.Analyse(Filled(640, 1, 0)); }, "BitMap.height<2");
    analyser.Analyse(image);
    EXPECT_EQ(analyser.TotalDelta(), 640 * 4 * 3 * 200);

    uchar pixels[6] = {};
    ExpectError([&] { analyser.Analyse(TkaBitmapView(pixels, 0, 0, 2)); }, "BitMap.width<1");
}

TEST(KaPictureAnalyserTest, SettersRefuseBadValuesAndRebuildOnlyOnChange) {
    TkaPictureAnalyser analyser;
    EXPECT_EQ(analyser.xSegments(), 1);
    EXPECT_EQ(analyser.ThresholdTotal(), 100.0);
    EXPECT_EQ(analyser.ThresholdMaxSegment(), 100.0);
    analyser.SetxSegments(4);
    analyser.SetySegments(3);
    for (int bad : {0, -1, std::numeric_limits<int>::min()}) {
        ExpectError([&] { analyser.SetxSegments(bad); }, "Value must be > 0");
        ExpectError([&] { analyser.SetySegments(bad); }, "Value must be > 0");
    }
    EXPECT_EQ(analyser.xSegments(), 4);
    EXPECT_EQ(analyser.ySegments(), 3);
    for (double bad : {0.999, 0.0, -5.0, std::nan("")})
        ExpectError([&] { analyser.SetThresholdTotal(bad); }, "Value must be > 0");
    EXPECT_EQ(analyser.ThresholdTotal(), 100.0);
    analyser.SetThresholdTotal(1.0);
    EXPECT_EQ(analyser.ThresholdTotal(), 1.0);
    analyser.SetThresholdMaxSegment(-3.0);
    EXPECT_EQ(analyser.ThresholdMaxSegment(), -3.0);

    const QImage image = Filled(20, 12, 90);
    analyser.Analyse(image);
    analyser.SetxSegments(4); // same value: sums kept
    analyser.Analyse(image);
    EXPECT_EQ(analyser.TotalDelta(), 0);
    analyser.SetySegments(2); // different: compared with zeros, first frame stays over
    EXPECT_EQ(analyser.Segment(3, 1).CurSum, Sums{});
    ExpectError([&] { analyser.Segment(3, 2); }, "Segment (3, 2) out of range");
    analyser.Analyse(image);
    EXPECT_EQ(analyser.TotalDelta(), 20 * 12 * 3 * 90);
    EXPECT_FALSE(analyser.FirstFrame());

    // The published names reach the same setters.
    EXPECT_TRUE(analyser.setProperty("xSegments", 7));
    EXPECT_EQ(analyser.xSegments(), 7);
    EXPECT_EQ(analyser.property("CountMaxSegments").toInt(), analyser.CountMaxSegments());
}

// Thresholds that one picture change reaches or not, and a recorder of the
// events in the order they come.
struct KaPictureAnalyserEventTest : testing::Test {
    TkaPictureAnalyser Analyser;
    std::vector<std::string> Log;
    const QImage Before = Filled(8, 8, 0);
    const QImage After = Filled(8, 8, 100);

    void SetUp() override { Analyser.Analyse(Before); }
    void Reach(bool segment, bool total) {
        Analyser.SetThresholdMaxSegment(segment ? 0.1 : 2.0);
        Analyser.SetThresholdTotal(total ? 1.0 : 1e12);
    }
    void OnSegment(std::optional<bool> verdict) {
        Analyser.OnThresholdMaxSegment = [this, verdict](TkaPictureAnalyser* sender, double value,
                                                         bool& isMotion) {
            EXPECT_EQ(sender, &Analyser);
            EXPECT_EQ(value, Analyser.TotalMaxSegmentDelta());
            Log.push_back("segment " + std::to_string(Analyser.TotalDelta()) + " " +
                          (isMotion ? "in" : "out"));
            if (verdict)
                isMotion = *verdict;
        };
    }
    void OnTotal(std::optional<bool> verdict) {
        Analyser.OnThresholdTotal = [this, verdict](TkaPictureAnalyser* sender, int value,
                                                    bool& isMotion) {
            EXPECT_EQ(sender, &Analyser);
            EXPECT_EQ(value, Analyser.TotalDelta());
            Log.push_back("total " + std::to_string(value) + " " + (isMotion ? "in" : "out"));
            if (verdict)
                isMotion = *verdict;
        };
    }
};

TEST_F(KaPictureAnalyserEventTest, WithoutEventsEitherThresholdMakesMotion) {
    Reach(true, false);
    EXPECT_TRUE(Analyser.Analyse(After));
    Reach(false, true);
    EXPECT_TRUE(Analyser.Analyse(Before));
    Reach(false, false);
    EXPECT_FALSE(Analyser.Analyse(After));
}

TEST_F(KaPictureAnalyserEventTest, OnlySegmentEventDecidesAndTotalThresholdIsIgnored) {
    OnSegment(std::nullopt);
    Reach(false, true);
    EXPECT_FALSE(Analyser.Analyse(After));
    EXPECT_TRUE(Log.empty());
    OnSegment(true);
    Reach(true, true);
    EXPECT_TRUE(Analyser.Analyse(Before));
    OnSegment(std::nullopt);
    EXPECT_FALSE(Analyser.Analyse(After));
    EXPECT_EQ(Log.size(), 2u);
}

TEST_F(KaPictureAnalyserEventTest, OnlyTotalEventDecidesAndSegmentThresholdIsIgnored) {
    OnTotal(std::nullopt);
    Reach(true, false);
    EXPECT_FALSE(Analyser.Analyse(After));
    EXPECT_TRUE(Log.empty());
    OnTotal(true);
    Reach(true, true);
    EXPECT_TRUE(Analyser.Analyse(Before));
    EXPECT_EQ(Log, std::vector<std::string>{"total 19200 out"});
}

TEST_F(KaPictureAnalyserEventTest, BothEventsRunSegmentFirstAndTotalHasTheLastWord) {
    const int total = 8 * 8 * 3 * 100;
    Reach(true, true);
    OnSegment(true);
    OnTotal(std::nullopt);
    EXPECT_TRUE(Analyser.Analyse(After));
    // The segment handler still sees the total of the picture before.
    const std::vector<std::string> first{"segment 0 out", "total " + std::to_string(total) + " in"};
    EXPECT_EQ(Log, first);

    Log.clear();
    OnTotal(false);
    EXPECT_FALSE(Analyser.Analyse(Before));
    EXPECT_EQ(Log.front(), "segment " + std::to_string(total) + " out");

    // Below its threshold a handler is not called and the other decides.
    Log.clear();
    Reach(true, false);
    EXPECT_TRUE(Analyser.Analyse(After));
    EXPECT_EQ(Log.size(), 1u);
}

TEST(KaPictureAnalyserTest, HugePicturesNeitherWrapSumsNorTotal) {
    // 4096 x 2160 x 255 per channel does not fit 32 bits.
    TkaPictureAnalyser analyser;
    analyser.Analyse(Filled(4096, 2160, 0));
    analyser.Analyse(Filled(4096, 2160, 255));
    EXPECT_EQ(analyser.Segment(0, 0).CurSum[TkaSegment::Red], std::int64_t{4096} * 2160 * 255);
    EXPECT_EQ(analyser.TotalDelta(), std::numeric_limits<int>::max());
    EXPECT_DOUBLE_EQ(analyser.TotalMaxSegmentDelta(), 255.0 / 256);
}

} // namespace

TEST(KaPictureAnalyserTest, WhitePicturesTallerAndWiderThanOneFoldSumExactly) {
    // Rows beyond one fold of 16-bit column sums (257 rows of 255) and rows
    // not a multiple of the rows added at once, wide segments with a ragged end.
    for (auto [w, h] : std::vector<std::pair<int, int>>{{1003, 517}, {9, 1030}, {64, 258}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        TkaPictureAnalyser analyser;
        analyser.Analyse(Filled(w, h, 255));
        const std::int64_t full = std::int64_t(w) * h * 255;
        EXPECT_EQ(analyser.Segment(0, 0).CurSum, (Sums{full, full, full}));
        EXPECT_DOUBLE_EQ(analyser.Brightness(), 765.0);
    }
}
