// AutoDock maps, as AutoGrid writes them: a header of keyword lines (GRID_PARAMETER_FILE,
// GRID_DATA_FILE, MACROMOLECULE, SPACING s, NELEMENTS nx ny nz, CENTER cx cy cz), then one value per
// line, x fastest and z slowest. NELEMENTS counts the intervals along each axis, so the grid has one
// point more than that along each; CENTER is the middle of the grid and its steps are s along x, y, z.
// The values are read as numbers separated by white space, however they are spread over the lines.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/fatal.h"
#include "dx/formats/format.h"
#include "dx/formats/walk_order.h"
#include "dx/io/bytes.h"
#include "dx/io/words.h"

namespace gridfmt {

namespace {

constexpr long long kMaxElements = 2147483646;  // one point more must still fit an int

using textwords::quoted;

// A header line starts with a keyword: capital letters, digits and "_", a capital letter first.
bool is_keyword(std::string_view word) {
    if (word.empty() || word[0] < 'A' || word[0] > 'Z') return false;
    for (char c : word) {
        if (!((c >= 'A' && c <= 'Z') || cscan::is_digit(c) || c == '_')) return false;
    }
    return true;
}

// A value parsed from the text, held as this machine's double while it is moved into walk order.
double native_double(const char* p) {
    return io::load<double, false>(p);
}

// The numbers after a keyword, exactly `count` of them, or nothing when the line holds another count
// or a word that is not a number.
std::optional<std::vector<double>> numbers_after(const std::vector<std::string_view>& words,
                                                 std::size_t count) {
    if (words.size() != count + 1) return std::nullopt;
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!textwords::real(words[i + 1], out[i])) return std::nullopt;
    }
    return out;
}

class AutoDockReader final : public Reader {
  public:
    explicit AutoDockReader(io::BlockReader& in) : in_(in) {}

    Geometry read_header() override {
        std::string_view line;
        const bool started = in_.next(line) && textwords::next_word(line) == "GRID_PARAMETER_FILE";
        if (!started) fail("The AutoDock map does not start with a GRID_PARAMETER_FILE line");
        line_ = 1;
        while (in_.next(line)) {
            ++line_;
            const std::vector<std::string_view> words = textwords::words(line);
            if (words.empty()) continue;
            double v = 0.0;
            if (textwords::real(words[0], v)) {
                first_values_.assign(line);  // the header ends at the first value, line line_
                break;
            }
            keyword_line(words, line);
        }
        return geometry();
    }

    long read_values(std::span<double> values, ValueProgress*) override {
        // Every value read is stored by its position: a span of another size is refused, not overrun.
        if (product3(nx_, ny_, nz_) != values.size())
            fail("The AutoDock map's values do not fit the grid they are read into");
        textwords::Numbers numbers(in_, std::move(first_values_), line_);
        const std::string total = std::to_string(values.size());
        std::size_t n = 0;  // values read so far
        // The file lists x fastest and z slowest; they are moved into walk order a slab of planes at a time.
        move_to_walk_order<sizeof(double), native_double>(
            values, x_fastest(nx_, ny_, nz_), [&](char* dst, std::size_t count) {
                for (std::size_t c = 0; c < count; ++c) {
                    const double v = next_value(numbers, n++, total);
                    std::memcpy(dst + c * sizeof(double), &v, sizeof v);
                }
            });
        double v = 0.0;
        const textwords::Numbers::Got after = numbers.next(v);
        if (after != textwords::Numbers::Got::end) {
            const std::string word =
                after == textwords::Numbers::Got::number ? "a value" : quoted(numbers.word());
            fail("The AutoDock map holds more than the " + total + " values its NELEMENTS give: line " +
                 std::to_string(numbers.line()) + " holds " + word);
        }
        return static_cast<long>(values.size());
    }

  private:
    // The value numbered n (from 0) of `total`; the end of the file or a word that is no number is fatal.
    static double next_value(textwords::Numbers& numbers, std::size_t n, const std::string& total) {
        double v = 0.0;
        switch (numbers.next(v)) {
            case textwords::Numbers::Got::number:
                break;
            case textwords::Numbers::Got::end:
                fail("The AutoDock map ends after " + std::to_string(n) + " of " + total + " values");
            case textwords::Numbers::Got::other:
                fail("Value " + std::to_string(n + 1) + " of " + total + " in the AutoDock map (line " +
                     std::to_string(numbers.line()) + ") is not a number: " + quoted(numbers.word()));
        }
        return v;
    }

