// O's density maps, in both forms: DSN6 (a binary header) and BRIX (a text header). Each holds a
// 512-byte header and then the map in bricks of 8 x 8 x 8 bytes, x fastest within a brick; the bricks
// run x fastest, then y, then z. A brick at the far edge of the map along an axis is only partly the
// map's: its bytes past the map's extent are padding. A byte b stands for the value (b - plus) / prod.
//
// DSN6: 256 16-bit words, big-endian (little-endian ones are read too, told by word 19, always 100):
//   words 1-3   start indices along a, b, c       words 4-6   extents (points along a, b, c)
//   words 7-9   sampling of the cell              words 10-15 cell lengths and angles, times word 18
//   word 16     prod, times word 19               word 17     plus
// and its bricks hold the bytes in swapped pairs (written as 16-bit words on a little-endian machine,
// as every DSN6 writer and reader found does).
//
// BRIX: a text header, ":-) origin x y z extent nx ny nz grid gx gy gz cell a b c alpha beta gamma
// prod p plus q sigma s", the bytes in order.
//
// The grid lies in the cell as CCP4/MRC maps do (cell.h).
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dx/formats/cell.h"
#include "dx/formats/format.h"
#include "dx/io/bytes.h"
#include "dx/io/words.h"

namespace gridfmt {

namespace {

constexpr std::size_t kHeaderBytes = 512;
constexpr std::size_t kBrick = 8;
constexpr std::size_t kBrickBytes = kBrick * kBrick * kBrick;

struct OHeader {
    CellGrid cell;
    long extent[3] = {0, 0, 0};
    double prod = 0.0;
    double plus = 0.0;
    bool brix = false;
    bool swapped_pairs = false;
    std::string description;
};

std::int16_t word(std::string_view bytes, int w, bool swap) {
    return io::load<std::int16_t>(bytes.data() + 2 * w, swap);
}

// The byte order in which DSN6 word 19 is 100, if any.
std::optional<bool> dsn6_swap(std::string_view bytes) {
    if (bytes.size() < 38) return std::nullopt;
    for (bool swap : {io::swap_big_endian, !io::swap_big_endian}) {
        if (word(bytes, 18, swap) == 100) return swap;
    }
    return std::nullopt;
}

OHeader parse_dsn6(std::string_view bytes, bool swap) {
    OHeader h;
    const double cell_scale = word(bytes, 17, swap);
    if (!(cell_scale > 0))
        fail(formatted("The DSN6 header gives the cell scale (word 18) %g; it must be positive", cell_scale));
    for (int d = 0; d < 3; ++d) {
        h.cell.start[d] = word(bytes, d, swap);
        h.extent[d] = word(bytes, 3 + d, swap);
        h.cell.sampling[d] = word(bytes, 6 + d, swap);
        h.cell.lengths[d] = word(bytes, 9 + d, swap) / cell_scale;
        h.cell.angles[d] = word(bytes, 12 + d, swap) / cell_scale;
    }
    h.prod = word(bytes, 15, swap) / static_cast<double>(word(bytes, 18, swap));
    h.plus = word(bytes, 16, swap);
    h.swapped_pairs = true;
    h.description = swap == io::swap_big_endian ? "DSN6" : "DSN6, little-endian";
    return h;
}

// The BRIX header's keywords and their numbers, in any order, any case.
OHeader parse_brix(std::string_view bytes) {
    OHeader h;
    h.brix = true;
    h.description = "BRIX";
    std::string_view rest = bytes.substr(0, std::min(bytes.size(), kHeaderBytes));
    textwords::next_word(rest);  // ":-)"
    bool seen[6] = {};
    const char* const keys[6] = {"origin", "extent", "grid", "cell", "prod", "plus"};
    const int counts[6] = {3, 3, 3, 6, 1, 1};
    for (std::string_view w = textwords::next_word(rest); !w.empty(); w = textwords::next_word(rest)) {
        std::string key(w);
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        int k = 0;
        while (k < 6 && key != keys[k])
            ++k;
        if (k == 6) continue;  // sigma, and what other writers add
        double v[6];
        for (int n = 0; n < counts[k]; ++n) {
            const std::string_view number = textwords::next_word(rest);
            if (!textwords::real(number, v[n]))
                fail("The BRIX header's \"" + key + "\" is followed by " + textwords::quoted(number) +
                     ", not a number");
        }
        seen[k] = true;
        for (int d = 0; d < 3; ++d) {
            if (k == 0) h.cell.start[d] = std::lround(v[d]);
            if (k == 1) h.extent[d] = std::lround(v[d]);
            if (k == 2) h.cell.sampling[d] = std::lround(v[d]);
            if (k == 3) {
                h.cell.lengths[d] = v[d];
                h.cell.angles[d] = v[3 + d];
            }
        }
        if (k == 4) h.prod = v[0];
        if (k == 5) h.plus = v[0];
    }
    for (int k = 0; k < 6; ++k)
        if (!seen[k]) fail(std::string("The BRIX header gives no \"") + keys[k] + "\"");
    return h;
}

class OReader final : public Reader {
  public:
    explicit OReader(io::BlockReader& in) : in_(in) {}

