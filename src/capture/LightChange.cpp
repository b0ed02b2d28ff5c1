#include "LightChange.h"

#include "kaPictureAnalyser.h"

#include <algorithm>
#include <cmath>

namespace {

// The lattice has at most this many columns and rows: 64 segments fix
// a dozen numbers well, and the fit then costs little beside the summing of
// the picture.
constexpr int LatticeSide = 8;
// Fewer lit samples than this give no reliable estimate.
constexpr std::size_t MinSamples = 12;
// A sample darker than this (red + green + blue per pixel) gives no ratio.
constexpr double MinLit = 3.0;
// Residuals within this many robust standard deviations fit the common
// change; the limit never falls below MinLimit (levels of red + green + blue
// per pixel), so a near-perfect fit keeps what compression noise disturbs.
constexpr double InlierSpread = 3.0;
constexpr double MinLimit = 1.5;
// Standard deviation of a normal distribution over its median absolute value.
constexpr double MadToSigma = 1.4826;
constexpr int Refits = 2;
// Weight of the prior (the plain gain) against the data: only where the
// samples hold no information, as for colours in a grey scene, does it decide.
constexpr double Ridge = 1e-4;

using TMatrix = std::array<std::array<double, 4>, 4>;

// Indices of the lattice along an axis of Count segments: the centres of
// LatticeSide equal parts, or every segment of a short axis.
void LatticeIndices(int count, std::vector<int>& indices) {
    indices.clear();
    const int side = std::min(count, LatticeSide);
    for (int s = 0; s < side; ++s)
        indices.push_back((2 * s + 1) * count / (2 * side));
}

double Median(std::vector<double>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Solves A x = b for a symmetric positive definite A; false when it is not.
bool SolveCholesky(TMatrix a, std::array<std::array<double, 4>, 3>& rhs) {
    for (int j = 0; j < 4; ++j) {
        for (int k = 0; k < j; ++k)
            for (int i = j; i < 4; ++i)
                a[i][j] -= a[i][k] * a[j][k];
        if (!(a[j][j] > 0.0))
            return false;
        const double pivot = std::sqrt(a[j][j]);
        for (int i = j; i < 4; ++i)
            a[i][j] /= pivot;
    }
    for (auto& b : rhs) {
        for (int i = 0; i < 4; ++i) {
            for (int k = 0; k < i; ++k)
                b[i] -= a[i][k] * b[k];
            b[i] /= a[i][i];
        }
        for (int i = 3; i >= 0; --i) {
            for (int k = i + 1; k < 4; ++k)
                b[i] -= a[k][i] * b[k];
            b[i] /= a[i][i];
        }
    }
    return true;
}

// Adding 2^52 to a double between 0 and 2^51 rounds it to a whole number
// (halves to even), as the analyser's vector comparison does too.
constexpr double TwoPow52 = 4503599627370496.0;

} // namespace

bool TLightChange::Fit(const std::vector<TkaSegment>& grid, const std::vector<int>& columnWidths,
                       const std::vector<int>& rowHeights) {
    if (grid.size() != columnWidths.size() * rowHeights.size())
        return false;
    TakeSamples(grid, columnWidths, rowHeights);
    double gain = 0.0;
    if (!StartingGain(gain))
        return false;
    FModel = {};
    for (int k = 0; k < 3; ++k)
        FModel[k][k] = gain;
    for (int round = 0; round < Refits; ++round)
        if (!Refit(gain))
            break;
    CountPixels(columnWidths, rowHeights);
    return true;
}

bool TLightChange::Correct(std::vector<TkaSegment>& grid, const std::vector<int>& columnWidths,
                           const std::vector<int>& rowHeights) {
    if (!Fit(grid, columnWidths, rowHeights))
        return false;
    Apply(grid);
    return true;
}

void TLightChange::TakeSamples(const std::vector<TkaSegment>& grid,
                               const std::vector<int>& columnWidths,
                               const std::vector<int>& rowHeights) {
    Samples.clear();
    const int ys = static_cast<int>(rowHeights.size());
    LatticeIndices(static_cast<int>(columnWidths.size()), LatticeColumns);
    LatticeIndices(ys, LatticeRows);
    for (int x : LatticeColumns) {
        for (int y : LatticeRows) {
            const double pixels =
                static_cast<double>(columnWidths[std::size_t(x)]) * rowHeights[std::size_t(y)];
            if (pixels <= 0)
                continue;
            const TkaSegment& segment = grid[std::size_t(x) * std::size_t(ys) + std::size_t(y)];
            const double perPixel = 1.0 / pixels;
            TSample sample{};
            for (int k = 0; k < 3; ++k) {
                sample.Prev[k] = static_cast<double>(segment.PrevSum[k]) * perPixel;
                sample.Cur[k] = static_cast<double>(segment.CurSum[k]) * perPixel;
            }
            Samples.push_back(sample);
        }
    }
}

// The median ratio of the lit samples' brightness: a person covering less
// than half of the picture does not move it.
bool TLightChange::StartingGain(double& gain) {
    Scratch.clear();
    for (const TSample& sample : Samples) {
        const double prev = sample.Prev[0] + sample.Prev[1] + sample.Prev[2];
        if (prev >= MinLit)
            Scratch.push_back((sample.Cur[0] + sample.Cur[1] + sample.Cur[2]) / prev);
    }
    if (Scratch.size() < MinSamples)
        return false;
    gain = Median(Scratch);
    return std::isfinite(gain);
}

double TLightChange::Residual(const TSample& sample) const {
    // The model's three rows summed: the residual of red + green + blue.
    const TModel& m = FModel;
    return sample.Cur[0] + sample.Cur[1] + sample.Cur[2] -
           ((m[0][0] + m[1][0] + m[2][0]) * sample.Prev[0] +
            (m[0][1] + m[1][1] + m[2][1]) * sample.Prev[1] +
            (m[0][2] + m[1][2] + m[2][2]) * sample.Prev[2] + (m[0][3] + m[1][3] + m[2][3]));
}

bool TLightChange::Refit(double gain) {
    Residuals.clear();
    for (const TSample& sample : Samples)
        Residuals.push_back(std::abs(Residual(sample)));
    Scratch = Residuals;
    const double limit = std::max(InlierSpread * MadToSigma * Median(Scratch), MinLimit);

    TMatrix normal{};
    std::array<std::array<double, 4>, 3> rhs{};
    std::size_t used = 0;
    for (std::size_t i = 0; i < Samples.size(); ++i) {
        if (Residuals[i] > limit)
            continue;
        const TSample& sample = Samples[i];
        const std::array<double, 4> x{sample.Prev[0], sample.Prev[1], sample.Prev[2], 1.0};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c <= r; ++c)
                normal[r][c] += x[r] * x[c];
            for (int k = 0; k < 3; ++k)
                rhs[k][r] += x[r] * sample.Cur[k];
        }
        ++used;
    }
    if (used < MinSamples)
        return false;
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            normal[i][j] = normal[j][i];
    // Pulled towards the plain gain without offset where the data leave the
    // solution open.
    const double colourWeight = Ridge * (normal[0][0] + normal[1][1] + normal[2][2]) / 3 + 1e-9;
    for (int i = 0; i < 3; ++i) {
        normal[i][i] += colourWeight;
        rhs[i][i] += colourWeight * gain;
    }
    normal[3][3] += Ridge * static_cast<double>(used);
    if (!SolveCholesky(normal, rhs))
        return false;
    for (const auto& row : rhs)
        for (double value : row)
            if (!std::isfinite(value))
                return false;
    FModel = rhs;
    return true;
}

