// UHBD grids, in both forms: the binary one UHBD writes (Fortran unformatted records) and the text one
// APBS writes ("write pot uhbd"). Both hold the same header and the values plane by plane along z, x
// fastest within a plane:
//
//   title (72 characters)
//   scale, dum2 (reals); grdflg, idum2, km, one, km (integers)
//   im, jm, km (integers); h, ox, oy, oz (reals)
//   dum3 ... dum6 (reals)
//   dum7, dum8 (reals); idum3, idum4 (integers)          the binary form: all this one 160-byte record
//   for each plane: k, im, jm (integers), then its im*jm values (reals, six to a line in the text form)
//
// The grid has im x jm x km points h Å apart. UHBD numbers its points from 1, point (i, j, k) lying at
// (ox + i*h, oy + j*h, oz + k*h): the first point is one step past (ox, oy, oz), as APBS writes it (the
// origin of its DX file of the same solve, less h) and as UHBD defines it. (VMD places the grid at
// (ox, oy, oz), a step off.) The values are read as stored; a scale other than 1 is reported.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "dx/formats/format.h"
#include "dx/formats/fortran_records.h"
#include "dx/formats/rewound.h"
#include "dx/formats/text_grid.h"
#include "dx/formats/walk_order.h"
#include "dx/io/bytes.h"
#include "dx/io/words.h"

namespace gridfmt {

namespace {

constexpr std::size_t kHeaderBytes = 160;

struct UhbdHeader {
    double scale = 1.0;
    long long n[3] = {0, 0, 0};
    double h = 0.0;
    double o[3] = {0.0, 0.0, 0.0};
};

// The binary header record: offsets in bytes of the fields read.
UhbdHeader parse_binary(const char* p, bool swap) {
    UhbdHeader u;
    u.scale = io::load<float>(p + 72, swap);
    for (int d = 0; d < 3; ++d) {
        u.n[d] = io::load<std::int32_t>(p + 100 + 4 * d, swap);
        u.o[d] = io::load<float>(p + 116 + 4 * d, swap);
    }
    u.h = io::load<float>(p + 112, swap);
    return u;
}

// The geometry both forms share, once the header is checked.
Geometry geometry_of(const UhbdHeader& u, std::string description) {
    for (long long n : u.n) {
        if (n < 1 || n > 2147483647) {
            fail(formatted(
                "The UHBD grid's header gives %lld x %lld x %lld points; each count must be from 1 to "
                "2147483647",
                u.n[0], u.n[1], u.n[2]));
        }
    }
    const auto points = product3(static_cast<std::uint64_t>(u.n[0]), static_cast<std::uint64_t>(u.n[1]),
                                 static_cast<std::uint64_t>(u.n[2]));
    if (!points || *points > (std::uint64_t{1} << 60)) {
        fail(formatted("The UHBD grid's header gives %lld x %lld x %lld points, more than any file holds",
                       u.n[0], u.n[1], u.n[2]));
    }
    if (!(u.h > 0.0) || !std::isfinite(u.h))
        fail(formatted("The UHBD grid's spacing h is %g; it must be positive", u.h));
    Geometry g;
    g.nx = static_cast<int>(u.n[0]);
    g.ny = static_cast<int>(u.n[1]);
    g.nz = static_cast<int>(u.n[2]);
    for (int d = 0; d < 3; ++d) {
        if (!std::isfinite(u.o[d])) fail("The UHBD grid's origin is not finite");
        g.origin[d] = u.o[d] + u.h;
        g.axes[d][d] = u.h;
    }
    if (u.scale != 1.0)
        g.warnings.push_back(
            formatted("The UHBD grid gives the scale %g; its values are read as stored", u.scale));
    check_reach(g, "UHBD grid's");
    g.description = std::move(description);
    return g;
}

// The binary form.
class BinaryUhbdReader final : public Reader {
  public:
    explicit BinaryUhbdReader(io::BlockReader& in) : records_(in, "UHBD") {}

    Geometry read_header() override {
        records_.open_first(kHeaderBytes, "the 160-byte header");
        char b[kHeaderBytes];
        records_.read(b, kHeaderBytes);
        records_.close();
        u_ = parse_binary(b, records_.layout().swap);
        return geometry_of(u_, "UHBD, binary, " + records_.layout().text());
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        const std::uint64_t total = values.size();
        if (total != static_cast<std::uint64_t>(u_.n[0] * u_.n[1]) * static_cast<std::uint64_t>(u_.n[2]))
            fail("The grid's values do not match the UHBD header");
        read_into(values);
        return static_cast<long>(total);
    }

    bool selects() const override { return true; }
    void read_selection(PointSelection& selection) override { read_into(selection); }

