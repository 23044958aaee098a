// The walk of the grid: x slowest, z fastest, one residue per (i, j) column, the value window, the regions
// and the thinning step, and one record for each point kept.
#include "dx/write/pdb_writer.h"
#include "common/text_out.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/fatal.h"
#include "common/interrupt.h"
#include "dx/write/atom_format.h"
#include "dx/write/cif_writer.h"
#include "dx/write/write_pipe.h"

void print_writing_started() {
    std::fprintf(text_out(), "\nWriting to dx file ...\n");
}

void print_writing_done() {
    std::fprintf(text_out(), "Writing to dx file : Done\n\n");
}

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol,
              std::string_view type) {
    return write_pdb(file, grd, min, max, resol, type, writepipe::second_thread_pays());
}

int write_pdb(std::FILE* file, const Tuhbdgrd* grd, double min, double max, int resol, std::string_view type,
              bool threaded) {
    print_writing_started();
    const ValueOrder order = type.substr(0, 3) == "ZYX" ? ValueOrder::x_fastest : ValueOrder::z_fastest;
    write_pdb_records(file, *grd, min, max, resol, order, threaded, nullptr);
    print_writing_done();
    return 1;
}

namespace {

// Walks every point, x slowest and z fastest, and hands every `resol`-th point that `keep(walk, i, j, k,
// value)` accepts to `emit(serial, residue, i, j, k, value)`. Returns the number emitted. With
// `progress`, a column is walked once its values are final; an abandoned progress ends the walk.
template <class Keep, class Emit>
long walk_points(const Tuhbdgrd& grid, std::size_t points, ValueOrder order, int resol,
                 const ValueProgress* progress, Keep&& keep, Emit&& emit) {
    long w = 0;  // serial of the last written record
    const long nx = grid.nx, ny = grid.ny, nz = grid.nz;
    const bool x_fastest = order == ValueOrder::x_fastest;
    std::size_t ready = progress == nullptr ? points : 0;  // values known to be final
    long v = 0;      // element of the current point in walk order (z fastest)
    int icol = 0;    // kept points since the last written record
    long resid = 0;  // one residue per (i, j) column of points
    for (long i = 0; i < nx; ++i) {
        for (long j = 0; j < ny; ++j) {
            check_interrupt();  // a host may stop the walk between two columns
            ++resid;
            // Values still being read arrive in walk order: wait for the whole column.
            if (ready < static_cast<std::size_t>(v + nz)) {
                ready = progress->wait_for(static_cast<std::size_t>(v + nz));
                if (ready == 0) return w;  // the run was abandoned
            }
            for (long k = 0; k < nz; ++k, ++v) {
                const double value = grid.data[x_fastest ? i + nx * (j + ny * k) : v];
                if (keep(static_cast<std::size_t>(v), i, j, k, value)) {
                    ++icol;
                    if (icol == resol) {
                        ++w;
                        emit(w, resid, i, j, k, value);
                        icol = 0;
                    }
                }
            }
        }
    }
    return w;
}

// Hands the points of `selection` (in walk order), every `resol`-th that `keep` accepts, to `emit`, as
// walk_points hands those of the whole grid: the same serials, residues and thinning.
template <class Keep, class Emit>
long walk_selection(const Tuhbdgrd& grid, const PointSelection& selection, int resol, Keep&& keep,
                    Emit&& emit) {
    long w = 0;
    int icol = 0;
    const auto ny = static_cast<std::uint64_t>(grid.ny), nz = static_cast<std::uint64_t>(grid.nz);
    std::size_t n = 0;
    for (const PointSelection::Point& p : selection.points) {
        if ((++n & 0xffff) == 0) check_interrupt();
        const std::uint64_t column = p.walk / nz;  // i*ny + j
        const auto i = static_cast<long>(column / ny), j = static_cast<long>(column % ny),
                   k = static_cast<long>(p.walk % nz);
        if (keep(static_cast<std::size_t>(p.walk), i, j, k, p.value)) {
            ++icol;
            if (icol == resol) {
                ++w;
                emit(w, static_cast<long>(column) + 1, i, j, k, p.value);
                icol = 0;
            }
        }
    }
    return w;
}

// The number of points, checked against the values the grid holds: the walk reads nx*ny*nz of them, and
// a grid whose array is shorter is refused rather than read past.
std::size_t checked_points(const Tuhbdgrd& grid) {
    const auto points = grid_points(grid);
    if (!points || grid.data.size() < *points) run_failed("The grid holds fewer values than its dimensions");
    return *points;
}

std::size_t selection_points(const Tuhbdgrd& grid) {
    const auto points = grid_points(grid);
    if (!points) run_failed("The grid's dimensions are beyond memory");
    return *points;
}

// The remarks and the records `walk(keep, emit)` hands on, the window alone deciding.
template <class Walk>
long pdb_records(std::FILE* file, const Tuhbdgrd& grid, std::size_t points, double min, double max,
                 bool threaded, Walk&& walk) {
    std::fwrite(kRemarks.data(), 1, kRemarks.size(), file);
    if (points == 0) return 0;
    atomfmt::AtomWriter writer(file, grid, threaded);
    return walk(
        [min, max](std::size_t, long, long, long, double value) { return min <= value && value <= max; },
        [&writer](long serial, long resid, long i, long j, long k, double value) {
            writer.write(serial, resid, i, j, k, value);
        });
}

// Grids smaller than this are measured in the walk: a second thread would cost more than it saves.
constexpr std::size_t kLeastForTwoThreads = std::size_t{1} << 16;

// Which points of a whole grid lie in the value window and in every region, one bit per point in walk
// order, found before the walk on two threads. Measuring points against atoms costs more than writing
// their records; with a second core, the walk then only reads the bits. The threads take pieces of
// kPiece points in turn (the atoms are not spread evenly over the grid, so halves would leave one thread
// waiting for the other); a piece is a whole number of words, so no word is written by both.
class RegionBits {
  public:
    // Fails (empty()) when there is no memory for the bits; the walk then tests each point itself.
    RegionBits(const Tuhbdgrd& grid, std::size_t points, ValueOrder order, const RecordFilter& filter) {
        try {
            words_.resize((points + 63) / 64);
        } catch (const std::bad_alloc&) {
            words_.clear();
            return;
        }
        std::atomic<std::size_t> next{0};
        const auto take_pieces = [&](const std::stop_token* stop) {
            for (std::size_t from = next.fetch_add(kPiece); from < points; from = next.fetch_add(kPiece))
                if (!find(grid, order, filter, from, std::min(points, from + kPiece), stop)) return;
        };
        std::jthread other;
        try {
            other = std::jthread([&](std::stop_token stop) { take_pieces(&stop); });
        } catch (const std::system_error&) {
            // No second thread: this one takes every piece.
        }
        take_pieces(nullptr);
        // Waits for the other thread's last piece (leaving `other` to its destructor would ask it to stop,
        // as when an interrupt unwinds this thread).
        if (other.joinable()) other.join();
    }
    bool empty() const { return words_.empty(); }
    bool operator[](std::size_t walk) const { return (words_[walk / 64] >> (walk % 64) & 1) != 0; }

