// The grid every format is read into and the writer walks: its point count, its step vectors, the place
// of point (i, j, k), the order its values are stored in, their memory, and how far they are read.
#ifndef VOXMOL_DX_GRID_H
#define VOXMOL_DX_GRID_H

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "dx/uhbdio.h"

using Axes = std::array<std::array<double, 3>, 3>;  // step vectors a, b, c as rows, in Ångström

// The order a grid's values are stored in. Every format but voxmol's own is read into walk order (z
// fastest, then y, x slowest: point (i, j, k) at (i*ny + j)*nz + k); voxmol's own lists x fastest instead
// when the run is told so (-o ZYX): point (i, j, k) at i + nx*(j + ny*k).
enum class ValueOrder { z_fastest, x_fastest };

// The element of `data` that holds point (i, j, k) of an nx*ny*nz grid stored in `order`.
inline std::size_t value_index(const Tuhbdgrd& grid, ValueOrder order, long i, long j, long k) {
    const auto nx = static_cast<std::size_t>(grid.nx), ny = static_cast<std::size_t>(grid.ny),
               nz = static_cast<std::size_t>(grid.nz);
    const auto ui = static_cast<std::size_t>(i), uj = static_cast<std::size_t>(j),
               uk = static_cast<std::size_t>(k);
    return order == ValueOrder::x_fastest ? ui + nx * (uj + ny * uk) : (ui * ny + uj) * nz + uk;
}

// Number of points nx*ny*nz, computed without overflow; empty when a dimension is negative or the
// product does not fit a size_t.
std::optional<std::size_t> grid_points(const Tuhbdgrd& grid);

// The step vectors a, b, c of a grid (rows), as the writer places its points: the record's own axes, or,
// left all zero as voxmol's own format leaves them, hx, hy and hz along x, y and z.
Axes grid_axes(const Tuhbdgrd& grid);

// The position of point (i, j, k): origin + i*a + j*b + k*c, each coordinate summed in that order, so
// that every caller (the writer, the Python module) places a point to the same last bit.
inline std::array<double, 3> grid_position(const Tuhbdgrd& grid, const Axes& axes, long i, long j, long k) {
    const double di = static_cast<double>(i), dj = static_cast<double>(j), dk = static_cast<double>(k);
    const double origin[3] = {grid.xmin, grid.ymin, grid.zmin};
    std::array<double, 3> p{};
    for (int d = 0; d < 3; ++d)
        p[d] = origin[d] + di * axes[0][d] + dj * axes[1][d] + dk * axes[2][d];
    return p;
}

// The record of an nx*ny*nz grid whose point (0, 0, 0) lies at `origin` and whose step vectors are the
// rows of `axes`, as every format but voxmol's own describes one: the origin as the lower bounds, the
// last point as the upper ones and the lengths of the step vectors as the spacings. `data` is empty.
Tuhbdgrd grid_record(int nx, int ny, int nz, const std::array<double, 3>& origin, const Axes& axes);

// The values of a grid: doubles set to 0.0, owned by whoever reads the grid.
struct GridValuesFree {
    void operator()(double* p) const;
};
using GridValues = std::unique_ptr<double[], GridValuesFree>;
// Fatal ("=> Unable to allocate memory for the grid." at "MAIN:voxden") when the memory is not there or
// the count is beyond what memory can hold.
GridValues allocate_grid_values(std::size_t points);

// The values of a grid kept in single precision, for hosts that keep a file's own precision (every value
// of a CCP4/MRC map is a float exactly): half the memory, and a map in its usual axis order is read
// straight into it. Not cleared: the reader fills every value or fails. Owned by whoever reads the grid.
struct SingleValuesFree {
    void operator()(float* p) const;
};
using SingleValues = std::unique_ptr<float[], SingleValuesFree>;
// Fatal as allocate_grid_values when the memory is not there.
SingleValues allocate_single_values(std::size_t points);

// The points of a grid that a run can write, without the values it never writes: those in a value window,
// and the first line along z (points (0, 0, k), which the run echoes). A run whose window takes a small
// part of a large grid reads it into this instead of into memory for every value; a reader stops once
// more than limit() points lie in the window, and the run then reads the grid whole.
struct PointSelection {
    double min = 0.0, max = 0.0;  // the window: min <= value <= max (not-a-number lies in none)
    // At most one point in `share` of the grid, or `least` when that is more.
    std::size_t share = 16;
    std::size_t least = std::size_t{1} << 16;
    struct Point {
        std::uint64_t walk;  // (i*ny + j)*nz + k
        double value;
    };
    std::vector<Point> points;       // in walk order once the reading is complete
    std::vector<double> first_line;  // the values of points (0, 0, k), nz of them
    bool complete = false;           // every value was read, and no more than limit() lie in the window

    std::size_t limit(std::uint64_t grid_points) const {
        return static_cast<std::size_t>(std::max<std::uint64_t>(grid_points / share, least));
    }

    bool in_window(double value) const { return min <= value && value <= max; }
    // Puts the points in walk order (they are found in the file's order).
    void sort();
};

// ---- Where a point lies, and what the grid holds there ---------------------------------------------
// The fractional indices of a Cartesian point, the trilinear value between points, and the block of
// points inside a box: for hosts that work with grids beside the converter (the Python module).

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
// The same over values kept in single precision (`values` in place of grid.data).
double grid_value_at(const Tuhbdgrd& grid, std::span<const float> values, ValueOrder order,
                     const std::array<double, 3>& index);

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
// The same from values kept in single precision (`values` in place of grid.data).
void copy_block(const Tuhbdgrd& grid, std::span<const float> values, ValueOrder order, const IndexBox& box,
                std::span<double> out);

// How far the values of a grid being read are final, so that the records of the points already read can
// be written while the rest of the file is still being read.
struct ValueProgress {
    // Values [0, ready) are final. The reader raises it; the writer follows.
    std::atomic<std::size_t> ready{0};
    // The run ends before the values are all read (a fatal error): the writer stops following.
    std::atomic<bool> abandoned{false};

    void publish(std::size_t n) {
        ready.store(n, std::memory_order_release);
        ready.notify_all();
    }
    void abandon() {
        abandoned.store(true, std::memory_order_release);
        ready.store(static_cast<std::size_t>(-1), std::memory_order_release);
        ready.notify_all();
    }
    // Waits until at least `n` values are final and returns how many are; 0 when abandoned.
    std::size_t wait_for(std::size_t n) const {
        std::size_t now = ready.load(std::memory_order_acquire);
        while (now < n) {
            ready.wait(now, std::memory_order_acquire);
            now = ready.load(std::memory_order_acquire);
        }
        return abandoned.load(std::memory_order_acquire) ? 0 : now;
    }
};

#endif  // VOXMOL_DX_GRID_H