    Geometry read_header() override {
        std::string bytes(kHeaderBytes, '\0');
        const std::size_t got = in_.read(bytes.data(), kHeaderBytes);
        bytes.resize(got);
        if (bytes.starts_with(":-)")) {
            h_ = parse_brix(bytes);
        } else {
            const auto swap = dsn6_swap(bytes);
            if (!swap) fail("The DSN6 header's word 19 is not 100 in either byte order");
            h_ = parse_dsn6(bytes, *swap);
        }
        const std::string name = h_.brix ? "BRIX" : "DSN6";
        if (got < kHeaderBytes)
            fail(formatted("The %s map ends inside its 512-byte header, after %zu bytes", name.c_str(), got));
        for (int d = 0; d < 3; ++d) {
            if (h_.extent[d] < 1 || h_.extent[d] > 32767) {
                fail(formatted("The %s header gives the extents %ld %ld %ld; each must be from 1 to 32767",
                               name.c_str(), h_.extent[0], h_.extent[1], h_.extent[2]));
            }
        }
        if (!(h_.prod != 0.0) || !std::isfinite(h_.prod) || !std::isfinite(h_.plus))
            fail(formatted("The %s header gives prod %g and plus %g; prod must be a number other than 0",
                           name.c_str(), h_.prod, h_.plus));
        Geometry g;
        g.nx = static_cast<int>(h_.extent[0]);
        g.ny = static_cast<int>(h_.extent[1]);
        g.nz = static_cast<int>(h_.extent[2]);
        place_in_cell(h_.cell, name, g);
        check_reach(g, name);
        g.description = h_.description;
        for (int d = 0; d < 3; ++d)
            bricks_[d] = (static_cast<std::size_t>(h_.extent[d]) + kBrick - 1) / kBrick;
        check_size(name);
        return g;
    }

    long read_values(std::span<double> values, ValueProgress*) override;
    bool selects() const override { return true; }
    void read_selection(PointSelection& selection) override { read_into(selection); }

  private:
    template <typename To>
    void read_into(To& to);
    std::uint64_t brick_count() const { return std::uint64_t{bricks_[0]} * bricks_[1] * bricks_[2]; }

    void check_size(const std::string& name) const {
        const auto left = in_.bytes_left();
        if (!left) return;
        const std::uint64_t need = brick_count() * kBrickBytes;
        if (*left < need) {
            fail(formatted("The %s map ends after %llu of its %llu bricks", name.c_str(),
                           static_cast<unsigned long long>(*left / kBrickBytes),
                           static_cast<unsigned long long>(brick_count())));
        }
        // O pads a file to whole 512-byte records: more than a brick's worth after the last is a mismatch.
        if (*left - need >= kBrickBytes) {
            fail(formatted(
                "The %s map holds %llu bytes after its %llu bricks: its extents disagree with the data",
                name.c_str(), static_cast<unsigned long long>(*left - need),
                static_cast<unsigned long long>(brick_count())));
        }
    }

