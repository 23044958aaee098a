#include "dx/grid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

#include <sys/mman.h>

#include "common/fatal.h"
#include "common/interrupt.h"

std::optional<std::size_t> grid_points(const Tuhbdgrd& grid) {
    if (grid.nx < 0 || grid.ny < 0 || grid.nz < 0) return std::nullopt;
    std::size_t points = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(grid.nx), static_cast<std::size_t>(grid.ny),
                               &points) ||
        __builtin_mul_overflow(points, static_cast<std::size_t>(grid.nz), &points)) {
        return std::nullopt;
    }
    return points;
}

Axes grid_axes(const Tuhbdgrd& grid) {
    for (const auto& row : grid.axes) {
        for (double v : row) {
            if (v != 0.0) return grid.axes;
        }
    }
    return {{{grid.hx, 0.0, 0.0}, {0.0, grid.hy, 0.0}, {0.0, 0.0, grid.hz}}};
}

Tuhbdgrd grid_record(int nx, int ny, int nz, const std::array<double, 3>& origin, const Axes& axes) {
    Tuhbdgrd grid{};
    grid.nx = nx;
    grid.ny = ny;
    grid.nz = nz;
    grid.axes = axes;
    const auto& [a, b, c] = axes;
    grid.hx = std::hypot(a[0], a[1], a[2]);
    grid.hy = std::hypot(b[0], b[1], b[2]);
    grid.hz = std::hypot(c[0], c[1], c[2]);
    double last[3];
    for (int d = 0; d < 3; ++d)
        last[d] = origin[d] + (nx - 1) * a[d] + (ny - 1) * b[d] + (nz - 1) * c[d];
    grid.xmin = origin[0];
    grid.ymin = origin[1];
    grid.zmin = origin[2];
    grid.xmax = last[0];
    grid.ymax = last[1];
    grid.zmax = last[2];
    return grid;
}

void GridValuesFree::operator()(double* p) const {
    std::free(p);
}

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

[[noreturn]] void no_memory() {
    fatal_error("MAIN:voxden", "=> Unable to allocate memory for the grid.");
}

// Asks for 2 MiB pages for the whole 2 MiB blocks inside [p, p + bytes); advice only.
void advise_huge_pages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t last = (start + bytes) / kHugePage * kHugePage;
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace

void PointSelection::sort() {
    if (std::is_sorted(points.begin(), points.end(),
                       [](const Point& a, const Point& b) { return a.walk < b.walk; }))
        return;
    // Sixteen bits of the walk index at a time, lowest first, each pass stable: linear in the points, where
    // a comparison sort of a million would take ten times as long. Passes over bits that every index
    // shares are skipped.
    std::uint64_t highest = 0;
    for (const Point& p : points)
        highest |= p.walk;
    std::vector<Point> other(points.size());
    std::vector<std::size_t> count(std::size_t{1} << 16);
    for (int shift = 0; shift < 64 && (highest >> shift) != 0; shift += 16) {
        std::fill(count.begin(), count.end(), 0);
        for (const Point& p : points)
            ++count[(p.walk >> shift) & 0xffff];
        if (count[(points.front().walk >> shift) & 0xffff] == points.size()) continue;
        std::size_t at = 0;
        for (std::size_t& c : count)
            at += std::exchange(c, at);
        for (const Point& p : points)
            other[count[(p.walk >> shift) & 0xffff]++] = p;
        points.swap(other);
    }
}

GridValues allocate_grid_values(std::size_t points) {
    if (points == 0) return nullptr;
    if (points > SIZE_MAX / sizeof(double)) no_memory();
    // calloc leaves the zeroing to the system, page by page, instead of writing every byte up front.
    auto* p = static_cast<double*>(std::calloc(points, sizeof(double)));
    if (p == nullptr) no_memory();
    advise_huge_pages(p, points * sizeof(double));
    // The pages are left to fault in as the values arrive, in the system's small pages: a header may
    // announce far more points than its file holds, and only what is filled should cost memory. (2 MiB
    // pages take fewer faults, but on virtual machines that hand free memory back to their host a run
    // that waits for whole 2 MiB blocks is slower, not faster: 0.28 s against 0.20 s for a 200^3 grid.)
    return GridValues(p);
}

void SingleValuesFree::operator()(float* p) const {
    std::free(p);
}

SingleValues allocate_single_values(std::size_t points) {
    if (points == 0) return nullptr;
    if (points > SIZE_MAX / sizeof(float) - kHugePage) no_memory();
    // Placed on 2 MiB boundaries and marked for the system's 2 MiB pages: a map is read into it in one
    // pass from start to end, and a 256^3 map then takes 32 page faults instead of 16384, which on this
    // kind of virtual machine is most of the time of reading it.
    const std::size_t bytes = (points * sizeof(float) + kHugePage - 1) / kHugePage * kHugePage;
    auto* p = static_cast<float*>(std::aligned_alloc(kHugePage, bytes));
    if (p == nullptr) no_memory();
#if defined(MADV_HUGEPAGE)
    ::madvise(p, bytes, MADV_HUGEPAGE);  // advice only: without it the pages are the small ones
#endif
    return SingleValues(p);
}

