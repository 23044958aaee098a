// Which grid points become records: the value window (in the grid's units or in standard deviations from
// its mean), then the regions (a box, within a distance of some atoms, beyond a distance of others, and a
// caller's own mask). The command line fills one from its options; a host (the Python module) may fill
// one with a mask of its own.
#ifndef VOXMOL_DX_WRITE_RECORD_FILTER_H
#define VOXMOL_DX_WRITE_RECORD_FILTER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/write/atom_cells.h"

// The positions with lo[d] <= p[d] <= hi[d] on every axis, in Ångström.
struct PositionBox {
    Position lo{}, hi{};
    bool contains(const Position& p) const {
        return lo[0] <= p[0] && p[0] <= hi[0] && lo[1] <= p[1] && p[1] <= hi[1] && lo[2] <= p[2] &&
               p[2] <= hi[2];
    }
};

// The mean and the population standard deviation of a grid's values that are numbers (finite: NaN and
// the infinities are left out), and how many those are.
struct GridStatistics {
    double mean = 0.0;
    double sd = 0.0;
    std::size_t count = 0;
};
GridStatistics grid_statistics(std::span<const double> values);

struct RecordFilter {
    // The window of -t: a point is kept when min <= value <= max, or with `sigma` when
    // min <= (value - sigma->mean) / sigma->sd <= max. Not-a-number lies in no window.
    double min = -1.0, max = 1.0;
    std::optional<GridStatistics> sigma;

    // The regions, each one more condition on the point's position (origin + i*a + j*b + k*c, exact, not
    // the rounded text its record shows).
    std::optional<PositionBox> box;
    const AtomCells* near = nullptr;     // kept only within near->radius() of one of its atoms
    const AtomCells* outside = nullptr;  // dropped within outside->radius() of one of its atoms
    // One byte per point, point (i, j, k) at (i*ny + j)*nz + k whatever order the values are stored in;
    // 0 drops the point. Empty: no mask. Owned by the caller, alive while the filter is used.
    std::span<const std::uint8_t> mask;

    bool has_regions() const { return box || near != nullptr || outside != nullptr || !mask.empty(); }

    bool in_window(double value) const {
        if (sigma) value = (value - sigma->mean) / sigma->sd;
        return min <= value && value <= max;
    }

    // Whether point (i, j, k), element `walk` in walk order, at `p`, lies in every region.
    bool in_regions(std::size_t walk, const Position& p) const {
        Hints hints;
        return in_regions(walk, p, hints);
    }

    // The same, for a walk that keeps the atoms last found near a point (AtomCells::any_within).
    struct Hints {
        std::size_t near = AtomCells::kNoHint, outside = AtomCells::kNoHint;
    };
    bool in_regions(std::size_t walk, const Position& p, Hints& hints) const {
        if (!mask.empty() && mask[walk] == 0) return false;
        if (box && !box->contains(p)) return false;
        if (outside != nullptr && outside->any_within(p, hints.outside)) return false;
        if (near != nullptr && !near->any_within(p, hints.near)) return false;
        return true;
    }
};

// What a walk found: the points in the value window, those of them in every region (the thinning then
// writes every n-th of these), the records written, the lowest and highest value written (NaN when none
// was) and the sum of the squares of the values written.
struct RecordCounts {
    long in_window = 0;
    long kept = 0;
    long written = 0;
    double lowest = 0.0, highest = 0.0;
    double squares = 0.0;
};

// The volume one point of the grid stands for: |a . (b x c)| of its step vectors, in cubic Ångström.
double cell_volume(const Tuhbdgrd& grid);

#endif  // VOXMOL_DX_WRITE_RECORD_FILTER_H