// The pixel counts change only with the grid or the picture size.
void TLightChange::CountPixels(const std::vector<int>& columnWidths,
                               const std::vector<int>& rowHeights) {
    if (columnWidths == PixelsWidths && rowHeights == PixelsHeights)
        return;
    PixelsWidths = columnWidths;
    PixelsHeights = rowHeights;
    FPixels.clear();
    for (int width : columnWidths)
        for (int height : rowHeights)
            FPixels.push_back(double(width) * height);
}

void TLightChange::Apply(std::vector<TkaSegment>& grid) const {
    if (grid.size() != FPixels.size())
        return;
    const TModel& m = FModel;
    for (std::size_t i = 0; i < grid.size(); ++i) {
        auto& prev = grid[i].PrevSum;
        // A segment that was black (masked, or not lit) stays black: it says
        // nothing about the light.
        if ((prev[0] | prev[1] | prev[2]) == 0)
            continue;
        const double pixels = FPixels[i];
        const std::array<double, 3> p{static_cast<double>(prev[0]), static_cast<double>(prev[1]),
                                      static_cast<double>(prev[2])};
        for (std::size_t k = 0; k < 3; ++k) {
            // Summed in this order, without fused multiply-adds, by the
            // vector comparison as well.
            const double value =
                std::clamp(m[k][0] * p[0] + m[k][1] * p[1] + m[k][2] * p[2] + m[k][3] * pixels, 0.0,
                           255.0 * pixels);
            prev[k] = static_cast<std::int64_t>((value + TwoPow52) - TwoPow52);
        }
    }
}