GridFrame grid_frame(const Tuhbdgrd& grid) {
    GridFrame f;
    f.origin = {grid.xmin, grid.ymin, grid.zmin};
    f.axes = grid_axes(grid);
    // p - origin = M^T (i, j, k) with M the rows a, b, c: the indices are (M^T)^-1 (p - origin), whose
    // rows are the cross products of the steps over the determinant.
    const auto& [a, b, c] = f.axes;
    auto cross = [](const std::array<double, 3>& u, const std::array<double, 3>& v) {
        return std::array<double, 3>{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                     u[0] * v[1] - u[1] * v[0]};
    };
    const auto bc = cross(b, c), ca = cross(c, a), ab = cross(a, b);
    const double det = a[0] * bc[0] + a[1] * bc[1] + a[2] * bc[2];
    const double scale =
        std::hypot(a[0], a[1], a[2]) * std::hypot(b[0], b[1], b[2]) * std::hypot(c[0], c[1], c[2]);
    f.invertible = std::isfinite(det) && scale > 0.0 && std::abs(det) > 1e-12 * scale;
    if (!f.invertible) return f;
    for (int d = 0; d < 3; ++d) {
        f.inverse[0][d] = bc[d] / det;
        f.inverse[1][d] = ca[d] / det;
        f.inverse[2][d] = ab[d] / det;
    }
    return f;
}

std::array<double, 3> grid_index_of(const GridFrame& frame, const std::array<double, 3>& p) {
    const double d[3] = {p[0] - frame.origin[0], p[1] - frame.origin[1], p[2] - frame.origin[2]};
    std::array<double, 3> index{};
    for (int r = 0; r < 3; ++r)
        index[r] = frame.inverse[r][0] * d[0] + frame.inverse[r][1] * d[1] + frame.inverse[r][2] * d[2];
    return index;
}

namespace {

constexpr double kSlack = 1e-9;  // of a step: a point on the grid's edge, off by rounding, is inside

// The lower corner of the cell that holds fractional index `t` along an axis of `n` points, and the
// weight of the upper corner; false outside.
bool cell_of(double t, long n, long& lower, double& weight) {
    if (!(t >= -kSlack && t <= static_cast<double>(n - 1) + kSlack)) return false;  // NaN too
    if (n == 1) {
        lower = 0;
        weight = 0.0;
        return true;
    }
    const double c = std::clamp(t, 0.0, static_cast<double>(n - 1));
    lower = std::min(static_cast<long>(std::floor(c)), n - 2);
    weight = c - static_cast<double>(lower);
    return true;
}

template <typename T>
double value_at(const Tuhbdgrd& grid, std::span<const T> values, ValueOrder order,
                const std::array<double, 3>& index) {
    const long n[3] = {grid.nx, grid.ny, grid.nz};
    long lo[3];
    double w[3];
    for (int d = 0; d < 3; ++d) {
        if (n[d] < 1 || !cell_of(index[d], n[d], lo[d], w[d]))
            return std::numeric_limits<double>::quiet_NaN();
    }
    double sum = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        long at[3];
        double weight = 1.0;
        for (int d = 0; d < 3; ++d) {
            const bool upper = (corner >> (2 - d)) & 1;
            const double wd = upper ? w[d] : 1.0 - w[d];
            if (wd == 0.0) {
                weight = 0.0;
                break;
            }
            at[d] = lo[d] + (upper ? 1 : 0);
            weight *= wd;
        }
        if (weight == 0.0) continue;  // a corner beyond a dimension of 1, or of no weight
        sum += weight * values[value_index(grid, order, at[0], at[1], at[2])];
    }
    return sum;
}

}  // namespace

double grid_value_at(const Tuhbdgrd& grid, ValueOrder order, const std::array<double, 3>& index) {
    return value_at<double>(grid, grid.data, order, index);
}

double grid_value_at(const Tuhbdgrd& grid, std::span<const float> values, ValueOrder order,
                     const std::array<double, 3>& index) {
    return value_at<float>(grid, values, order, index);
}

std::optional<IndexBox> grid_box(const Tuhbdgrd& grid, const GridFrame& frame,
                                 const std::array<double, 3>& lo, const std::array<double, 3>& hi) {
    const long n[3] = {grid.nx, grid.ny, grid.nz};
    double low[3], high[3];
    for (int d = 0; d < 3; ++d) {
        low[d] = std::numeric_limits<double>::infinity();
        high[d] = -std::numeric_limits<double>::infinity();
    }
    for (int corner = 0; corner < 8; ++corner) {
        const std::array<double, 3> p = {(corner & 4) ? hi[0] : lo[0], (corner & 2) ? hi[1] : lo[1],
                                         (corner & 1) ? hi[2] : lo[2]};
        const auto index = grid_index_of(frame, p);
        for (int d = 0; d < 3; ++d) {
            low[d] = std::min(low[d], index[d]);
            high[d] = std::max(high[d], index[d]);
        }
    }
    IndexBox box;
    for (int d = 0; d < 3; ++d) {
        const double first = std::max(std::ceil(low[d] - kSlack), 0.0);
        const double last = std::min(std::floor(high[d] + kSlack), static_cast<double>(n[d] - 1));
        if (!(first <= last)) return std::nullopt;
        box.lo[d] = static_cast<long>(first);
        box.hi[d] = static_cast<long>(last);
    }
    return box;
}

namespace {

template <typename T>
void copy_values(const Tuhbdgrd& grid, std::span<const T> values, ValueOrder order, const IndexBox& box,
                 std::span<double> out) {
    std::size_t at = 0;
    for (long i = box.lo[0]; i <= box.hi[0]; ++i) {
        check_interrupt();
        for (long j = box.lo[1]; j <= box.hi[1]; ++j) {
            for (long k = box.lo[2]; k <= box.hi[2]; ++k)
                out[at++] = values[value_index(grid, order, i, j, k)];
        }
    }
}

}  // namespace

void copy_block(const Tuhbdgrd& grid, ValueOrder order, const IndexBox& box, std::span<double> out) {
    copy_values<double>(grid, grid.data, order, box, out);
}

void copy_block(const Tuhbdgrd& grid, std::span<const float> values, ValueOrder order, const IndexBox& box,
                std::span<double> out) {
    copy_values<float>(grid, values, order, box, out);
}
