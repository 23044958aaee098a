// DelPhi (and GRASP) potential maps, ".phi": a Fortran unformatted file of five records,
//
//   "now starting phimap "          20 characters
//   nxtlbl, toplbl                  labels, 10 + 60 characters
//   phi(N, N, N)                    the potential, x fastest, in kT/e: 4-byte reals (8-byte in some builds)
//   " end of phimap  "              16 characters
//   scale, midpoint(3) [, N]        4-byte reals (16 bytes, 20 with N), or 8-byte ones (32, or 36 with N)
//
// The grid is a cube of N points a side, 1/scale Å apart, centred on the midpoint: point (i, j, k), from 1,
// lies at midpoint + (i - (N+1)/2) / scale along x, and so on along y and z. N is not in the header of
// the classic form: it is the cube root of the values' count. The record markers may be 4 or 8 bytes, in
// either byte order; the byte order of the numbers is theirs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dx/formats/format.h"
#include "dx/formats/fortran_records.h"
#include "dx/formats/walk_order.h"
#include "dx/io/bytes.h"

namespace gridfmt {

namespace {

constexpr const char* kName = "DelPhi phi";
constexpr std::size_t kTitleBytes = 20;

// The points a side of a cube of `count` values, or 0 when `count` is no cube.
std::uint64_t cube_side(std::uint64_t count) {
    auto n = static_cast<std::uint64_t>(std::llround(std::cbrt(static_cast<double>(count))));
    for (std::uint64_t m = n > 0 ? n - 1 : 0; m <= n + 1; ++m) {
        if (m * m * m == count) return m;
    }
    return 0;
}

class DelphiReader final : public Reader {
  public:
    explicit DelphiReader(io::BlockReader& in) : records_(in, kName) {}

    Geometry read_header() override {
        records_.open_first(kTitleBytes, "the title \"now starting phimap\"");
        char title[kTitleBytes];
        records_.read(title, kTitleBytes);
        records_.close();
        skip_record("the labels");
        read_phi();
        skip_record("the closing label \" end of phimap\"");
        return geometry(read_trailer());
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        if (values.size() != side_ * side_ * side_)
            fail("The grid's values do not match the DelPhi map's size");
        if (raw_ == nullptr) fail("The DelPhi map's values were read for a window only");
        read_into(values);
        return static_cast<long>(values.size());
    }

    bool selects() const override { return true; }
    void offer_selection(PointSelection& selection) override { offered_ = &selection; }
    void read_selection(PointSelection& selection) override {
        if (&selection == offered_ && raw_ == nullptr) return;  // selected as the header was read
        read_into(selection);
    }

  private:
    // The values, from the potential's record kept in memory, into a whole grid (a span) or a selection.
    template <typename To>
    void read_into(To& to) {
        std::size_t at = 0;
        move_values(to, [&](char* dst, std::size_t count) {
            std::memcpy(dst, raw_.get() + at, count * value_bytes_);
            at += count * value_bytes_;
        });
        raw_.reset();
    }

    template <typename To, typename Read>
    void move_values(To& to, Read&& read) {
        const FileAxes axes = x_fastest(side_, side_, side_);
        const bool swap = records_.layout().swap;
        if (value_bytes_ == 4) {
            swap ? move_to_walk_order<4, io::load_as_double<float, true>>(to, axes, read)
                 : move_to_walk_order<4, io::load_as_double<float, false>>(to, axes, read);
        } else {
            swap ? move_to_walk_order<8, io::load_as_double<double, true>>(to, axes, read)
                 : move_to_walk_order<8, io::load_as_double<double, false>>(to, axes, read);
        }
    }

