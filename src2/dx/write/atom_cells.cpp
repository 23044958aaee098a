#include "dx/write/atom_cells.h"

#include <algorithm>
#include <cmath>

namespace {

// Cells enough for any protein at any radius, few enough to cost a few megabytes: a radius too small
// for the structure's extent widens the cells instead.
constexpr double kMaxCells = double{1 << 20};
constexpr double kMaxVoxels = double{1 << 24};

// A voxel is marked whole (all within, or all beyond) only with this margin, in Ångström, on the right
// side of the radius: far more than the rounding of any position or distance involved, so that a mark
// never contradicts the exact comparison, and a point at the radius itself is always measured.
constexpr double kMargin = 1e-6;
// Beyond such coordinates the margin would no longer cover the rounding: every point is measured.
constexpr double kLargest = 1e6;

}  // namespace

AtomCells::AtomCells(std::span<const Position> atoms, double radius)
    : radius_(radius), squared_(radius * radius) {
    if (atoms.empty()) {
        start_.assign(1, 0);
        return;
    }
    Position high = atoms[0];
    low_ = atoms[0];
    for (const Position& a : atoms) {
        for (int d = 0; d < 3; ++d) {
            low_[d] = std::min(low_[d], a[d]);
            high[d] = std::max(high[d], a[d]);
        }
    }
    // A cell a little wider than the radius: an atom within the radius of a point then lies in the point's
    // cell or a neighbour, whatever the rounding of the cell indices.
    width_ = radius * 1.001 + 1e-6;
    for (;;) {
        double count = 1.0;
        for (int d = 0; d < 3; ++d)
            count *= std::floor((high[d] - low_[d]) / width_) + 1.0;
        if (count <= kMaxCells) break;
        width_ *= 2.0;
    }
    for (int d = 0; d < 3; ++d)
        cells_[d] = static_cast<long>(std::floor((high[d] - low_[d]) / width_)) + 1;
    per_width_ = 1.0 / width_;

    const auto index = [&](const Position& a) {
        const long x = std::clamp(cell_of(a[0], 0), 0L, cells_[0] - 1);
        const long y = std::clamp(cell_of(a[1], 1), 0L, cells_[1] - 1);
        const long z = std::clamp(cell_of(a[2], 2), 0L, cells_[2] - 1);
        return static_cast<std::size_t>((x * cells_[1] + y) * cells_[2] + z);
    };
    const auto total = static_cast<std::size_t>(cells_[0] * cells_[1] * cells_[2]);
    start_.assign(total + 1, 0);
    for (const Position& a : atoms)
        ++start_[index(a) + 1];
    for (std::size_t c = 0; c < total; ++c)
        start_[c + 1] += start_[c];
    std::vector<std::size_t> next(start_.begin(), start_.end() - 1);
    sorted_.resize(atoms.size());
    for (const Position& a : atoms)
        sorted_[next[index(a)]++] = a;
    mark_voxels(high);
}

