// Situs maps (text), as Situs and VMD write them: a first line of seven numbers,
//
//   spacing  x0 y0 z0  nx ny nz
//
// (the voxels' spacing in Å, the position of the first voxel, the voxels along x, y, z), an empty line,
// then the nx*ny*nz values, x fastest and z slowest, ten to a line.
#include <cmath>
#include <memory>
#include <string>

#include "dx/formats/format.h"
#include "dx/formats/text_grid.h"

namespace gridfmt {

namespace {

using textwords::quoted;

struct SitusHeader {
    double spacing = 0.0;
    double origin[3] = {};
    long long n[3] = {};
};

// The seven numbers of the first line: a positive spacing, three coordinates, three positive whole counts.
bool parse_header(std::string_view line, SitusHeader& h) {
    const std::vector<std::string_view> w = textwords::words(line);
    if (w.size() != 7 || !textwords::real(w[0], h.spacing)) return false;
    for (int d = 0; d < 3; ++d) {
        if (!textwords::real(w[1 + d], h.origin[d]) || !textwords::whole(w[4 + d], h.n[d])) return false;
    }
    return h.spacing > 0.0 && h.n[0] > 0 && h.n[1] > 0 && h.n[2] > 0;
}

class SitusReader final : public Reader {
  public:
    explicit SitusReader(io::BlockReader& in) : in_(in), lines_(in, 1) {}

    Geometry read_header() override {
        std::string_view line;
        if (!in_.next(line) || !parse_header(line, h_)) {
            fail(
                "The Situs map's first line should give the spacing, the first voxel's x y z and the voxel "
                "counts "
                "nx ny nz: " +
                quoted(line));
        }
        Geometry g;
        for (int d = 0; d < 3; ++d) {
            if (h_.n[d] > 2147483647)
                fail("The Situs map's voxel counts are beyond the int range: " + quoted(line));
            if (!std::isfinite(h_.origin[d]) || !std::isfinite(h_.spacing))
                fail("The Situs map's spacing and origin must be finite: " + quoted(line));
            g.origin[d] = h_.origin[d];
            g.axes[d][d] = h_.spacing;
        }
        g.nx = static_cast<int>(h_.n[0]);
        g.ny = static_cast<int>(h_.n[1]);
        g.nz = static_cast<int>(h_.n[2]);
        check_reach(g, "Situs map's");
        g.description = "Situs, text";
        return g;
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        const std::size_t total = values.size();
        if (total != static_cast<std::uint64_t>(h_.n[0] * h_.n[1]) * static_cast<std::uint64_t>(h_.n[2]))
            fail("The grid's values do not match the Situs header");
        read_x_fastest(
            values, static_cast<int>(h_.n[0]), static_cast<int>(h_.n[1]), static_cast<int>(h_.n[2]), lines_,
            total, [](std::uint64_t) {},
            [&](std::uint64_t n) {
                double v = 0.0;
                switch (lines_.next(v)) {
                    case ValueLines::Got::number:
                        break;
                    case ValueLines::Got::end_of_line:
                        fail(formatted("The Situs map ends after %llu of %zu values",
                                       static_cast<unsigned long long>(n), total));
                    case ValueLines::Got::other:
                        fail(formatted("Value %llu of %zu in the Situs map (line %ld) is not a number: %s",
                                       static_cast<unsigned long long>(n + 1), total, lines_.line_number(),
                                       lines_.word().c_str()));
                }
                return v;
            });
        double v = 0.0;
        if (lines_.next(v) != ValueLines::Got::end_of_line) {
            fail(formatted("The Situs map holds more than the %zu values its header gives: line %ld holds %s",
                           total, lines_.line_number(), quoted(lines_.line()).c_str()));
        }
        return static_cast<long>(total);
    }

  private:
    io::BlockReader& in_;
    ValueLines lines_;
    SitusHeader h_;
};

// The first line is the header, and every line after it in the first bytes holds numbers only (ten to a
// line as Situs writes them; at most 16, so that no header line of voxmol's own format follows).
bool detect_situs(std::string_view prefix, std::string_view) {
    PrefixLines lines(prefix);
    std::string_view line;
    SitusHeader h;
    if (!lines.next(line) || !parse_header(line, h)) return false;
    while (lines.next(line)) {
        double numbers[16];
        std::size_t count = 0;
        const bool last = lines.rest().empty();  // perhaps cut short by the prefix's end
        if (!line_numbers(line, numbers, count) && !last) return false;
    }
    return true;
}

std::unique_ptr<Reader> open_situs(io::BlockReader& in, int) {
    return std::make_unique<SitusReader>(in);
}

}  // namespace

extern const Format situs_format = {
    "Situs",
    "electron microscopy maps of Situs and VMD: .situs, .sit, text",
    detect_situs,
    open_situs,
};

}  // namespace gridfmt