    // The potential's record passed through into the offered selection; past the selection's limit, the
    // rest of it is passed over.
    void select_passing(std::uint64_t length) {
        std::uint64_t done = 0;
        move_values(*offered_, [&](char* dst, std::size_t count) {
            records_.read(dst, count * value_bytes_);
            done += count * value_bytes_;
        });
        std::vector<char> scratch(1 << 16);
        while (done < length) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, scratch.size()));
            records_.read(scratch.data(), n);
            done += n;
        }
    }
    struct Trailer {
        double scale = 0.0;
        std::array<double, 3> mid{};
        std::size_t bytes = 0;
    };

    void skip_record(const std::string& what) {
        const std::uint64_t length = records_.open(what);
        std::vector<char> scratch(4096);
        for (std::uint64_t left = length; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, scratch.size()));
            records_.read(scratch.data(), n);
            left -= n;
        }
        records_.close();
    }

    // The potential's record, kept as the file's bytes until the trailer has placed the grid.
    void read_phi() {
        const std::uint64_t length = records_.open("the potential");
        for (std::size_t bytes : {4u, 8u}) {
            if (length % bytes != 0) continue;
            const std::uint64_t side = cube_side(length / bytes);
            if (side >= 1 && side <= 2147483647u) {
                side_ = static_cast<std::size_t>(side);
                value_bytes_ = bytes;
                break;
            }
        }
        if (side_ == 0) {
            fail(formatted(
                "The DelPhi map's potential record holds %llu bytes: no cube of 4- or 8-byte values",
                static_cast<unsigned long long>(length)));
        }
        // The values are read before the grid is placed, into a buffer of the file's size: a header that
        // claims more than the file holds is refused before it is allocated.
        const auto left = records_.bytes_left();
        if (left && *left < length) {
            fail(formatted("The DelPhi map ends after %llu of its %llu values",
                           static_cast<unsigned long long>(*left / value_bytes_),
                           static_cast<unsigned long long>(length / value_bytes_)));
        }
        if (offered_ != nullptr && left) {
            select_passing(length);
            records_.close();
            return;
        }
        // Read into memory that is not cleared first (every byte is read into before it is used). From a
        // stream of unknown size the buffer grows as the bytes arrive, so that a length the file does not
        // hold takes no more memory than the file does.
        constexpr std::uint64_t kFirst = std::uint64_t{1} << 24;
        std::uint64_t room = left ? length : std::min(length, kFirst);
        raw_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(room));
        for (std::uint64_t done = 0; done < length;) {
            if (done == room) {
                const std::uint64_t more = std::min(length, 2 * room);
                auto grown = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(more));
                std::memcpy(grown.get(), raw_.get(), static_cast<std::size_t>(done));
                raw_ = std::move(grown);
                room = more;
            }
            const std::uint64_t n = room - done;
            records_.read(raw_.get() + done, static_cast<std::size_t>(n));
            done += n;
        }
        records_.close();
    }

    Trailer read_trailer() {
        Trailer t;
        t.bytes = static_cast<std::size_t>(records_.open("the scale and midpoint"));
        const bool swap = records_.layout().swap;
        char b[36];
        if (t.bytes != 16 && t.bytes != 20 && t.bytes != 32 && t.bytes != 36) {
            fail(formatted(
                "The DelPhi map's last record holds %zu bytes: the scale and midpoint take 16 or 32 "
                "(20 or 36 with the grid size)",
                t.bytes));
        }
        records_.read(b, t.bytes);
        records_.close();
        const bool doubles = t.bytes >= 32;
        for (int n = 0; n < 4; ++n) {
            const double v = doubles ? io::load<double>(b + 8 * n, swap) : io::load<float>(b + 4 * n, swap);
            (n == 0 ? t.scale : t.mid[n - 1]) = v;
        }
        if (t.bytes == 20 || t.bytes == 36) {
            const std::int32_t n = io::load<std::int32_t>(b + (doubles ? 32 : 16), swap);
            if (static_cast<std::uint64_t>(n) != side_ || n < 0) {
                fail(formatted("The DelPhi map gives the grid size %d, but its potential holds %zu^3 values",
                               n, side_));
            }
        }
        if (!records_.at_end()) fail("The DelPhi map holds more records after its scale and midpoint");
        return t;
    }

    Geometry geometry(const Trailer& t) {
        if (!(t.scale > 0.0) || !std::isfinite(t.scale))
            fail(formatted("The DelPhi map's scale is %g grid points per Å; it must be positive", t.scale));
        Geometry g;
        g.nx = g.ny = g.nz = static_cast<int>(side_);
        const double step = 1.0 / t.scale;
        const double half = (static_cast<double>(side_) - 1.0) / 2.0;
        for (int d = 0; d < 3; ++d) {
            if (!std::isfinite(t.mid[d])) fail("The DelPhi map's midpoint is not finite");
            g.axes[d][d] = step;
            g.origin[d] = t.mid[d] - half * step;
        }
        check_reach(g, "DelPhi map's");
        g.description = formatted("%s, %s values, %s-precision trailer, %s", kName,
                                  value_bytes_ == 4 ? "float32" : "float64",
                                  t.bytes >= 32 ? "double" : "single", records_.layout().text().c_str());
        return g;
    }

    FortranRecords records_;
    std::size_t side_ = 0;
    std::size_t value_bytes_ = 0;
    std::unique_ptr<char[]> raw_;  // the potential's bytes as the file holds them
    PointSelection* offered_ = nullptr;
};

// The first record is the 20-character title, in one of the four record layouts, and says "phimap" (the
// classic "now starting phimap "); or it is 20 printable characters in a file named .phi.
std::optional<RecordLayout> delphi_layout(std::string_view prefix, std::string_view name) {
    const auto layout = layout_of_first_record(prefix, kTitleBytes);
    if (!layout) return std::nullopt;
    std::string title(prefix.substr(static_cast<std::size_t>(layout->marker_bytes), kTitleBytes));
    for (char& c : title) {
        if (c < ' ' || c > '~') return std::nullopt;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (title.find("phimap") != std::string::npos || name.ends_with(".phi")) return layout;
    return std::nullopt;
}

bool detect_delphi(std::string_view prefix, std::string_view name) {
    return delphi_layout(prefix, name).has_value();
}

std::unique_ptr<Reader> open_delphi(io::BlockReader& in, int) {
    return std::make_unique<DelphiReader>(in);
}

}  // namespace

extern const Format delphi_format = {
    kName,
    "electrostatic potentials written by DelPhi and GRASP: .phi",
    detect_delphi,
    open_delphi,
};

}  // namespace gridfmt
