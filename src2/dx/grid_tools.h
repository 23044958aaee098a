// Where a point lies in a grid and what the grid holds there: the fractional indices of a Cartesian
// point, the trilinear value between points, and the block of points inside a box. For hosts that work
// with grids beside the converter (the Python module); the converter itself uses none of it.
#ifndef VOXMOL_DX_GRID_TOOLS_H
#define VOXMOL_DX_GRID_TOOLS_H

#include <array>
#include <optional>
#include <span>

#include "dx/grid.h"

// A grid's placement: point (i, j, k) at origin + i*a + j*b + k*c, and the map back.
struct GridFrame {
    std::array<double, 3> origin{};
    Axes axes{};     // a, b, c as rows, in Ångström
    Axes inverse{};  // (i, j, k) = inverse * (p - origin); valid when `invertible`
    bool invertible = false;
};

// The frame of a grid record. The step vectors cannot be inverted when they are linearly dependent (a
// step of length 0, as voxmol's text format gives a dimension of 1, or two parallel steps).
GridFrame grid_frame(const Tuhbdgrd& grid);

// The fractional indices (i, j, k) of the Cartesian point `p` (the frame must be invertible).
std::array<double, 3> grid_index_of(const GridFrame& frame, const std::array<double, 3>& p);

// The value at fractional indices (i, j, k), trilinear between the eight points around it; NaN outside
// the grid (an index below 0 or above n - 1, beyond a rounding slack of 1e-9 of a step). A dimension of
// 1 holds only index 0. `values` are stored in `order`.
double grid_value_at(const Tuhbdgrd& grid, ValueOrder order, const std::array<double, 3>& index);

// The block of points lo[d] <= index[d] <= hi[d] (inclusive) of a grid.
struct IndexBox {
    std::array<long, 3> lo{}, hi{};
};

// The smallest block of grid points that holds every point of the grid inside the Cartesian box
// [lo, hi]; empty when no point of the grid lies in it. For axes along x, y and z the block holds exactly
// the points inside the box; for oblique axes it also holds points beside it.
std::optional<IndexBox> grid_box(const Tuhbdgrd& grid, const GridFrame& frame,
                                 const std::array<double, 3>& lo, const std::array<double, 3>& hi);

// Copies the values of the block into `out` (its point count, in walk order: k fastest) from a grid
// stored in `order`.
void copy_block(const Tuhbdgrd& grid, ValueOrder order, const IndexBox& box, std::span<double> out);

#endif  // VOXMOL_DX_GRID_TOOLS_H