  private:
    static constexpr std::size_t kPiece = std::size_t{1} << 14;

    // Sets the bits of points [from, to); false when asked to stop. The calling thread (no `stop`)
    // checks for an interrupt between columns; when one ends it, the other thread is asked to stop and
    // joined before the walk unwinds.
    bool find(const Tuhbdgrd& grid, ValueOrder order, const RecordFilter& filter, std::size_t from,
              std::size_t to, const std::stop_token* stop) {
        const long nx = grid.nx, ny = grid.ny, nz = grid.nz;
        const bool x_fastest = order == ValueOrder::x_fastest;
        const Axes axes = grid_axes(grid);
        RecordFilter::Hints hints;
        const auto column = static_cast<long>(from / static_cast<std::size_t>(nz));
        long i = column / ny, j = column % ny, k = static_cast<long>(from % static_cast<std::size_t>(nz));
        for (std::size_t v = from; v < to; ++v) {
            if (k == 0) {
                if (stop == nullptr)
                    check_interrupt();
                else if (stop->stop_requested())
                    return false;
            }
            const double value = grid.data[x_fastest ? static_cast<std::size_t>(i + nx * (j + ny * k)) : v];
            if (filter.in_window(value) && filter.in_regions(v, grid_position(grid, axes, i, j, k), hints))
                words_[v / 64] |= std::uint64_t{1} << (v % 64);
            if (++k == nz) {
                k = 0;
                if (++j == ny) {
                    j = 0;
                    ++i;
                }
            }
        }
        return true;
    }

