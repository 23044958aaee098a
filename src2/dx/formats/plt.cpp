// gOpenMol plot files, ".plt": a header of five 4-byte integers and six 4-byte reals, then the values as
// 4-byte reals, x fastest and z slowest, all in the byte order of the machine that wrote them:
//
//   rank (always 3), surface type, nz, ny, nx, zmin, zmax, ymin, ymax, xmin, xmax, values...
//
// The minimum and maximum along each axis are the coordinates of the first and last points, as gOpenMol's
// own converters write them and VMD reads them: the step is (max - min) / (n - 1). (GridDataFormats and
// ChimeraX read them as the edges of the cells around the points, half a step further out.)
#include <cmath>
#include <memory>
#include <string>
#include <type_traits>

#include "dx/formats/format.h"
#include "dx/formats/walk_order.h"
#include "dx/io/bytes.h"

namespace gridfmt {

namespace {

constexpr std::size_t kHeaderBytes = 44;

struct PltHeader {
    std::int32_t rank = 0, surface = 0;
    std::int32_t n[3] = {0, 0, 0};  // x, y, z
    float min[3] = {}, max[3] = {};
};

PltHeader parse(const char* p, bool swap) {
    PltHeader h;
    h.rank = io::load<std::int32_t>(p, swap);
    h.surface = io::load<std::int32_t>(p + 4, swap);
    for (int d = 0; d < 3; ++d) {
        h.n[d] = io::load<std::int32_t>(p + 8 + 4 * (2 - d), swap);  // nz, ny, nx
        h.min[d] = io::load<float>(p + 20 + 8 * (2 - d), swap);      // zmin, zmax, ymin, ymax, xmin, xmax
        h.max[d] = io::load<float>(p + 24 + 8 * (2 - d), swap);
    }
    return h;
}

// The rank is 3 and the counts positive: a swapped 3 reads as 50331648.
bool plausible(const PltHeader& h) {
    return h.rank == 3 && h.n[0] > 0 && h.n[1] > 0 && h.n[2] > 0;
}

class PltReader final : public Reader {
  public:
    explicit PltReader(io::BlockReader& in) : in_(in) {}

    Geometry read_header() override {
        char b[kHeaderBytes];
        const std::size_t got = in_.read(b, kHeaderBytes);
        if (got < kHeaderBytes)
            fail(formatted("The plt file ends inside its 44-byte header, after %zu bytes", got));
        swap_ = !plausible(parse(b, false));
        h_ = parse(b, swap_);
        if (!plausible(h_)) {
            fail(
                "The plt file's header gives no rank 3 and three positive point counts in either byte order");
        }
        const auto points = product3(static_cast<std::uint64_t>(h_.n[0]), static_cast<std::uint64_t>(h_.n[1]),
                                     static_cast<std::uint64_t>(h_.n[2]));
        if (!points || *points > (std::uint64_t{1} << 60)) {
            fail(formatted("The plt file's header gives %d x %d x %d points, more than any file holds",
                           h_.n[0], h_.n[1], h_.n[2]));
        }
        Geometry g;
        g.nx = h_.n[0];
        g.ny = h_.n[1];
        g.nz = h_.n[2];
        for (int d = 0; d < 3; ++d) {
            if (!std::isfinite(h_.min[d]) || !std::isfinite(h_.max[d]))
                fail("The plt file's header gives a minimum or maximum that is not finite");
            g.origin[d] = h_.min[d];
            // One point along an axis has no step; its minimum and maximum should agree.
            g.axes[d][d] = h_.n[d] > 1 ? (static_cast<double>(h_.max[d]) - h_.min[d]) / (h_.n[d] - 1) : 1.0;
            if (h_.n[d] == 1 && h_.min[d] != h_.max[d]) {
                g.warnings.push_back(
                    formatted("The plt file has one point along %c but gives it the range %g to %g; "
                              "it is placed at the minimum",
                              "xyz"[d], h_.min[d], h_.max[d]));
            }
        }
        check_reach(g, "plt file's");
        const bool big = swap_ == (std::endian::native == std::endian::little);
        g.description = std::string("gOpenMol plt, ") + (big ? "big-endian" : "little-endian");
        check_size();
        return g;
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        if (values.size() != count()) fail("The grid's values do not match the plt header");
        read_into(values);
        return static_cast<long>(values.size());
    }

    bool selects() const override { return true; }
    void read_selection(PointSelection& selection) override { read_into(selection); }

  private:
    // The values into a whole grid (a span) or a selection, checked alike.
    template <typename To>
    void read_into(To& to) {
        std::uint64_t done = 0;
        auto read = [&](char* dst, std::size_t n) {
            const std::size_t got = in_.read(dst, n * 4);
            if (got < n * 4) {
                fail(formatted("The plt file ends after %llu of %llu values",
                               static_cast<unsigned long long>(done + got / 4),
                               static_cast<unsigned long long>(count())));
            }
            done += n;
        };
        const FileAxes axes = x_fastest(h_.n[0], h_.n[1], h_.n[2]);
        swap_ ? move_to_walk_order<4, io::load_as_double<float, true>>(to, axes, read)
              : move_to_walk_order<4, io::load_as_double<float, false>>(to, axes, read);
        if constexpr (std::is_same_v<To, PointSelection>) {
            if (!to.complete) return;
        }
        char extra;
        if (in_.read(&extra, 1) != 0) {
            fail(formatted(
                "The plt file holds more bytes after its %llu values: its header disagrees with the data",
                static_cast<unsigned long long>(count())));
        }
    }

    std::uint64_t count() const {
        return std::uint64_t{static_cast<std::uint32_t>(h_.n[0])} * static_cast<std::uint32_t>(h_.n[1]) *
               static_cast<std::uint32_t>(h_.n[2]);
    }

    // A plain file must hold the values, and no more, before they are allocated.
    void check_size() const {
        const auto left = in_.bytes_left();
        const unsigned __int128 bytes = static_cast<unsigned __int128>(count()) * 4;
        if (!left) return;
        if (bytes > *left) {
            fail(formatted("The plt file ends after %llu of %llu values",
                           static_cast<unsigned long long>(*left / 4),
                           static_cast<unsigned long long>(count())));
        }
        if (bytes < *left) {
            fail(formatted(
                "The plt file holds %llu bytes after its %llu values: its header disagrees with the data",
                static_cast<unsigned long long>(*left - static_cast<std::uint64_t>(bytes)),
                static_cast<unsigned long long>(count())));
        }
    }

    io::BlockReader& in_;
    PltHeader h_;
    bool swap_ = false;
};

// The header reads as rank 3 with positive counts and finite bounds in one byte order.
bool detect_plt(std::string_view prefix, std::string_view) {
    if (prefix.size() < kHeaderBytes) return false;
    for (bool swap : {false, true}) {
        const PltHeader h = parse(prefix.data(), swap);
        if (!plausible(h)) continue;
        bool finite = true;
        for (int d = 0; d < 3; ++d)
            finite = finite && std::isfinite(h.min[d]) && std::isfinite(h.max[d]) && h.min[d] <= h.max[d];
        if (finite) return true;
    }
    return false;
}

std::unique_ptr<Reader> open_plt(io::BlockReader& in, int) {
    return std::make_unique<PltReader>(in);
}

}  // namespace

extern const Format plt_format = {
    "gOpenMol plt",
    "grids of gOpenMol and 3D-RISM tools: .plt, binary, either byte order",
    detect_plt,
    open_plt,
};

}  // namespace gridfmt
