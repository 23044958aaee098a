// Gaussian cube files: two comment lines; the atom count and the origin (and, optionally, the number of
// values per point); three lines of a point count and a step vector each; one line per atom; then the
// values, any number to a line, the third axis fastest (the walk order). Positive point counts give
// the origin and the steps in Bohr, negative ones in Ångström. A negative atom count marks the orbital
// form: a list of orbital numbers follows the atoms and every point holds one value per orbital.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/io/words.h"

namespace gridfmt {

namespace {

constexpr double kBohr = 0.529177210903;  // Ångström per Bohr (CODATA 2018)
constexpr long long kIntMax = 2147483647;

using textwords::quoted;

// A header line of a whole number and a vector (x y z): the atom count and the origin on line 3 (with
// an optional whole number after them, the values per point), a point count and a step on lines 4-6.
struct CountLine {
    long long count = 0;
    std::array<double, 3> v{};
    bool has_extra = false;
    long long extra = 0;
};

// What may follow the count and the vector: nothing, one whole number (line 3), or anything (as the
// detector reads lines 4 to 6, whose rest the reader judges and names).
enum class After { nothing, extra, anything };

bool parse_count_line(std::string_view line, After after, CountLine& out) {
    const std::vector<std::string_view> w = textwords::words(line);
    if (w.size() < 4) return false;
    if (w.size() > 4 && !(after == After::anything || (after == After::extra && w.size() == 5))) return false;
    if (!textwords::whole(w[0], out.count)) return false;
    for (int d = 0; d < 3; ++d) {
        if (!textwords::real(w[d + 1], out.v[d])) return false;
    }
    out.has_extra = after == After::extra && w.size() == 5;
    return !out.has_extra || textwords::whole(w[4], out.extra);
}

bool finite(const std::array<double, 3>& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

const char* const kAxisName[3] = {"first", "second", "third"};

class CubeReader final : public Reader {
  public:
    explicit CubeReader(io::BlockReader& in) : in_(in) {}

    Geometry read_header() override {
        Geometry g;
        header_line("its first comment line");
        header_line("its second comment line");
        const CountLine top = origin_line();
        CountLine axis[3];
        for (int d = 0; d < 3; ++d)
            axis[d] = axis_line(d);
        const bool bohr = units_of(axis);
        const double scale = bohr ? kBohr : 1.0;
        for (int d = 0; d < 3; ++d) {
            g.origin[d] = top.v[d] * scale;
            for (int e = 0; e < 3; ++e)
                g.axes[d][e] = axis[d].v[e] * scale;
        }
        g.nx = static_cast<int>(std::llabs(axis[0].count));
        g.ny = static_cast<int>(std::llabs(axis[1].count));
        g.nz = static_cast<int>(std::llabs(axis[2].count));
        check_extent(g);
        g.description = bohr ? "Gaussian cube, Bohr" : "Gaussian cube, Ångström";
        skip_atoms(std::llabs(top.count));
        if (top.count < 0) read_orbitals(g);
        if (top.has_extra) values_per_point(top.extra, top.count < 0, g);
        return g;
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        std::uint64_t total = 0;
        if (__builtin_mul_overflow(static_cast<std::uint64_t>(values.size()), per_point_, &total)) {
            fail("The cube file's header gives more values (" + std::to_string(values.size()) + " points, " +
                 std::to_string(per_point_) + " values each) than any file holds");
        }
        textwords::Numbers numbers(in_, std::string(), line_);
        std::uint64_t n = 0;  // values read so far
        double v = 0.0;
        for (double& point : values) {
            for (std::uint64_t r = 0; r < per_point_; ++r, ++n) {
                next_value(numbers, v, n, total);
                if (r == 0) point = v;
            }
        }
        const textwords::Numbers::Got after = numbers.next(v);
        if (after != textwords::Numbers::Got::end) {
            const std::string word =
                after == textwords::Numbers::Got::number ? "a value" : quoted(numbers.word());
            fail("The cube file holds more than the " + std::to_string(total) + " values its header gives" +
                 per_point_text() + ": line " + std::to_string(numbers.line()) + " holds " + word);
        }
        return static_cast<long>(values.size());
    }

  private:
    // The next line of the header; the end of the file there is fatal.
    std::string_view header_line(const char* what) {
        std::string_view line;
        if (!in_.next(line)) {
            fail("The cube file ends before " + std::string(what) + " (line " + std::to_string(line_ + 1) +
                 ")");
        }
        ++line_;
        return line;
    }

    CountLine origin_line() {
        const std::string_view line = header_line("its atom count and origin");
        CountLine top;
        if (!parse_count_line(line, After::extra, top)) {
            fail(
                "Line 3 of the cube file should hold the atom count and the origin x y z (and, optionally, "
                "the values per point): " +
                quoted(line));
        }
        if (top.count > kIntMax || top.count < -kIntMax)
            fail("The cube file's atom count " + std::to_string(top.count) + " is beyond the int range");
        if (!finite(top.v)) fail("The cube file's origin is not finite: " + quoted(line));
        return top;
    }

    CountLine axis_line(int d) {
        const std::string what = "its " + std::string(kAxisName[d]) + " axis";
        const std::string_view line = header_line(what.c_str());
        const std::string where = "Line " + std::to_string(line_) + " of the cube file";
        CountLine axis;
        if (!parse_count_line(line, After::nothing, axis))
            fail(where + " should hold a point count and a step vector (n x y z): " + quoted(line));
        if (axis.count == 0)
            fail("The cube file gives 0 points along its " + std::string(kAxisName[d]) + " axis");
        if (axis.count > kIntMax || axis.count < -kIntMax) {
            fail("The cube file's point count " + std::to_string(axis.count) + " along its " + kAxisName[d] +
                 " axis is beyond the int range");
        }
        if (!finite(axis.v)) fail(where + " gives a step vector that is not finite: " + quoted(line));
        return axis;
    }

    // Positive counts mean Bohr, negative ones Ångström; counts of both signs leave the units unclear.
    static bool units_of(const CountLine (&axis)[3]) {
        const bool bohr = axis[0].count > 0;
        if ((axis[1].count > 0) != bohr || (axis[2].count > 0) != bohr) {
            fail("The cube file's point counts " + std::to_string(axis[0].count) + ", " +
                 std::to_string(axis[1].count) + " and " + std::to_string(axis[2].count) +
                 " differ in sign: whether it is in Bohr or in Ångström is unclear");
        }
        return bohr;
    }

    // Every point the run places must have numbers for coordinates: the steps to the last point along
    // each axis, and the corner they reach, must not overflow.
    static void check_extent(const Geometry& g) {
        const double last[3] = {g.nx - 1.0, g.ny - 1.0, g.nz - 1.0};
        for (int e = 0; e < 3; ++e) {
            double corner = g.origin[e];
            for (int d = 0; d < 3; ++d)
                corner += last[d] * g.axes[d][e];  // an infinite step makes the sum infinite or NaN
            if (!std::isfinite(corner)) fail("The cube file's grid reaches beyond the range of numbers");
        }
    }

    // The atom lines are not part of the grid, but each must hold its five numbers (atomic number,
    // charge, x, y, z): an atom count that disagrees with the file would shift every value.
    void skip_atoms(long long atoms) {
        for (long long a = 0; a < atoms; ++a) {
            std::string_view line;
            if (!in_.next(line)) {
                fail("The cube file ends after " + std::to_string(a) + " of its " + std::to_string(atoms) +
                     " atom lines");
            }
            ++line_;
            const std::vector<std::string_view> w = textwords::words(line);
            double v = 0.0;
            bool ok = w.size() == 5;
            for (std::size_t i = 0; ok && i < w.size(); ++i)
                ok = textwords::real(w[i], v);
            if (!ok) {
                fail("Atom line " + std::to_string(a + 1) + " of " + std::to_string(atoms) + " (line " +
                     std::to_string(line_) + ") of the cube file should hold 5 numbers: " + quoted(line));
            }
        }
    }

    // The orbital list: the number of orbitals, then their numbers, on as many lines as the writer
    // took (ten to a line is common). Only the first orbital's values are kept.
    void read_orbitals(Geometry& g) {
        long long count = -1;  // not read yet
        long long first = 0;
        long long listed = 0;
        while (count < 0 || listed < count) {
            std::string_view line;
            if (!in_.next(line)) {
                fail(count < 0 ? std::string("The cube file ends before its orbital list")
                               : "The cube file ends after " + std::to_string(listed) + " of its " +
                                     std::to_string(count) + " orbital numbers");
            }
            ++line_;
            for (const std::string_view word : textwords::words(line)) {
                long long n = 0;
                if (!textwords::whole(word, n)) {
                    fail("The cube file's orbital list (line " + std::to_string(line_) +
                         ") holds something other than a whole number: " + quoted(word));
                }
                if (count < 0) {
                    if (n < 1 || n > kIntMax)
                        fail("The cube file's orbital list gives " + std::to_string(n) + " orbitals");
                    count = n;
                } else if (listed == count) {
                    fail("The cube file's orbital list (line " + std::to_string(line_) +
                         ") holds more than the " + std::to_string(count) + " orbital numbers it announces");
                } else {
                    if (listed++ == 0) first = n;
                }
            }
        }
        per_point_ = static_cast<std::uint64_t>(count);
        if (count > 1) {
            g.warnings.push_back("The cube file holds " + std::to_string(count) +
                                 " orbitals per point; only the first (orbital " + std::to_string(first) +
                                 ") is read");
        }
    }

    // The optional fifth number of line 3: the values stored for each point.
    void values_per_point(long long n, bool orbitals, Geometry& g) {
        if (n < 1 || n > kIntMax)
            fail("The cube file gives " + std::to_string(n) + " values per point (line 3)");
        if (n == 1) return;
        if (orbitals) {
            fail("The cube file gives both orbitals and " + std::to_string(n) +
                 " values per point: how its values are laid out is unclear");
        }
        per_point_ = static_cast<std::uint64_t>(n);
        g.warnings.push_back("The cube file holds " + std::to_string(n) +
                             " values per point; only the first is read");
    }

    void next_value(textwords::Numbers& numbers, double& v, std::uint64_t n, std::uint64_t total) {
        switch (numbers.next(v)) {
            case textwords::Numbers::Got::number:
                return;
            case textwords::Numbers::Got::end:
                fail("The cube file ends after " + std::to_string(n) + " of " + std::to_string(total) +
                     " values" + per_point_text());
            case textwords::Numbers::Got::other:
                fail("Value " + std::to_string(n + 1) + " of " + std::to_string(total) +
                     " in the cube file (line " + std::to_string(numbers.line()) +
                     ") is not a number: " + quoted(numbers.word()));
        }
    }

    std::string per_point_text() const {
        return per_point_ > 1 ? " (" + std::to_string(per_point_) + " per point)" : std::string();
    }

    io::BlockReader& in_;
    long line_ = 0;                // lines read so far
    std::uint64_t per_point_ = 1;  // values stored for each point, of which the first is kept
};

// Named .cube or .cub, two comment lines, then lines 3 to 6 start as the reader reads them: a whole
// number and a vector. Line 3 must hold nothing else but, optionally, the values per point: that keeps
// out files of voxmol's own format, whose lines hold one number, or 17 on the header line.
bool detect_cube(std::string_view prefix, std::string_view name) {
    if (!name.ends_with(".cube") && !name.ends_with(".cub")) return false;
    auto next_line = [&prefix] {
        const std::size_t nl = prefix.find('\n');
        const std::string_view line = prefix.substr(0, nl);
        prefix = nl == std::string_view::npos ? std::string_view() : prefix.substr(nl + 1);
        return line;
    };
    next_line();  // two comment lines
    next_line();
    CountLine ignored;
    for (int line = 3; line <= 6; ++line) {
        if (prefix.empty() ||
            !parse_count_line(next_line(), line == 3 ? After::extra : After::anything, ignored))
            return false;
    }
    return true;
}

std::unique_ptr<Reader> open_cube(io::BlockReader& in, int) {
    return std::make_unique<CubeReader>(in);
}

}  // namespace

extern const Format cube_format = {
    "Gaussian cube",
    "quantum chemistry densities and orbitals: .cube, .cub",
    detect_cube,
    open_cube,
};

}  // namespace gridfmt
