// Moving values from the order a file lists them in into walk order (i along x slowest, k along z
// fastest), for the formats whose files list them another way (CCP4/MRC in any axis order, AutoDock and
// every format that lists x fastest). The file is read a slab at a time; every point of the slab gets a
// run of consecutive places along z, so the grid is written in whole cache lines however the file's
// axes are ordered, and the values are converted as they are moved: one pass, no second copy.
#ifndef VOXMOL_DX_FORMATS_WALK_ORDER_H
#define VOXMOL_DX_FORMATS_WALK_ORDER_H

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <type_traits>

#include "dx/grid.h"
#include "dx/io/bytes.h"

namespace gridfmt {

// How a file lists its values: file axis 0 fastest, 2 slowest; n[f] values along file axis f, which runs
// along walk axis walk_axis[f] (0 for x, 1 for y, 2 for z).
struct FileAxes {
    std::array<std::size_t, 3> n{1, 1, 1};
    std::array<int, 3> walk_axis{0, 1, 2};
};

// x fastest, then y, z slowest: the order most text and Fortran formats list a grid in.
constexpr FileAxes x_fastest(std::size_t nx, std::size_t ny, std::size_t nz) {
    return {{nx, ny, nz}, {0, 1, 2}};
}

namespace walk_order_detail {

// The file is read about this many bytes at a time: in the usual axis order (sections along z) a slab of
// a 256 x 256 map holds 64 sections.
constexpr std::size_t kSlabBytes = std::size_t{16} << 20;
// Consecutive values along z moved together: 64 doubles fill eight cache lines of the grid.
constexpr std::size_t kRunAlongZ = 64;

// Stores `w` values, read `step` bytes apart from `src`, at dst[0..w). Where the runs land far apart in
// the grid (`scattered`), they are stored past the cache: the grid is read only later, by the writer, and
// such stores do not first fetch each line from memory, which more than halves the time of moving the
// values on x86. Runs that follow each other in the grid are stored plainly: the pages the system has
// just cleared for them are still in the cache.
// Values kept in single precision (`T` float) are stored plainly: every value a format loads this way
// came from a file type a float holds exactly.
template <double (*load)(const char*), typename T>
inline void store_run(T* dst, const char* src, std::size_t w, std::size_t step, bool scattered) {
    std::size_t t = 0;
#if defined(__SSE2__)
    if (std::is_same_v<T, double> && scattered) {
        if (reinterpret_cast<std::uintptr_t>(dst) % 16 != 0 && w > 0) {
            dst[0] = load(src);
            t = 1;
        }
        if constexpr (std::is_same_v<T, double>) {
            for (; t + 1 < w; t += 2)
                _mm_stream_pd(dst + t, _mm_set_pd(load(src + (t + 1) * step), load(src + t * step)));
        }
    }
#else
    (void)scattered;
#endif
    for (; t < w; ++t)
        dst[t] = static_cast<T>(load(src + t * step));
}

// Orders the stores that bypassed the cache before anything that follows.
inline void finish_stores() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

struct Axis {
    std::size_t n = 1;
    std::size_t stride = 0;  // between neighbours along the axis, in walk order
};

}  // namespace walk_order_detail

// Fills `values` (n[0]*n[1]*n[2] of them) in walk order from a file that lists them as `axes` says, each
// kBytes long and turned into a double by `load`. `read(dst, count)` copies the next `count` values' bytes
// of the file into dst (and fails, for the format, when the file ends first). `values` may also be
// floats, for a file whose values a float holds exactly.
template <std::size_t kBytes, double (*load)(const char*), typename T, typename Read>
void move_to_walk_order(std::span<T> values, const FileAxes& axes, Read&& read) {
    using namespace walk_order_detail;
    constexpr std::size_t bpv = kBytes;
    std::array<std::size_t, 3> dims{};
    for (int f = 0; f < 3; ++f)
        dims[axes.walk_axis[f]] = axes.n[f];
    const std::array<std::size_t, 3> walk_stride = {dims[1] * dims[2], dims[2], 1};
    std::array<Axis, 3> file;
    int along_z = 0;
    for (int f = 0; f < 3; ++f) {
        file[f] = {axes.n[f], walk_stride[axes.walk_axis[f]]};
        if (axes.walk_axis[f] == 2) along_z = f;
    }
    // The axes faster than the one along z (inner, at most two) and slower (outer), padded to two each.
    std::array<Axis, 2> inner, outer;
    for (int f = 0, i = 0, o = 0; f < 3; ++f) {
        if (f < along_z) inner[i++] = file[f];
        if (f > along_z) outer[o++] = file[f];
    }
    const std::size_t slice = inner[0].n * inner[1].n;  // values of one position along z
    const std::size_t nz = file[along_z].n;
    const std::size_t total = axes.n[0] * axes.n[1] * axes.n[2];
    if (total == 0) return;
    // A slab is `run` positions along z for one outer point; when a whole line along z fits the budget,
    // several outer points are read at once.
    const std::size_t run =
        std::clamp<std::size_t>(kSlabBytes / (slice * bpv), 1, std::max<std::size_t>(nz, 1));
    const std::size_t lines_per_read =
        run < nz ? 1 : std::max<std::size_t>(1, kSlabBytes / (slice * nz * bpv));
    // Not cleared: every byte is read into before it is used.
    const std::size_t slab_bytes = std::min(run * slice * bpv * lines_per_read, total * bpv);
    const auto slab = std::make_unique_for_overwrite<char[]>(slab_bytes);
    T* const out = values.data();
    std::size_t line_in_slab = lines_per_read;  // lines of the current read handed out
    const char* line_start = nullptr;
    const std::size_t outer_points = outer[0].n * outer[1].n;
    for (std::size_t o = 0; o < outer_points; ++o) {
        const std::size_t o0 = o % outer[0].n, o1 = o / outer[0].n;
        const std::size_t outer_base = o0 * outer[0].stride + o1 * outer[1].stride;
        for (std::size_t z0 = 0; z0 < nz; z0 += run) {
            const std::size_t width = std::min(run, nz - z0);
            const char* src;
            if (run < nz) {
                read(slab.get(), width * slice);
                src = slab.get();
            } else {
                if (line_in_slab == lines_per_read) {
                    const std::size_t lines = std::min(lines_per_read, outer_points - o);
                    read(slab.get(), lines * slice * nz);
                    line_start = slab.get();
                    line_in_slab = 0;
                }
                src = line_start + line_in_slab * slice * nz * bpv;
                ++line_in_slab;
            }
            // Runs along z of kRunAlongZ at most, so that the sources read together stay few.
            for (std::size_t zr = 0; zr < width; zr += kRunAlongZ) {
                const std::size_t w = std::min(kRunAlongZ, width - zr);
                for (std::size_t i1 = 0; i1 < inner[1].n; ++i1) {
                    for (std::size_t i0 = 0; i0 < inner[0].n; ++i0) {
                        T* dst = out + outer_base + i1 * inner[1].stride + i0 * inner[0].stride + z0 + zr;
                        const char* s = src + ((zr * slice) + i1 * inner[0].n + i0) * bpv;
                        store_run<load>(dst, s, w, slice * bpv, slice > 1);
                    }
                }
            }
        }
    }
    finish_stores();
}

// The same into doubles, for a caller whose values convert to a span of doubles (a vector, say).
template <std::size_t kBytes, double (*load)(const char*), typename Read>
void move_to_walk_order(std::span<double> values, const FileAxes& axes, Read&& read) {
    move_to_walk_order<kBytes, load, double>(values, axes, read);
}

namespace walk_order_detail {

// The window's bounds as floats a little wider than the window, or as wide (the largest float not above
// the lower bound, the smallest not below the upper one): every float in the window lies between them,
// so a block of floats none of which does holds no point of the window.
struct FloatWindow {
    float lo, hi;
    explicit FloatWindow(double min, double max) : lo(below(min)), hi(above(max)) {}
    static float below(double v) {
        if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();  // a window of nothing
        if (v >= std::numeric_limits<float>::max())
            return v == HUGE_VAL ? HUGE_VALF : std::numeric_limits<float>::max();
        if (v < -std::numeric_limits<float>::max()) return -HUGE_VALF;
        const auto f = static_cast<float>(v);
        return static_cast<double>(f) > v ? std::nextafter(f, -HUGE_VALF) : f;
    }
    static float above(double v) { return -below(-v); }
};

// Whether any of the 16 values at `src` may lie in the window: floats four at a time against the float
// bounds (their bytes first swapped when they are in the other order), anything else two at a time as
// doubles.
template <std::size_t kBytes, double (*load)(const char*)>
bool block_may_hit(const char* src, double min, double max, const FloatWindow& window) {
#if defined(__SSE2__)
    if constexpr (io::kFloatLoader<load> != 0) {
        const __m128 lo = _mm_set1_ps(window.lo), hi = _mm_set1_ps(window.hi);
        __m128 hits = _mm_setzero_ps();
        for (std::size_t b = 0; b < 16; b += 4) {
            __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + b * 4));
            if constexpr (io::kFloatLoader<load> == 2) {
                const __m128i mid = _mm_set1_epi32(0x00ff0000);
                w = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(w, 24), _mm_srli_epi32(w, 24)),
                                 _mm_or_si128(_mm_and_si128(_mm_slli_epi32(w, 8), mid),
                                              _mm_and_si128(_mm_srli_epi32(w, 8), _mm_srli_epi32(mid, 8))));
            }
            const __m128 v = _mm_castsi128_ps(w);
            hits = _mm_or_ps(hits, _mm_and_ps(_mm_cmple_ps(lo, v), _mm_cmple_ps(v, hi)));
        }
        return _mm_movemask_ps(hits) != 0;
    } else {
        (void)window;
        const __m128d lo = _mm_set1_pd(min), hi = _mm_set1_pd(max);
        __m128d hits = _mm_setzero_pd();
        for (std::size_t b = 0; b < 16; b += 2) {
            const __m128d v = _mm_set_pd(load(src + (b + 1) * kBytes), load(src + b * kBytes));
            hits = _mm_or_pd(hits, _mm_and_pd(_mm_cmple_pd(lo, v), _mm_cmple_pd(v, hi)));
        }
        return _mm_movemask_pd(hits) != 0;
    }