  private:
    // The values into a whole grid (a span) or a selection, checked alike.
    template <typename To>
    void read_into(To& to) {
        // Each plane's values are read from its record straight where they are wanted; the record is
        // closed (its closing marker checked) when the next one is opened, and after the last.
        const auto plane = static_cast<std::uint64_t>(u_.n[0] * u_.n[1]) * 4;  // bytes
        long long k = 0;
        std::uint64_t in_plane = plane;  // bytes of the current plane handed out
        auto read = [&](char* dst, std::size_t n) {
            for (std::size_t bytes = n * 4; bytes > 0;) {
                if (in_plane == plane) {
                    if (k > 0) records_.close();
                    open_plane(++k, plane);
                    in_plane = 0;
                }
                const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, plane - in_plane));
                records_.read(dst, take);
                dst += take;
                in_plane += take;
                bytes -= take;
            }
        };
        const FileAxes axes = x_fastest(u_.n[0], u_.n[1], u_.n[2]);
        records_.layout().swap ? move_to_walk_order<4, io::load_as_double<float, true>>(to, axes, read)
                               : move_to_walk_order<4, io::load_as_double<float, false>>(to, axes, read);
        if constexpr (std::is_same_v<To, PointSelection>) {
            if (!to.complete) return;
        }
        if (k > 0) records_.close();
        if (!records_.at_end()) {
            fail(formatted(
                "The UHBD grid holds more records after its %lld planes: its header disagrees with the data",
                u_.n[2]));
        }
    }
    // Plane k (from 1): its record of k, im, jm, read and checked; then its values' record, opened.
    void open_plane(long long k, std::uint64_t bytes) {
        const std::string what = "plane " + std::to_string(k) + " of " + std::to_string(u_.n[2]);
        records_.open_exactly(12, "the header of " + what);
        char b[12];
        records_.read(b, 12);
        records_.close();
        const bool swap = records_.layout().swap;
        const std::int32_t kk = io::load<std::int32_t>(b, swap), im = io::load<std::int32_t>(b + 4, swap),
                           jm = io::load<std::int32_t>(b + 8, swap);
        if (kk != k || im != u_.n[0] || jm != u_.n[1]) {
            fail(formatted("The UHBD grid's %s is headed %d %d %d, not %lld %lld %lld (plane, im, jm)",
                           what.c_str(), kk, im, jm, k, u_.n[0], u_.n[1]));
        }
        records_.open_exactly(bytes, "the values of " + what);
    }

    FortranRecords records_;
    UhbdHeader u_;
};

// The text form's header lines, as numbers: the fields are Fortran's fixed ones (E12.5 and I7), read as
// numbers that may touch.
bool header_numbers(std::string_view line, std::size_t want, std::span<double> out) {
    std::size_t count = 0;
    return line_numbers(line, out.first(want), count) && count == want;
}

bool whole_number(double v) {
    return v == std::floor(v) && std::fabs(v) < 2147483648.0;
}

// Lines 2 to 6 of the text form, read into a header: false when their shape is not the format's.
bool parse_text_header(const std::string_view (&lines)[5], UhbdHeader& u) {
    double l2[7], l3[7], l4[4], l5[4], l6[3];
    if (!header_numbers(lines[0], 7, l2) || !header_numbers(lines[1], 7, l3) ||
        !header_numbers(lines[2], 4, l4) || !header_numbers(lines[3], 4, l5) ||
        !header_numbers(lines[4], 3, l6))
        return false;
    for (int f = 2; f < 7; ++f)
        if (!whole_number(l2[f])) return false;
    for (int f = 0; f < 3; ++f)
        if (!whole_number(l3[f]) || !whole_number(l6[f])) return false;
    if (!whole_number(l5[2]) || !whole_number(l5[3])) return false;
    u.scale = l2[0];
    for (int d = 0; d < 3; ++d) {
        u.n[d] = static_cast<long long>(l3[d]);
        u.o[d] = l3[4 + d];
    }
    u.h = l3[3];
    return true;
}

// The text form.
class TextUhbdReader final : public Reader {
  public:
    explicit TextUhbdReader(io::BlockReader& in) : in_(in), lines_(in, 6, 13) {}  // 6(1X,E12.5)

    Geometry read_header() override {
        std::string held[5];
        std::string_view view;
        if (!in_.next(view)) fail("The UHBD grid is empty");
        for (int l = 0; l < 5; ++l) {
            if (!in_.next(view))
                fail("The UHBD grid ends inside its header, after line " + std::to_string(l + 1));
            held[l].assign(view);
        }
        const std::string_view lines[5] = {held[0], held[1], held[2], held[3], held[4]};
        if (!parse_text_header(lines, u_)) {
            fail(
                "The UHBD grid's header lines 2 to 5 are not the format's numbers (scale ... one km; im jm "
                "km h ox "
                "oy oz; four reals; two reals and two integers)");
        }
        // Line 6 is the first plane's header, read again by the values' loop.
        first_plane_ = held[4];
        return geometry_of(u_, "UHBD, text");
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        const std::uint64_t per_plane = static_cast<std::uint64_t>(u_.n[0] * u_.n[1]);
        if (values.size() != per_plane * static_cast<std::uint64_t>(u_.n[2]))
            fail("The grid's values do not match the UHBD header");
        read_x_fastest(
            values, static_cast<int>(u_.n[0]), static_cast<int>(u_.n[1]), static_cast<int>(u_.n[2]), lines_,
            per_plane, [&](std::uint64_t k) { plane_header(static_cast<long long>(k) + 1); },
            [&](std::uint64_t n) { return next_value_slow(n, values.size()); });
        double v = 0.0;
        if (lines_.next_on_line(v) != ValueLines::Got::end_of_line) too_many(values.size());
        while (lines_.next_line()) {
            if (!blank(lines_.line())) too_many(values.size());
        }
        return static_cast<long>(values.size());
    }