    io::BlockReader& in_;
    OHeader h_;
    std::size_t bricks_[3] = {0, 0, 0};
};

long OReader::read_values(std::span<double> values, ValueProgress*) {
    if (values.size() != static_cast<std::size_t>(h_.extent[0]) * static_cast<std::size_t>(h_.extent[1]) *
                             static_cast<std::size_t>(h_.extent[2]))
        fail("The grid's values do not match the O map's extents");
    read_into(values);
    return static_cast<long>(values.size());
}

// Each brick's points moved to their places in walk order, in runs along z of up to 8 values; or, into a
// selection, those in its window (none to look for when no byte value lies in it) and the first line.
template <typename To>
void OReader::read_into(To& to) {
    constexpr bool selecting = std::is_same_v<To, PointSelection>;
    const std::size_t nx = static_cast<std::size_t>(h_.extent[0]),
                      ny = static_cast<std::size_t>(h_.extent[1]),
                      nz = static_cast<std::size_t>(h_.extent[2]);
    const std::string name = h_.brix ? "BRIX" : "DSN6";
    double table[256];
    bool in_window[256] = {};
    bool any_in_window = false;
    for (int b = 0; b < 256; ++b) {
        table[b] = (b - h_.plus) / h_.prod;
        if constexpr (selecting) {
            in_window[b] = to.in_window(table[b]);
            any_in_window = any_in_window || in_window[b];
        }
    }
    if constexpr (selecting) {
        to.points.clear();
        to.first_line.assign(nz, 0.0);
        to.complete = false;
    }
    // A row of bricks along x at a time: 8 lines of the map along x, 8 planes deep along y and z.
    std::vector<unsigned char> row(bricks_[0] * kBrickBytes);
    const std::size_t flip = h_.swapped_pairs ? 1 : 0;  // byte n of a brick is stored at n ^ flip
    for (std::size_t bz = 0; bz < bricks_[2]; ++bz) {
        const std::size_t z0 = bz * kBrick, wz = std::min(kBrick, nz - z0);
        for (std::size_t by = 0; by < bricks_[1]; ++by) {
            const std::size_t got = in_.read(reinterpret_cast<char*>(row.data()), row.size());
            if (got < row.size()) {
                fail(formatted(
                    "The %s map ends after %llu of its %llu bricks", name.c_str(),
                    static_cast<unsigned long long>((bz * bricks_[1] + by) * bricks_[0] + got / kBrickBytes),
                    static_cast<unsigned long long>(brick_count())));
            }
            const std::size_t y0 = by * kBrick, wy = std::min(kBrick, ny - y0);
            for (std::size_t bx = 0; bx < bricks_[0]; ++bx) {
                const std::size_t x0 = bx * kBrick, wx = std::min(kBrick, nx - x0);
                const unsigned char* brick = row.data() + bx * kBrickBytes;
                if (selecting && !any_in_window && (x0 != 0 || y0 != 0)) continue;
                for (std::size_t x = 0; x < wx; ++x) {
                    for (std::size_t y = 0; y < wy; ++y) {
                        const std::size_t column = ((x0 + x) * ny + (y0 + y)) * nz + z0;
                        for (std::size_t z = 0; z < wz; ++z) {
                            const unsigned char b = brick[((z * kBrick + y) * kBrick + x) ^ flip];
                            if constexpr (selecting) {
                                if (column < nz) to.first_line[column + z] = table[b];
                                if (in_window[b]) to.points.push_back({column + z, table[b]});
                            } else {
                                to[column + z] = table[b];
                            }
                        }
                    }
                }
            }
            if constexpr (selecting) {
                if (to.points.size() > to.limit(std::uint64_t{nx} * ny * nz)) return;
            }
        }
    }
    // Past the last brick, O's files may hold padding to a whole record, but no more.
    std::vector<char> after(kBrickBytes);
    if (in_.read(after.data(), after.size()) == after.size()) {
        fail(
            formatted("The %s map holds more bytes after its %llu bricks: its extents disagree with the data",
                      name.c_str(), static_cast<unsigned long long>(brick_count())));
    }
    if constexpr (selecting) {
        to.sort();
        to.complete = true;
    }
}

// BRIX: ":-)" first. DSN6: word 19 is 100 in one byte order and the extents, sampling, cell scale and
// cell lengths are positive in it.
bool detect_o(std::string_view prefix, std::string_view) {
    if (prefix.starts_with(":-)")) {
        std::string_view rest = prefix.substr(3, 64);
        std::string key(textwords::next_word(rest));
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return key == "origin";
    }
    const auto swap = dsn6_swap(prefix);
    if (!swap) return false;
    for (int w : {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17})
        if (word(prefix, w, *swap) <= 0) return false;
    return true;
}

std::unique_ptr<Reader> open_o(io::BlockReader& in, int) {
    return std::make_unique<OReader>(in);
}

}  // namespace

extern const Format dsn6_format = {
    "DSN6/BRIX",
    "density maps of O, MAPMAN and the crystallographic viewers: .dsn6, .omap, .brix",
    detect_o,
    open_o,
};

}  // namespace gridfmt
