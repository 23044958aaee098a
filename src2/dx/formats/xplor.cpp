// XPLOR/CNS density maps (text), as X-PLOR, CNS, cpptraj, Modeller, cctbx and VMD write them:
//
//   (an empty line)
//          2 !NTITLE                                  the count of title lines, then the lines
//    REMARKS ...
//        NA    AMIN    AMAX      NB    BMIN    BMAX      NC    CMIN    CMAX          (9I8)
//    a b c alpha beta gamma                                                        (6E12.5)
//   ZYX
//          0                                          the section's index along c   (I8)
//    values, six to a line (6E12.5), x fastest, then y: (AMAX-AMIN+1)*(BMAX-BMIN+1) per section
//    ... one section per index from CMIN to CMAX ...
//     -9999
//    average, standard deviation
//
// NA, NB, NC are the cell's sampling; the map covers indices AMIN..AMAX, BMIN..BMAX, CMIN..CMAX, and lies
// in the cell as CCP4/MRC maps do (cell.h). Numbers in the fixed fields may touch ("-0.12345E+01-0.2...",
// "     -10     -20"): they are read as fields where the blanks do not separate them.
#include <cmath>
#include <memory>
#include <string>

#include "dx/formats/cell.h"
#include "dx/formats/format.h"
#include "dx/formats/text_grid.h"

namespace gridfmt {

namespace {

using textwords::quoted;

constexpr const char* kName = "XPLOR/CNS";

// The nine integers of the extent line: blank-separated, or in 8-column fields when they touch.
bool extent_line(std::string_view line, long long (&out)[9]) {
    const std::vector<std::string_view> w = textwords::words(line);
    if (w.size() == 9) {
        for (int f = 0; f < 9; ++f)
            if (!textwords::whole(w[f], out[f])) return false;
        return true;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.size() != 72) return false;
    for (int f = 0; f < 9; ++f) {
        std::string_view field = line.substr(8 * static_cast<std::size_t>(f), 8);
        std::string_view word = textwords::next_word(field);
        if (!textwords::next_word(field).empty() || !textwords::whole(word, out[f])) return false;
    }
    return true;
}

bool is_title_count(std::string_view line, long long& count, bool& stamped) {
    std::string_view rest = line;
    if (!textwords::whole(textwords::next_word(rest), count) || count < 0) return false;
    const std::string_view tag = textwords::next_word(rest);
    stamped = tag.starts_with("!NTITLE") || tag.starts_with("!ntitle");
    return stamped || tag.empty();
}

// The header's lines, from any source of lines: the shape every reader and the detector check.
struct XplorHeader {
    long long extent[9] = {};
    double cell[6] = {};
    std::string order;
    long lines = 0;  // lines read, through the axis order
};

// Reads the header through `next_line`; returns an empty message when it has the format's shape, else
// what is wrong with it.
template <typename NextLine>
std::string parse_header(NextLine&& next_line, XplorHeader& h) {
    std::string_view line;
    do {
        if (!next_line(line)) return "it ends before its title count (\"N !NTITLE\")";
        ++h.lines;
    } while (blank(line));
    long long titles = 0;
    bool stamped = false;
    if (!is_title_count(line, titles, stamped))
        return "line " + std::to_string(h.lines) +
               " should give the title count (\"N !NTITLE\"): " + quoted(line);
    for (long long t = 0; t < titles; ++t) {
        if (!next_line(line)) return "it ends inside its " + std::to_string(titles) + " title lines";
        ++h.lines;
    }
    if (!next_line(line) || !extent_line(line, h.extent))
        return "line " + std::to_string(++h.lines) +
               " should give the nine integers NA AMIN AMAX NB BMIN BMAX NC CMIN CMAX";
    ++h.lines;
    std::size_t count = 0;
    if (!next_line(line) || !line_numbers(line, h.cell, count) || count != 6)
        return "line " + std::to_string(++h.lines) + " should give the cell: a b c alpha beta gamma";
    ++h.lines;
    if (!next_line(line)) return "it ends before its axis order (\"ZYX\")";
    ++h.lines;
    std::string_view rest = line;
    h.order.assign(textwords::next_word(rest));
    return std::string();
}

class XplorReader final : public Reader {
  public:
    explicit XplorReader(io::BlockReader& in) : in_(in), lines_(in, 0) {}

    Geometry read_header() override {
        const std::string wrong = parse_header(
            [&](std::string_view& line) {
                if (!in_.next(line)) return false;
                held_.assign(line);
                line = held_;
                return true;
            },
            h_);
        if (!wrong.empty()) fail("The XPLOR/CNS map's header is not the format's: " + wrong);
        if (h_.order != "ZYX") {
            fail("The XPLOR/CNS map lists its values in the order " + quoted(h_.order) +
                 ": voxmol reads the \"ZYX\" order (sections along c, x fastest) every writer uses");
        }
        lines_ = ValueLines(in_, h_.lines, 12);  // 6E12.5
        CellGrid cell;
        Geometry g;
        long long n[3];
        for (int d = 0; d < 3; ++d) {
            const long long sampling = h_.extent[3 * d], first = h_.extent[3 * d + 1],
                            last = h_.extent[3 * d + 2];
            n[d] = last - first + 1;
            if (n[d] < 1 || n[d] > 2147483647) {
                fail(formatted(
                    "The XPLOR/CNS map's indices along %c run from %lld to %lld: the last must not lie "
                    "below the first",
                    "abc"[d], first, last));
            }
            if (sampling < 1 || sampling > 2147483647)
                fail(formatted("The XPLOR/CNS map's sampling along %c is %lld; it must be positive", "abc"[d],
                               sampling));
            cell.sampling[d] = static_cast<long>(sampling);
            cell.start[d] = static_cast<long>(first);
            cell.lengths[d] = h_.cell[d];
            cell.angles[d] = h_.cell[3 + d];
        }
        g.nx = static_cast<int>(n[0]);
        g.ny = static_cast<int>(n[1]);
        g.nz = static_cast<int>(n[2]);
        place_in_cell(cell, kName, g);
        check_reach(g, "XPLOR/CNS map's");
        g.description = "XPLOR/CNS, text";
        return g;
    }