  private:
    [[noreturn]] void too_many(std::size_t total) {
        fail(formatted("The UHBD grid holds more than the %zu values its header gives: line %ld holds %s",
                       total, lines_.line_number(), textwords::quoted(lines_.line()).c_str()));
    }

    // "k im jm" before plane k's values; the first one was line 6 of the header.
    void plane_header(long long k) {
        std::string_view line = first_plane_;
        long number = 6;
        if (k > 1) {
            double v = 0.0;
            if (lines_.next_on_line(v) != ValueLines::Got::end_of_line) {
                fail(formatted("The UHBD grid's plane %lld holds more than its %lld values (line %ld)", k - 1,
                               u_.n[0] * u_.n[1], lines_.line_number()));
            }
            do {
                if (!lines_.next_line()) {
                    fail(formatted("The UHBD grid ends after %lld of its %lld planes", k - 1, u_.n[2]));
                }
            } while (blank(lines_.line()));
            line = lines_.line();
            number = lines_.line_number();
        }
        double f[3];
        const bool ok = header_numbers(line, 3, f) && f[0] == static_cast<double>(k) &&
                        f[1] == static_cast<double>(u_.n[0]) && f[2] == static_cast<double>(u_.n[1]);
        if (!ok) {
            fail(formatted("Line %ld of the UHBD grid should head plane %lld with \"%lld %lld %lld\": %s",
                           number, k, k, u_.n[0], u_.n[1], textwords::quoted(line).c_str()));
        }
        if (k > 1) lines_.skip_line_rest();
    }

    double next_value_slow(std::uint64_t n, std::size_t total) {
        double v = 0.0;
        for (;;) {
            const ValueLines::Got got = lines_.next_on_line(v);
            if (got == ValueLines::Got::number) return v;
            if (got == ValueLines::Got::other) {
                fail(formatted("Value %llu of %zu in the UHBD grid (line %ld) is not a number: %s",
                               static_cast<unsigned long long>(n + 1), total, lines_.line_number(),
                               lines_.word().c_str()));
            }
            if (!lines_.next_line()) {
                fail(formatted("The UHBD grid ends after %llu of %zu values",
                               static_cast<unsigned long long>(n), total));
            }
        }
    }

    io::BlockReader& in_;
    ValueLines lines_;
    UhbdHeader u_;
    std::string first_plane_;
};

// A binary header record of 160 bytes with three positive counts (the reader judges the rest).
bool detect_binary(std::string_view prefix) {
    const auto layout = layout_of_first_record(prefix, kHeaderBytes);
    if (!layout) return false;
    const UhbdHeader u = parse_binary(prefix.data() + layout->marker_bytes, layout->swap);
    return u.n[0] > 0 && u.n[1] > 0 && u.n[2] > 0;
}

// Lines 2 to 6 of the text form have its shape, and no line after them holds a header of voxmol's own.
bool detect_text(std::string_view prefix) {
    PrefixLines lines(prefix);
    std::string_view title, l[5];
    if (!lines.next(title)) return false;
    for (auto& line : l)
        if (!lines.next(line)) return false;
    UhbdHeader u;
    return parse_text_header(l, u) && !holds_native_header_line(lines.rest());
}

bool detect_uhbd(std::string_view prefix, std::string_view) {
    return detect_binary(prefix) || detect_text(prefix);
}

// The form is told by the first bytes, as the detector tells it; the form's reader then reads the
// stream from its start.
class UhbdReader final : public Reader {
  public:
    explicit UhbdReader(io::BlockReader& in) : rewound_(in, kHeaderBytes + 16), block_(rewound_) {}
    Geometry read_header() override {
        if (detect_binary(rewound_.first())) {
            form_ = std::make_unique<BinaryUhbdReader>(block_);
        } else {
            form_ = std::make_unique<TextUhbdReader>(block_);
        }
        return form_->read_header();
    }
    long read_values(std::span<double> values, ValueProgress* progress) override {
        return form_->read_values(values, progress);
    }
    bool selects() const override { return form_ && form_->selects(); }
    void read_selection(PointSelection& selection) override { form_->read_selection(selection); }

  private:
    Rewound rewound_;
    io::BlockReader block_;
    std::unique_ptr<Reader> form_;
};

std::unique_ptr<Reader> open_uhbd(io::BlockReader& in, int) {
    return std::make_unique<UhbdReader>(in);
}

}  // namespace

extern const Format uhbd_format = {
    "UHBD",
    "electrostatic grids of UHBD (binary) and APBS (text, \"write pot uhbd\"): .grd, .uhbd",
    detect_uhbd,
    open_uhbd,
};

}  // namespace gridfmt