#else
    (void)window;
    bool any = false;
    for (std::size_t b = 0; b < 16; ++b) {
        const double v = load(src + b * kBytes);
        any |= (min <= v) & (v <= max);
    }
    return any;
#endif
}

// Takes the `run` values at `src` (kBytes each, consecutive in the file), of walk indices w0, w0 + step,
// ...: those in the window join the selection, and those of the first line along z (walk index below
// nz) are kept in its place. Values are tested a block at a time, without a branch per value, and a
// block with none in the window costs no more. False once the selection holds more than its limit.
template <std::size_t kBytes, double (*load)(const char*)>
bool select_run(PointSelection& selection, std::size_t limit, const FloatWindow& window, const char* src,
                std::size_t run, std::uint64_t w0, std::uint64_t step, std::uint64_t nz) {
    constexpr std::size_t kBlock = 16;
    std::size_t t = 0;
    if (w0 >= nz) {
        for (; t + kBlock <= run; t += kBlock) {
            if (!block_may_hit<kBytes, load>(src + t * kBytes, selection.min, selection.max, window))
                continue;
            for (std::size_t b = 0; b < kBlock; ++b) {
                const double v = load(src + (t + b) * kBytes);
                if (selection.in_window(v)) selection.points.push_back({w0 + (t + b) * step, v});
            }
        }
    }
    for (; t < run; ++t) {
        const double v = load(src + t * kBytes);
        const std::uint64_t w = w0 + t * step;
        if (w < nz) selection.first_line[w] = v;
        if (selection.in_window(v)) selection.points.push_back({w, v});
    }
    return selection.points.size() <= limit;
}

}  // namespace walk_order_detail