    long read_values(std::span<double> values, ValueProgress*) override;

  private:
    [[noreturn]] void too_many(std::size_t total) const {
        fail(formatted("The XPLOR/CNS map holds more than the %zu values its header gives: line %ld holds %s",
                       total, lines_.line_number(), quoted(lines_.line()).c_str()));
    }
    void section_header(long long s, long long sections, std::uint64_t per_section);
    double next_value_slow(std::uint64_t n, std::size_t total);
    void read_trailer(std::size_t total);

    io::BlockReader& in_;
    ValueLines lines_;
    XplorHeader h_;
    std::string held_;
};

// The line before section s (from 0): its index along c, one whole number. Writers number sections from
// CMIN or from 0; the number itself is not used, the count of sections is.
void XplorReader::section_header(long long s, long long sections, std::uint64_t per_section) {
    double v = 0.0;
    if (s > 0 && lines_.next_on_line(v) != ValueLines::Got::end_of_line) {
        fail(formatted("The XPLOR/CNS map's section %lld holds more than its %llu values (line %ld)", s,
                       static_cast<unsigned long long>(per_section), lines_.line_number()));
    }
    do {
        if (!lines_.next_line())
            fail(formatted("The XPLOR/CNS map ends after %lld of its %lld sections", s, sections));
    } while (blank(lines_.line()));
    std::string_view rest = lines_.line();
    long long index = 0;
    if (!textwords::whole(textwords::next_word(rest), index) || !textwords::next_word(rest).empty()) {
        fail(formatted("Line %ld of the XPLOR/CNS map should give the index of section %lld of %lld: %s",
                       lines_.line_number(), s + 1, sections, quoted(lines_.line()).c_str()));
    }
    lines_.skip_line_rest();
}

double XplorReader::next_value_slow(std::uint64_t n, std::size_t total) {
    double v = 0.0;
    for (;;) {
        const ValueLines::Got got = lines_.next_on_line(v);
        if (got == ValueLines::Got::number) return v;
        if (got == ValueLines::Got::other) {
            fail(formatted("Value %llu of %zu in the XPLOR/CNS map (line %ld) is not a number: %s",
                           static_cast<unsigned long long>(n + 1), total, lines_.line_number(),
                           lines_.word().c_str()));
        }
        if (!lines_.next_line())
            fail(formatted("The XPLOR/CNS map ends after %llu of %zu values",
                           static_cast<unsigned long long>(n), total));
    }
}

// After the last section: "-9999", then the average and standard deviation, each optional; nothing else.
void XplorReader::read_trailer(std::size_t total) {
    double v = 0.0;
    if (lines_.next_on_line(v) != ValueLines::Got::end_of_line) too_many(total);
    int stage = 0;  // 0: before -9999, 1: before the statistics, 2: done
    while (lines_.next_line()) {
        const std::string_view line = lines_.line();
        if (blank(line)) continue;
        double numbers[2];
        std::size_t count = 0;
        const bool ok = line_numbers(line, numbers, count);
        if (stage == 0 && ok && count == 1 && numbers[0] == -9999.0) {
            stage = 1;
        } else if (stage == 1 && ok && count == 2) {
            stage = 2;
        } else {
            too_many(total);
        }
    }
}

long XplorReader::read_values(std::span<double> values, ValueProgress*) {
    const int nx = static_cast<int>(h_.extent[2] - h_.extent[1] + 1),
              ny = static_cast<int>(h_.extent[5] - h_.extent[4] + 1),
              nz = static_cast<int>(h_.extent[8] - h_.extent[7] + 1);
    const std::uint64_t per_section = static_cast<std::uint64_t>(nx) * static_cast<std::uint64_t>(ny);
    if (values.size() != per_section * static_cast<std::uint64_t>(nz))
        fail("The grid's values do not match the XPLOR/CNS header");
    read_x_fastest(
        values, nx, ny, nz, lines_, per_section,
        [&](std::uint64_t s) { section_header(static_cast<long long>(s), nz, per_section); },
        [&](std::uint64_t n) { return next_value_slow(n, values.size()); });
    read_trailer(values.size());
    return static_cast<long>(values.size());
}

// "N !NTITLE" on the first line that is not empty; or, without the stamp, the header's whole shape through
// "ZYX". Either way, no line after it in the first bytes may hold a header of voxmol's own format.
bool detect_xplor(std::string_view prefix, std::string_view) {
    PrefixLines lines(prefix);
    std::string_view line;
    do {
        if (!lines.next(line)) return false;
    } while (blank(line));
    long long titles = 0;
    bool stamped = false;
    if (!is_title_count(line, titles, stamped)) return false;
    PrefixLines again(prefix);
    XplorHeader h;
    const bool shaped = parse_header([&](std::string_view& l) { return again.next(l); }, h).empty();
    if (!stamped && !(shaped && h.order == "ZYX")) return false;
    return !holds_native_header_line(shaped ? again.rest() : lines.rest());
}

std::unique_ptr<Reader> open_xplor(io::BlockReader& in, int) {
    return std::make_unique<XplorReader>(in);
}

}  // namespace

extern const Format xplor_format = {
    kName,
    "density maps of X-PLOR, CNS, cpptraj, Modeller: .xplor, .cns, text",
    detect_xplor,
    open_xplor,
};

}  // namespace gridfmt