    std::vector<std::uint64_t> words_;
};

// write_records over whatever `walk(keep, emit)` walks; with `bits`, the regions of each point are read
// from them.
template <class Walk>
RecordCounts records(std::FILE* file, const Tuhbdgrd& grid, std::size_t points, const RecordFilter& filter,
                     const RecordStyle& style, bool threaded, const RegionBits* bits, Walk&& walk) {
    if (!filter.mask.empty() && filter.mask.size() < points)
        run_failed("The mask holds fewer entries than the grid has points");
    RecordCounts counts;
    counts.lowest = counts.highest = std::numeric_limits<double>::quiet_NaN();

    const Axes axes = grid_axes(grid);
    const bool regions = filter.has_regions();
    RecordFilter::Hints hints;
    auto keep = [&](std::size_t walk, long i, long j, long k, double value) {
        if (!filter.in_window(value)) return false;
        ++counts.in_window;
        if (bits != nullptr) {
            if (!(*bits)[walk]) return false;
        } else if (regions && !filter.in_regions(walk, grid_position(grid, axes, i, j, k), hints)) {
            return false;
        }
        ++counts.kept;
        return true;
    };
    auto note = [&counts](double value) {
        if (!(value >= counts.lowest)) counts.lowest = value;
        if (!(value <= counts.highest)) counts.highest = value;
        counts.squares += value * value;
    };

    if (style.format == RecordFormat::mmcif) {
        ciffmt::CifWriter writer(file, grid, threaded, style.element, style.block);
        if (points == 0) return counts;
        counts.written = walk(keep, [&](long serial, long resid, long i, long j, long k, double value) {
            writer.write(serial, resid, i, j, k, value);
            note(value);
        });
        return counts;
    }
    std::fwrite(kRemarks.data(), 1, kRemarks.size(), file);
    if (points == 0) return counts;
    atomfmt::AtomWriter writer(file, grid, threaded, style.element);
    counts.written = walk(keep, [&](long serial, long resid, long i, long j, long k, double value) {
        writer.write(serial, resid, i, j, k, value);
        note(value);
    });
    return counts;
}

}  // namespace

long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, double min, double max, int resol,
                       ValueOrder order, bool threaded, const ValueProgress* progress) {
    const std::size_t points = checked_points(grid);
    return pdb_records(file, grid, points, min, max, threaded, [&](auto&& keep, auto&& emit) {
        return walk_points(grid, points, order, resol, progress, keep, emit);
    });
}

long write_pdb_records(std::FILE* file, const Tuhbdgrd& grid, const PointSelection& selection, double min,
                       double max, int resol, bool threaded) {
    return pdb_records(file, grid, selection_points(grid), min, max, threaded, [&](auto&& keep, auto&& emit) {
        return walk_selection(grid, selection, resol, keep, emit);
    });
}

RecordCounts write_records(std::FILE* file, const Tuhbdgrd& grid, ValueOrder order,
                           const RecordFilter& filter, int resol, const RecordStyle& style, bool threaded,
                           const ValueProgress* progress) {
    const std::size_t points = checked_points(grid);
    // The bits need every value before the walk: not for values still being read.
    std::optional<RegionBits> bits;
    if ((filter.near != nullptr || filter.outside != nullptr) && threaded && progress == nullptr &&
        points >= kLeastForTwoThreads) {
        bits.emplace(grid, points, order, filter);
        if (bits->empty()) bits.reset();
    }
    return records(file, grid, points, filter, style, threaded, bits ? &*bits : nullptr,
                   [&](auto&& keep, auto&& emit) {
                       return walk_points(grid, points, order, resol, progress, keep, emit);
                   });
}

RecordCounts write_records(std::FILE* file, const Tuhbdgrd& grid, const PointSelection& selection,
                           const RecordFilter& filter, int resol, const RecordStyle& style, bool threaded) {
    return records(
        file, grid, selection_points(grid), filter, style, threaded, nullptr,
        [&](auto&& keep, auto&& emit) { return walk_selection(grid, selection, resol, keep, emit); });
}

namespace {

// A number's text with a comma between groups of three digits before its decimal point: "4014433" gives
// "4,014,433", "4882.5" gives "4,882.5".
std::string grouped(const std::string& text) {
    std::size_t end = text.find('.');
    if (end == std::string::npos) end = text.size();
    std::size_t first = text.find_first_of("0123456789");
    if (first == std::string::npos || first > end) first = end;
    std::string out = text.substr(0, first);
    for (std::size_t at = first; at < end; ++at) {
        if (at > first && (end - at) % 3 == 0) out += ',';
        out += text[at];
    }
    return out + text.substr(end);
}

}  // namespace

void print_points_written(const RecordCounts& counts, double cell_volume) {
    char volume[64];
    std::snprintf(volume, sizeof volume, "%.1f", static_cast<double>(counts.kept) * cell_volume);
    const std::string written = grouped(std::to_string(counts.written));
    const std::string in_window = grouped(std::to_string(counts.in_window));
    if (counts.kept == counts.written) {
        std::fprintf(text_out(), "Points written: %s of %s in the window (%s \u00c5\u00b3)\n",
                     written.c_str(), in_window.c_str(), grouped(volume).c_str());
    } else {
        std::fprintf(text_out(),
                     "Points written: %s of %s in the window (%s kept before thinning, %s \u00c5\u00b3)\n",
                     written.c_str(), in_window.c_str(), grouped(std::to_string(counts.kept)).c_str(),
                     grouped(volume).c_str());
    }
}