// The same file read into a selection instead of a whole grid: the values in its window with their
// places in walk order, and the first line along z, the file read in small pieces in its own order and
// nothing made the size of the grid. Stops, with selection.complete false, once more than
// selection.limit() values lie in the window.
template <std::size_t kBytes, double (*load)(const char*), typename Read>
void move_to_walk_order(PointSelection& selection, const FileAxes& axes, Read&& read) {
    using namespace walk_order_detail;
    std::array<std::size_t, 3> dims{};
    for (int f = 0; f < 3; ++f)
        dims[axes.walk_axis[f]] = axes.n[f];
    const std::array<std::size_t, 3> walk_stride = {dims[1] * dims[2], dims[2], 1};
    std::array<std::uint64_t, 3> stride{};
    for (int f = 0; f < 3; ++f)
        stride[f] = walk_stride[axes.walk_axis[f]];
    const std::uint64_t nz = dims[2];
    const std::uint64_t total = std::uint64_t{axes.n[0]} * axes.n[1] * axes.n[2];
    selection.points.clear();
    selection.first_line.assign(total == 0 ? 0 : nz, 0.0);
    selection.complete = false;
    // A piece stays in the cache between its read and its test.
    constexpr std::size_t kPiece = (std::size_t{256} << 10) / kBytes;  // values
    const auto piece = std::make_unique_for_overwrite<char[]>(kPiece * kBytes);
    const FloatWindow window(selection.min, selection.max);
    const std::size_t limit = selection.limit(total);
    std::size_t c0 = 0, c1 = 0, c2 = 0;  // the file position of the next value
    std::uint64_t line = 0;              // walk index of (c1, c2) with c0 = 0
    for (std::uint64_t done = 0; done < total;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, total - done));
        read(piece.get(), n);
        done += n;
        for (std::size_t at = 0; at < n;) {
            const std::size_t run = std::min(axes.n[0] - c0, n - at);
            if (!select_run<kBytes, load>(selection, limit, window, piece.get() + at * kBytes, run,
                                          line + c0 * stride[0], stride[0], nz))
                return;
            at += run;
            c0 += run;
            if (c0 == axes.n[0]) {
                c0 = 0;
                if (++c1 == axes.n[1]) {
                    c1 = 0;
                    ++c2;
                }
                line = c1 * stride[1] + c2 * stride[2];
            }
        }
    }
    selection.sort();
    selection.complete = true;
}

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_WALK_ORDER_H
