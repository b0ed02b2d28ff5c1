#pragma once

#include "LightChange.h"

#include <QImage>
#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class TkaPictureAnalyser;

// A read-only view on a 24-bit picture, 3 bytes a pixel in the order blue,
// green, red. Row k starts at FirstRow + k * RowStride; the stride is the
// distance from row 0 to row 1 and is negative for bottom-up pictures.
struct TkaBitmapView {
    const uchar* FirstRow = nullptr;
    qsizetype RowStride = 0;
    int Width = 0;
    int Height = 0;
    // False for anything that is not 24 bits a pixel in blue-green-red order.
    bool Bgr24 = false;

    TkaBitmapView() = default;
    TkaBitmapView(const uchar* firstRow, qsizetype rowStride, int width, int height)
        : FirstRow(firstRow), RowStride(rowStride), Width(width), Height(height), Bgr24(true) {}
    // Only QImage::Format_BGR888 counts as 24-bit; the image must outlive the view.
    explicit TkaBitmapView(const QImage& image);

    const uchar* Row(int y) const { return FirstRow + RowStride * y; }
};

// One grid cell. Channel arrays are indexed red, green, blue. The sums are kept
// in 64 bits so that very large segments cannot wrap; they equal the 32-bit
// sums wherever those do not overflow.
struct TkaSegment {
    enum Channel { Red = 0, Green = 1, Blue = 2 };
    std::array<std::int64_t, 3> CurSum{};
    std::array<std::int64_t, 3> PrevSum{};
    std::array<double, 3> Delta{};
};

using TThresholdTotalEvent =
    std::function<void(TkaPictureAnalyser* sender, int value, bool& isMotion)>;
using TThresholdMaxSegmentEvent =
    std::function<void(TkaPictureAnalyser* sender, double value, bool& isMotion)>;

// Decides frame by frame whether a picture changed enough to count as motion:
// the picture is cut into a grid of segments whose channel sums are compared
// with those of the previous picture.
class TkaPictureAnalyser : public QObject {
    Q_OBJECT
    Q_PROPERTY(int xSegments READ xSegments WRITE SetxSegments)
    Q_PROPERTY(int ySegments READ ySegments WRITE SetySegments)
    Q_PROPERTY(double ThresholdTotal READ ThresholdTotal WRITE SetThresholdTotal)
    Q_PROPERTY(double ThresholdMaxSegment READ ThresholdMaxSegment WRITE SetThresholdMaxSegment)
    Q_PROPERTY(int TotalDelta READ TotalDelta)
    Q_PROPERTY(double TotalMaxSegmentDelta READ TotalMaxSegmentDelta)
    Q_PROPERTY(int CountMaxSegments READ CountMaxSegments)

public:
    explicit TkaPictureAnalyser(QObject* parent = nullptr);

    // Analyses one picture and returns the motion verdict.
    bool Analyse(const TkaBitmapView& bitmap);
    bool Analyse(const QImage& bitmap) { return Analyse(TkaBitmapView(bitmap)); }

    int xSegments() const { return FxSegments; }
    int ySegments() const { return FySegments; }
    void SetxSegments(int value);
    void SetySegments(int value);

    double ThresholdTotal() const { return FThresholdTotal; }
    void SetThresholdTotal(double value);
    double ThresholdMaxSegment() const { return FThresholdMaxSegment; }
    void SetThresholdMaxSegment(double value) { FThresholdMaxSegment = value; }

    int TotalDelta() const { return FTotalDelta; }
    double TotalMaxSegmentDelta() const { return FTotalMaxSegmentDelta; }
    // Segments whose signed value reaches ThresholdMaxSegment.
    int CountMaxSegments() const;

    double Brightness() const { return FBrightness; }
    bool FirstFrame() const { return FFirstFrame; }

    // Off by default. When on, each picture is compared with the previous one
    // as it would look under the current light (see TLightChange): PrevSum,
    // the deltas and everything derived from them are then after the
    // correction.
    bool IgnoreLightChanges() const { return FIgnoreLightChanges; }
    void SetIgnoreLightChanges(bool value) { FIgnoreLightChanges = value; }

    // Mean of the segment's three signed deltas.
    double SegmentValue(int x, int y) const;
    const TkaSegment& Segment(int x, int y) const;

    TThresholdTotalEvent OnThresholdTotal;
    TThresholdMaxSegmentEvent OnThresholdMaxSegment;

private:
    static int CheckedCount(int value);
    void RebuildGrid(int xs, int ys);
    void ShiftSums();
    void SumSegments(const TkaBitmapView& bitmap, int segWidth, int segHeight);
    void SumSegmentRow(const TkaBitmapView& bitmap, int j, int y0, int rows, int segWidth);
    // With mapped, the previous sums are first taken to the current light
    // by the model FitLightChange found.
    void CompareSums(int segWidth, int segHeight, bool mapped, std::int64_t& total,
                     double& maxDelta);
    bool Decide(bool isMotion);
    bool FitLightChange(int width, int height, int segWidth, int segHeight);
    std::size_t Index(int x, int y) const;

    int FxSegments = 1;
    int FySegments = 1;
    double FThresholdTotal = 100.0;
    double FThresholdMaxSegment = 100.0;
    int FTotalDelta = 0;
    double FTotalMaxSegmentDelta = 0.0;
    double FBrightness = 0.0;
    bool FFirstFrame = true;
    // Column-major: xSegments columns of ySegments segments.
    std::vector<TkaSegment> Grid;
    // Per-byte column sums over at most 257 rows of one segment row; reused
    // between calls.
    std::vector<std::uint16_t> ColumnSums;
    std::vector<int> ColumnOrigins;
    bool FIgnoreLightChanges = false;
    TLightChange FLightChange;
    std::vector<int> ColumnWidths;
    std::vector<int> RowHeights;
};
