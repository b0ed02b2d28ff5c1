#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct TkaSegment;

// Takes a change of the light out of the motion analysis: a cloud, a lamp, a
// camera switching to infrared change the whole picture alike, a person only
// a part of it. From a lattice of segments it estimates how the previous
// picture maps onto the current one (a colour gain matrix and an offset),
// dropping the segments that do not follow the common change, and rewrites
// the previous sums of every segment to what they would have been under the
// current light. What differs from them afterwards is what moved.
class TLightChange {
public:
    // Channels red, green, blue; Model[k] maps a previous pixel (red, green,
    // blue, 1) onto channel k of the current one.
    using TModel = std::array<std::array<double, 4>, 3>;

    // Grid is column-major, columnWidths.size() columns of rowHeights.size()
    // segments; a segment's sums hold columnWidths[x] * rowHeights[y] pixels.
    // Estimates the model from the grid's previous and current sums. Returns
    // false when the previous picture gives no hold: black, empty, or too few
    // lit segments.
    bool Fit(const std::vector<TkaSegment>& grid, const std::vector<int>& columnWidths,
             const std::vector<int>& rowHeights);
    // Rewrites the previous sums of the grid last fitted to what they would
    // have been under the current light.
    void Apply(std::vector<TkaSegment>& grid) const;
    // Fit, then Apply; leaves the grid alone when the fit fails.
    bool Correct(std::vector<TkaSegment>& grid, const std::vector<int>& columnWidths,
                 const std::vector<int>& rowHeights);

    // The model of the last successful fit.
    const TModel& Model() const { return FModel; }
    // The pixels of every segment of the grid last fitted, in grid order.
    const std::vector<double>& Pixels() const { return FPixels; }

private:
    // One segment of the lattice, as mean values per pixel.
    struct TSample {
        std::array<double, 3> Prev;
        std::array<double, 3> Cur;
    };

    void TakeSamples(const std::vector<TkaSegment>& grid, const std::vector<int>& columnWidths,
                     const std::vector<int>& rowHeights);
    bool StartingGain(double& gain);
    // Least squares over the samples that the model explains to within the
    // spread of its residuals; false when too few remain or the fit fails.
    bool Refit(double gain);
    double Residual(const TSample& sample) const;
    void CountPixels(const std::vector<int>& columnWidths, const std::vector<int>& rowHeights);

    TModel FModel{};
    std::vector<int> LatticeColumns;
    std::vector<int> LatticeRows;
    std::vector<TSample> Samples;
    std::vector<double> Residuals;
    std::vector<double> Scratch;
    // Pixels of every segment, for the widths and heights they were made for.
    std::vector<double> FPixels;
    std::vector<int> PixelsWidths;
    std::vector<int> PixelsHeights;
};