    // SPACING, NELEMENTS and CENTER are read; the other keywords (the file names AutoGrid records) tell
    // nothing about the grid and are passed over.
    void keyword_line(const std::vector<std::string_view>& words, std::string_view line) {
        const std::string_view key = words[0];
        if (!is_keyword(key)) {
            fail("Line " + std::to_string(line_) +
                 " of the AutoDock map is neither a header line nor a value: " + quoted(line));
        }
        if (key == "SPACING") {
            once(spacing_line_, "SPACING");
            const auto s = numbers_after(words, 1);
            if (!s) fail("The AutoDock map's SPACING line should hold one number: " + quoted(line));
            spacing_ = (*s)[0];
            if (!(spacing_ > 0.0) || !std::isfinite(spacing_))
                fail("The AutoDock map's SPACING must be positive and finite: " + quoted(line));
        } else if (key == "NELEMENTS") {
            once(elements_line_, "NELEMENTS");
            bool ok = words.size() == 4;
            for (int d = 0; ok && d < 3; ++d)
                ok = textwords::whole(words[d + 1], elements_[d]);
            if (!ok)
                fail("The AutoDock map's NELEMENTS line should hold three whole numbers: " + quoted(line));
            for (long long n : elements_) {
                if (n < 1) fail("The AutoDock map's NELEMENTS must be positive: " + quoted(line));
                if (n > kMaxElements)
                    fail("The AutoDock map's NELEMENTS are beyond the int range: " + quoted(line));
            }
        } else if (key == "CENTER") {
            once(center_line_, "CENTER");
            const auto c = numbers_after(words, 3);
            if (!c) fail("The AutoDock map's CENTER line should hold three numbers: " + quoted(line));
            for (int d = 0; d < 3; ++d)
                center_[d] = (*c)[d];
            if (!std::isfinite(center_[0]) || !std::isfinite(center_[1]) || !std::isfinite(center_[2]))
                fail("The AutoDock map's CENTER must be finite: " + quoted(line));
        }
    }

    // A keyword given twice could mean either line: refused rather than one of them picked.
    void once(long& seen_at, const char* key) {
        if (seen_at != 0) {
            fail("The AutoDock map's header gives " + std::string(key) + " twice (lines " +
                 std::to_string(seen_at) + " and " + std::to_string(line_) + ")");
        }
        seen_at = line_;
    }

    // The grid's place: CENTER is its middle, so the first point lies half the intervals back from it.
    Geometry geometry() {
        for (const auto& [seen, key] :
             {std::pair{spacing_line_, "SPACING"}, std::pair{elements_line_, "NELEMENTS"},
              std::pair{center_line_, "CENTER"}}) {
            if (seen == 0) fail("The AutoDock map's header has no " + std::string(key) + " line");
        }
        Geometry g;
        for (int d = 0; d < 3; ++d) {
            // The grid's extent and both its ends must be numbers, as the run places the points.
            const double extent = static_cast<double>(elements_[d]) * spacing_;
            g.origin[d] = center_[d] - extent / 2.0;
            if (!std::isfinite(extent) || !std::isfinite(g.origin[d]) || !std::isfinite(g.origin[d] + extent))
                fail("The AutoDock map's SPACING and NELEMENTS give a grid beyond the range of numbers");
            g.axes[d][d] = spacing_;
        }
        g.nx = nx_ = static_cast<int>(elements_[0] + 1);
        g.ny = ny_ = static_cast<int>(elements_[1] + 1);
        g.nz = nz_ = static_cast<int>(elements_[2] + 1);
        g.description = "AutoDock map";
        if (elements_[0] % 2 != 0 || elements_[1] % 2 != 0 || elements_[2] % 2 != 0) {
            // AutoGrid writes even counts only, which put CENTER on a point.
            g.warnings.push_back(
                "The AutoDock map's NELEMENTS " + std::to_string(elements_[0]) + " " +
                std::to_string(elements_[1]) + " " + std::to_string(elements_[2]) +
                " are not all even: the grid is centred on CENTER, which lies between points");
        }
        return g;
    }

    io::BlockReader& in_;
    long line_ = 0;             // lines read so far
    std::string first_values_;  // the line that ended the header: the first value
    long spacing_line_ = 0, elements_line_ = 0, center_line_ = 0;  // where each keyword was, 0 for nowhere
    double spacing_ = 0.0;
    long long elements_[3] = {0, 0, 0};
    double center_[3] = {0.0, 0.0, 0.0};
    int nx_ = 0, ny_ = 0, nz_ = 0;
};

// The first line starts with the keyword AutoGrid writes first.
bool detect_autodock(std::string_view prefix, std::string_view) {
    std::string_view first = prefix.substr(0, prefix.find('\n'));
    return textwords::next_word(first) == "GRID_PARAMETER_FILE";
}

std::unique_ptr<Reader> open_autodock(io::BlockReader& in, int) {
    return std::make_unique<AutoDockReader>(in);
}

}  // namespace

extern const Format autodock_format = {
    "AutoDock map",
    "docking affinity maps written by AutoGrid: .map",
    detect_autodock,
    open_autodock,
};

}  // namespace gridfmt