void AtomCells::mark_voxels(const Position& high) {
    for (int d = 0; d < 3; ++d)
        if (!(std::fabs(low_[d]) < kLargest && std::fabs(high[d]) < kLargest)) return;
    if (!(radius_ < kLargest)) return;
    // A quarter of the radius: the voxels that straddle the radius's surface, whose points are measured,
    // are then a thin shell.
    voxel_ = std::max(radius_ * 0.25, 0.25);
    const double reach = radius_ + voxel_;
    for (;;) {
        double count = 1.0;
        for (int d = 0; d < 3; ++d)
            count *= std::floor((high[d] - low_[d] + 2.0 * reach) / voxel_) + 1.0;
        if (count <= kMaxVoxels) break;
        voxel_ *= 1.5;
    }
    for (int d = 0; d < 3; ++d) {
        voxel_low_[d] = low_[d] - (radius_ + voxel_);
        voxels_[d] = static_cast<long>(std::floor((high[d] + radius_ + voxel_ - voxel_low_[d]) / voxel_)) + 1;
        voxel_limit_[d] = static_cast<double>(voxels_[d]);
    }
    per_voxel_ = 1.0 / voxel_;
    class_.assign(static_cast<std::size_t>(voxels_[0] * voxels_[1] * voxels_[2]), kFar);

    const double touch = (radius_ + kMargin) * (radius_ + kMargin);
    const double inner = radius_ - kMargin;
    const double cover = inner > 0.0 ? inner * inner : -1.0;
    // Per axis, for each voxel in reach of the atom: the squared distances from the atom's coordinate to
    // the voxel's nearest and farthest side.
    std::array<std::vector<double>, 3> nearest, farthest;
    std::array<long, 3> first{};
    for (const Position& a : sorted_) {
        for (int d = 0; d < 3; ++d) {
            first[d] =
                std::max(0L, static_cast<long>(std::floor((a[d] - radius_ - voxel_low_[d]) / voxel_)) - 1);
            const long last = std::min(
                voxels_[d] - 1, static_cast<long>(std::floor((a[d] + radius_ - voxel_low_[d]) / voxel_)) + 1);
            nearest[d].clear();
            farthest[d].clear();
            for (long v = first[d]; v <= last; ++v) {
                const double lo = voxel_low_[d] + static_cast<double>(v) * voxel_;
                const double hi = lo + voxel_;
                const double n = a[d] < lo ? lo - a[d] : (a[d] > hi ? a[d] - hi : 0.0);
                const double f = std::max(std::fabs(a[d] - lo), std::fabs(a[d] - hi));
                nearest[d].push_back(n * n);
                farthest[d].push_back(f * f);
            }
        }
        for (std::size_t x = 0; x < nearest[0].size(); ++x) {
            for (std::size_t y = 0; y < nearest[1].size(); ++y) {
                const double nxy = nearest[0][x] + nearest[1][y];
                if (nxy > touch) continue;
                const double fxy = farthest[0][x] + farthest[1][y];
                const auto row = static_cast<std::size_t>(
                    ((first[0] + static_cast<long>(x)) * voxels_[1] + first[1] + static_cast<long>(y)) *
                        voxels_[2] +
                    first[2]);
                for (std::size_t z = 0; z < nearest[2].size(); ++z) {
                    if (nxy + nearest[2][z] > touch) continue;
                    unsigned char& c = class_[row + z];
                    if (fxy + farthest[2][z] <= cover) {
                        c = kFull;
                    } else if (c == kFar) {
                        c = kBetween;
                    }
                }
            }
        }
    }
}

// The cell of a coordinate along one axis: -2 below the first cell's neighbour (and for not-a-number),
// cells + 1 beyond the last one's. A product with the inverse width, rounded, may give the cell next
// to a coordinate on a cell's side: the cells are wider than the radius, so the neighbours searched
// still hold every atom within it.
long AtomCells::cell_of(double coordinate, int axis) const {
    const double t = (coordinate - low_[axis]) * per_width_;
    if (!(t >= -1.0)) return -2;
    if (t >= static_cast<double>(cells_[axis] + 1)) return cells_[axis] + 1;
    return static_cast<long>(t + 1.0) - 1;  // floor: t + 1 is not negative
}

bool AtomCells::measure(const Position& p, std::size_t& hint) const {
    if (hint < sorted_.size() && within(p, hint)) return true;
    std::array<long, 3> from{}, to{};
    for (int d = 0; d < 3; ++d) {
        const long c = cell_of(p[d], d);
        from[d] = std::max(c - 1, 0L);
        to[d] = std::min(c + 1, cells_[d] - 1);
        if (from[d] > to[d]) return false;  // no cell within reach along this axis
    }
    for (long x = from[0]; x <= to[0]; ++x) {
        for (long y = from[1]; y <= to[1]; ++y) {
            // The cells along z of one (x, y) are consecutive: their atoms are one run.
            const auto row = static_cast<std::size_t>((x * cells_[1] + y) * cells_[2]);
            const std::size_t last = start_[row + static_cast<std::size_t>(to[2]) + 1];
            for (std::size_t n = start_[row + static_cast<std::size_t>(from[2])]; n < last; ++n) {
                if (within(p, n)) {
                    hint = n;
                    return true;
                }
            }
        }
    }
    return false;
}
